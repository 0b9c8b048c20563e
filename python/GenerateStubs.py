"""Writes the package's type stubs (quil/__init__.pyi): the hand-written template with every
record class generated from the built module, so a field added to a record in C++ reaches the
stubs without an edit here.

A record's class lists its fields (_fields, typed by _field_types) and a keyword-only
constructor; a class of the same name in the template adds the record's other members. The
records take the place of the template's "# @records" line, in the module's order.

Usage: GenerateStubs.py TEMPLATE OUTPUT (with the built package importable)
"""
import ast
import importlib
import os
import sys


def argument_type(field_type, records):
    """What the constructor takes for a field: any sequence for a list, anything array-like for
    samples, and a dict wherever a record is expected."""
    if field_type.startswith("NDArray["):
        return "ArrayLike"
    if field_type.startswith("list["):
        element = field_type[len("list[") : -1]
        return f"Sequence[{argument_type(element, records)}]"
    if field_type in records:
        return f"{field_type} | dict[str, Any]"
    return field_type


def record_class(name, record, records, additions):
    fields = list(zip(record._fields, record._field_types))
    arguments = ", ".join(f"{f}: {argument_type(t, records)} = ..." for f, t in fields)
    lines = [f"class {name}(_Record):"]
    lines += [f"    {f}: {t}" for f, t in fields]
    lines.append(f"    def __init__(self, *, {arguments}) -> None: ...")
    lines += additions.get(name, [])
    return lines + [""]


def main(template_path, output_path):
    # The built package, not the sources beside this script.
    here = os.path.dirname(os.path.abspath(__file__))
    sys.path = [p for p in sys.path if os.path.abspath(p or ".") != here]
    quil = importlib.import_module("quil")
    with open(template_path, encoding="utf-8") as template:
        text = template.read()
    lines = text.split("\n")
    records = {n: c for n, c in vars(quil._quil).items() if hasattr(c, "_field_types")}

    # The template's record classes: their bodies are added to the generated classes.
    additions, taken = {}, set()
    for node in ast.parse(text).body:
        if isinstance(node, ast.ClassDef) and node.name in records:
            additions[node.name] = lines[node.lineno : node.end_lineno]
            end = node.end_lineno
            while end < len(lines) and not lines[end].strip():
                end += 1
            taken.update(range(node.lineno - 1, end))

    output = []
    for number, line in enumerate(lines):
        if number in taken:
            continue
        if line == "# @records":
            for name, record in records.items():
                output += record_class(name, record, records, additions)
            continue
        output.append(line)
    os.makedirs(os.path.dirname(output_path), exist_ok=True)
    with open(output_path, "w", encoding="utf-8") as stubs:
        stubs.write("\n".join(output))


if __name__ == "__main__":
    main(sys.argv[1], sys.argv[2])
