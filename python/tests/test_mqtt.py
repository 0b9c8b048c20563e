"""The profiles lane's decoder reads what the gateway's C++ encoder writes (a small program of
the gateway's tests, named by QUIL_GATEWAY_BATCH_WRITER, writes one message)."""

import importlib.util
import os
import pathlib
import subprocess

import numpy as np
import pytest

try:
    from quil.mqtt import decode_profiles
except ImportError:
    # Run from the gateway's tests, without the extension module: the file alone needs numpy.
    _path = pathlib.Path(__file__).parents[1] / "quil" / "mqtt.py"
    _spec = importlib.util.spec_from_file_location("quil_mqtt", _path)
    _module = importlib.util.module_from_spec(_spec)
    _spec.loader.exec_module(_module)
    decode_profiles = _module.decode_profiles

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


@pytest.mark.parametrize("payload", [b"", b"XPRF\x01\x00\x00\x00", b"QPRF\x02\x00\x00\x00"])
def test_refuses_what_is_not_a_batch(payload):
    with pytest.raises(ValueError):
        decode_profiles(payload)
