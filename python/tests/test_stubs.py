"""The type stubs describe what the module has: every record's fields in order, and every
method with a docstring."""

import ast
import pathlib

import pytest

import quil

STUB = ast.parse((pathlib.Path(quil.__file__).parent / "__init__.pyi").read_text())
CLASSES = {node.name: node for node in STUB.body if isinstance(node, ast.ClassDef)}


def annotated(cls: ast.ClassDef):
    return tuple(n.target.id for n in cls.body if isinstance(n, ast.AnnAssign))


def methods(cls: ast.ClassDef):
    return {n.name: n for n in cls.body if isinstance(n, ast.FunctionDef)}


@pytest.mark.parametrize("name", [n for n, c in vars(quil).items() if hasattr(c, "_fields")])
def test_record_stub_lists_the_fields_in_order(name):
    assert annotated(CLASSES[name]) == getattr(quil, name)._fields


@pytest.mark.parametrize("name", ["Client", "Stream", "StreamSession", "Replay", "RecordingReader"])
def test_every_method_is_stubbed_with_a_docstring(name):
    stubbed = methods(CLASSES[name])
    for base in CLASSES[name].bases:
        if isinstance(base, ast.Name) and base.id in CLASSES:
            stubbed.update(methods(CLASSES[base.id]))
    public = {n for n in dir(getattr(quil, name)) if not n.startswith("_")}
    public -= {n for n in public if not callable(getattr(getattr(quil, name), n))}
    assert public - set(stubbed) == set()
    undocumented = [n for n in public if ast.get_docstring(stubbed[n]) is None]
    assert undocumented == []
