"""The profiles lane's decoder reads what the gateway's C++ encoder writes (a small program of
the gateway's tests, named by QUIL_GATEWAY_BATCH_WRITER, writes one message)."""

import importlib.util
import os
import pathlib
import struct
import subprocess
import tracemalloc

import numpy as np
import pytest

try:
    from quil.mqtt import MAX_BODY_BYTES, decode_profiles
except ImportError:
    # Run from the gateway's tests, without the extension module: the file alone needs numpy.
    _path = pathlib.Path(__file__).parents[1] / "quil" / "mqtt.py"
    _spec = importlib.util.spec_from_file_location("quil_mqtt", _path)
    _module = importlib.util.module_from_spec(_spec)
    _spec.loader.exec_module(_module)
    decode_profiles = _module.decode_profiles
    MAX_BODY_BYTES = _module.MAX_BODY_BYTES

WRITER = os.environ.get("QUIL_GATEWAY_BATCH_WRITER")


@pytest.mark.skipif(not WRITER, reason="needs the gateway's batch writer")
@pytest.mark.parametrize("compression", ["none", "zstd"])
def test_decodes_a_batch_of_the_gateway(compression):
    payload = subprocess.run([WRITER, compression], check=True, capture_output=True,
                             timeout=30).stdout
    assert payload[5] == (1 if compression == "zstd" else 0)
    batch = decode_profiles(payload)
    assert batch["sensor"] == "left"
    assert batch["decimation"] == 2
    np.testing.assert_array_equal(batch["scale"], [0.01, 0.02, 1.0])
    np.testing.assert_array_equal(batch["offset"], [-5.0, 0.0, 0.0])
    np.testing.assert_array_equal(batch["block_id"], [7, 8, 9])
    np.testing.assert_array_equal(batch["sensor_time_us"], [1000000, 1000001, 1000002])
    np.testing.assert_array_equal(batch["arrival_time_us"],
                                  [1700000000000000, 1700000000000001, 1700000000000002])
    np.testing.assert_array_equal(batch["field6"], [100, 101, 102])
    np.testing.assert_array_equal(batch["field18"], [200, 201, 202])
    np.testing.assert_array_equal(batch["quality"], [0, 1, 2])
    np.testing.assert_array_equal(batch["flags"], [0b1000, 0b1001, 0b1000])
    np.testing.assert_array_equal(batch["point_count"], [3, 3, 2])
    np.testing.assert_array_equal(batch["channel0"],
                                  [[1000, 1001, 1002], [0, 2001, 2002], [3000, 3001, 0]])
    np.testing.assert_array_equal(batch["channel1"], [[0, 0, 0], [11, 12, 13], [0, 0, 0]])
    np.testing.assert_array_equal(batch["channel2"], [[0, 0, 0], [0, 0, 0], [21, 22, 0]])
    nan = np.nan
    np.testing.assert_allclose(batch["z"], [[5.0, 5.01, 5.02], [nan, 15.01, 15.02],
                                            [25.0, 25.01, nan]])
    np.testing.assert_allclose(batch["x"], [[nan, nan, nan], [0.22, 0.24, 0.26], [nan] * 3])
    np.testing.assert_allclose(batch["brightness"], [[nan] * 3, [nan] * 3, [21, 22, nan]])


def _batch(body, count, compressed=False, name=b"s"):
    """A message of `count` profiles with `body` after its header."""
    return (b"QPRF" + struct.pack("<BBH", 1, 1 if compressed else 0, len(name)) + name
            + struct.pack("<II6d", count, 1, 1, 0, 1, 0, 1, 0) + body)


def _profile(points, declared=None):
    """A profile of `points` channel 0 words that says it has `declared`."""
    return (struct.pack("<IQQIHBBI", 1, 0, 0, 0, 0, 0, 0,
                        points if declared is None else declared) + bytes(2 * points))


def _zstd_frame(blocks, content_size):
    """A zstd frame that declares `content_size` and holds `blocks`, each a raw block (bytes) or
    an RLE block (a count of zero bytes)."""
    # Magic, a header with an 8-byte content size and a window of 1 MiB (2 ** (10 + 10)).
    frame = b"\x28\xb5\x2f\xfd\xc0" + bytes([10 << 3]) + struct.pack("<Q", content_size)
    for index, block in enumerate(blocks):
        last = 1 if index == len(blocks) - 1 else 0
        if isinstance(block, int):
            frame += struct.pack("<I", block << 3 | 1 << 1 | last)[:3] + b"\x00"
        else:
            frame += struct.pack("<I", len(block) << 3 | last)[:3] + block
    return frame


_EMPTY_FRAME = _zstd_frame([b""], 0)


_MALFORMED = [
    (b"", "not a profile batch"),
    (b"XPRF\x01\x00\x00\x00", "not a profile batch"),
    (b"QPRF\x02\x00\x00\x00", "version 2 is not known"),
    (b"QPRF\x01\x00\x05\x00ab", "ends within its header"),
    (_batch(b"", 0)[:-1], "ends within its header"),
    (_batch(b"", 0, name=b"\xff"), "sensor name is not UTF-8"),
    (_batch(b"", 3), "declares 3 profiles and holds fewer"),
    (_batch(_profile(2) * 2 + bytes(24), 3), "ends within profile 2"),
    (_batch(_profile(2, declared=1000) + bytes(64), 1), "profile 0 of the batch declares 1000"),
    (_batch(_profile(2) + b"\x00", 1), "wrong length"),
    (_batch(b"not zstd", 0, compressed=True), "zstd frame is damaged"),
    (_batch(_zstd_frame([b"x" * 10], 2**40), 0, compressed=True), "zstd frame is damaged"),
    (_batch(_zstd_frame([b"x" * 10], 10)[:-3], 0, compressed=True), "cut short"),
    (_batch(_EMPTY_FRAME + b"x", 0, compressed=True), "bytes after its zstd frame"),
]


@pytest.mark.parametrize("payload, problem", _MALFORMED, ids=[p for _, p in _MALFORMED])
def test_refuses_a_malformed_batch_saying_why(payload, problem):
    with pytest.raises(ValueError, match=problem):
        decode_profiles(payload)


def test_an_empty_compressed_batch_decodes():
    assert decode_profiles(_batch(_EMPTY_FRAME, 0, compressed=True))["block_id"].size == 0


def test_what_a_batch_declares_cannot_make_it_allocate_more_than_its_bound():
    # 4 times the bound in zero bytes, in 32 kB of RLE blocks, its size declared.
    block = 128 * 1024
    blocks = 4 * MAX_BODY_BYTES // block
    bomb = _batch(_zstd_frame([block] * blocks, block * blocks), 0, compressed=True)
    # Profiles too uneven for arrays of equal rows: a long one among many empty ones.
    uneven = _batch(_profile(0) * 100 + _profile(1000), 101)
    tracemalloc.start()
    try:
        with pytest.raises(ValueError, match=f"take more than {MAX_BODY_BYTES} bytes"):
            decode_profiles(bomb)
        with pytest.raises(ValueError, match="take more than 10000 bytes as arrays"):
            decode_profiles(uneven, max_body_bytes=10000)
        peak = tracemalloc.get_traced_memory()[1]
    finally:
        tracemalloc.stop()
    assert peak < 2 * MAX_BODY_BYTES
