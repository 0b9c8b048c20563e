"""The stream from Python: iteration, numpy data, waits, Ctrl-C, recordings, and a capture
compared with the command-line tool's reading of it."""

import json
import os
import pathlib
import signal
import subprocess
import sys
import threading
import time

import numpy as np
import pytest

import quil
from conftest import next_address, next_port

COUNTERS = ["datagramsReceived", "bytesReceived", "datagramsTooShort", "datagramsUnknownKind",
            "datagramsTooLong", "measurementBlocks", "profileBlocks1", "profileBlocks2",
            "profileBlocks3", "blocksUnknownDataId", "blocksEmpty", "blocksLost",
            "blocksDuplicated", "blocksOutOfOrder", "fragmentedBlocksTimedOut", "decodeFailures",
            "errorsDropped", "measurementsDropped", "profilesDropped", "kernelDrops",
            "receiveBufferRequested", "receiveBufferGranted", "datagramsOtherSender",
            "blockIdRestarts"]


def tool() -> str:
    found = os.environ.get("QUIL_TOOL") or str(
        pathlib.Path(__file__).parents[2] / "build" / "tools" / "quil")
    if not os.access(found, os.X_OK):
        pytest.skip("the command-line tool is not built")
    return found


@pytest.fixture
def operator(client):
    client.login("operator", "operator")
    return client


def test_session_aims_the_output_and_puts_it_back(operator):
    before = operator.get_process_interfaces(), operator.get_udp_stream_data()
    with operator.stream(data_ids=[3]) as stream:
        assert operator.get_process_interfaces().udpDestinationPort == operator.get_stream_port()
        profiles = list(stream.profiles(timeout=2.0, count=50))
        statistics = stream.statistics()
    assert (operator.get_process_interfaces(), operator.get_udp_stream_data()) == before
    assert len(profiles) == 50
    first = profiles[0]
    assert isinstance(first, quil.StreamProfile) and first.hasChannel1 and first.hasChannel2
    for channel in (first.channel0, first.channel1, first.channel2):
        assert channel.dtype == np.uint16 and channel.shape == (first.pointCount,)
    assert list(statistics) == COUNTERS
    assert statistics["profileBlocks3"] >= 50
    heights = quil.stack(profiles)
    assert heights.dtype == np.uint16 and heights.shape == (50, first.pointCount)
    assert np.array_equal(heights[7], profiles[7].channel0)
    assert np.array_equal(quil.stack(profiles, channel=2, width=10)[3], profiles[3].channel2[:10])


def test_profiles_in_millimetres_follow_the_documented_encoding(operator):
    with operator.stream(data_ids=[3]) as stream:
        coordinates = stream.coordinates()
        raw = list(stream.profiles(timeout=2.0, count=20))
        points = list(stream.profiles(timeout=2.0, count=20, millimetres=True))
    # The virtual sensor: hundredths of a millimetre, x from 32768, z 0 where there is no point.
    for profile in raw:
        converted = coordinates.convert(profile)
        z = np.where(profile.channel0 == 0, np.nan, profile.channel0 / 100.0)
        assert np.allclose(converted.z, z, equal_nan=True)
        assert np.allclose(converted.x, (profile.channel1.astype(float) - 32768) / 100.0)
        brightness = np.where(profile.channel0 == 0, np.nan, profile.channel2)
        assert np.allclose(converted.brightness, brightness, equal_nan=True)
        assert (converted.block_id, converted.acquisition_index, converted.encoder_count) == (
            profile.blockId, profile.acquisition_index, profile.encoder_count)
        assert converted.blockId == converted.block_id  # the first releases' spelling
    assert all(isinstance(p, quil.ProfilePoints) and len(p) == raw[0].pointCount for p in points)
    heights = quil.stack(points)
    assert heights.dtype == np.float64 and heights.shape == (20, raw[0].pointCount)
    assert np.array_equal(heights[4], points[4].z, equal_nan=True)
    wide = quil.stack(points, channel=1, width=raw[0].pointCount + 2)
    assert np.isnan(wide[:, -2:]).all() and np.array_equal(wide[0, :-2], points[0].x)
    assert (coordinates.x_range, coordinates.z_axis_name) == ((-60.0, 60.0),
                                                              "Height above far limit")

    requested = operator.get_profile()
    converted = coordinates.convert(requested)
    assert np.allclose(converted.x, np.asarray(requested.xValues) / 100.0)
    assert np.allclose(converted.z, np.asarray(requested.zValues) / 100.0)


@pytest.mark.parametrize("units, precision, words, expected", [
    ("mm", 2, (32768, 12345), (0.0, 123.45)),
    ("um", 1, (32778, 500), (0.001, 0.05)),
    ("cm", 0, (32767, 0), (-10.0, np.nan)),
])
def test_coordinates_of_other_descriptions(units, precision, words, expected):
    coordinates = quil.ProfileCoordinates(
        quil.ProfileMeta(xUnit=units, zUnit=units), quil.FoVMeta(xUnit="mm", zUnit="mm",
                                                                 xPrec=precision, zPrec=precision),
        quil.FoVDistance(limitLeft=-5, limitRight=5, near=10, far=20), 1)
    profile = quil.StreamProfile(pointCount=1, channel0=[words[1]], channel1=[words[0]],
                                 hasChannel1=True)
    converted = coordinates.convert(profile)
    assert np.allclose([converted.x[0], converted.z[0]], expected, equal_nan=True)
    assert converted.brightness.size == 0 and coordinates.z_range == (0.0, 10.0)


def test_millimetres_need_descriptions(client):
    with pytest.raises(ValueError, match="coordinates=quil.ProfileCoordinates.read"):
        client.get_stream().profiles(millimetres=True)
    with pytest.raises(ValueError, match='Unknown length unit "ft"'):
        quil.ProfileCoordinates(quil.ProfileMeta(xUnit="ft", zUnit="mm"), quil.FoVMeta(),
                                quil.FoVDistance(), 0)


def test_measurements_and_errors_iterate_too(operator, sensor):
    sensor.set_faults(datagram_loss=0.3)
    with operator.stream(data_ids=[0]) as stream:
        measurements = list(stream.measurements(timeout=2.0, count=30))
        errors = list(stream.errors(timeout=2.0, count=3))
    assert len(measurements) == 30 and isinstance(measurements[0], quil.StreamMeasurement)
    assert len(errors) == 3
    assert errors[0].type is quil.PacketErrorType.PacketsLost


@pytest.mark.parametrize("started", [False, True])
def test_waits_end_at_their_time_limit_or_at_once_on_a_stopped_stream(client, started):
    stream = client.get_stream()  # the output is not aimed here: nothing arrives
    if started:
        stream.start()
    begin = time.monotonic()
    assert stream.pop_profile_for(0.3) is None
    assert list(stream.profiles(timeout=0.3)) == []
    assert stream.wait_for_data(0.3) is False
    elapsed = time.monotonic() - begin
    assert (0.85 < elapsed < 3.0) if started else (elapsed < 0.3)


@pytest.mark.parametrize("timeout", [0.0, -1.0, -1e300, float("-inf"), float("nan")])
def test_timeouts_of_zero_or_less_return_at_once_and_nan_is_refused(client, timeout):
    stream = client.get_stream()
    stream.start()  # nothing arrives: a wait would last its whole limit
    waits = [lambda: stream.pop_profile_for(timeout), lambda: stream.pop_error_for(timeout),
             lambda: stream.wait_for_data(timeout), lambda: list(stream.profiles(timeout=timeout))]
    for wait in waits:
        begin = time.monotonic()
        if timeout != timeout:  # NaN
            with pytest.raises(ValueError, match="timeout must be a number of seconds, not NaN"):
                wait()
        else:
            assert wait() in (None, False, [])
        assert time.monotonic() - begin < 1.0


def test_ctrl_c_interrupts_a_long_wait(client):
    stream = client.get_stream()
    stream.start()
    timer = threading.Timer(0.3, os.kill, (os.getpid(), signal.SIGINT))
    begin = time.monotonic()
    timer.start()
    with pytest.raises(KeyboardInterrupt):
        for _ in stream.profiles(timeout=30.0):
            pass
    assert time.monotonic() - begin < 1.5
    timer.join()


def test_capture_equals_the_tools_reading_of_its_recording(operator, tmp_path):
    capture = tmp_path / "line.pcap"
    stream = operator.get_stream()
    stream.start_recording(str(capture))
    with operator.stream(data_ids=[1]) as session:
        live = list(session.profiles(timeout=2.0, count=200))
    status = stream.stop_recording()
    assert len(live) == 200 and status["datagramsWritten"] >= 200 and not status["error"]

    def tool_lines(*options):
        out = tmp_path / "line.jsonl"
        run = subprocess.run([tool(), "stream", "--from", str(capture), "--format", "jsonl",
                              "-o", str(out), "--allow-loss", *options], capture_output=True,
                             text=True, timeout=60)
        assert run.returncode == 0, run.stderr
        return [json.loads(line) for line in out.read_text().splitlines()]

    lines = tool_lines("--raw")
    assert len(lines) >= len(live)
    for profile, line in zip(live, lines):
        assert (profile.blockId, profile.timestamp) == (line["blockId"], line["timestamp"])
        assert profile.channel0.tolist() == line["channel0"]
        assert profile.channel1.tolist() == line["channel1"]
    coordinates = quil.ProfileCoordinates.read(operator)  # the library's conversion
    for profile, line in zip(live, tool_lines()):
        points = coordinates.convert(profile)
        z = [np.nan if value is None else value for value in line["z"]]
        assert np.allclose(points.z, z, equal_nan=True) and np.allclose(points.x, line["x"])
        assert (line["dataId"], line["acquisitionIndex"]) == (1, profile.acquisition_index)

    with quil.open_recording(str(capture), speed=0) as replay:
        replayed = list(replay.profiles(timeout=2.0, count=len(live)))
        assert replay.wait_until_finished(5.0)
        assert replay.replay_statistics()["datagramsReplayed"] == status["datagramsWritten"]
        assert json.loads(replay.description)
    assert np.array_equal(quil.stack(replayed), quil.stack(live))
    assert sum(1 for _ in quil.RecordingReader(str(capture))) == status["datagramsWritten"]


def test_a_recording_moves_to_new_captures_without_losing_a_datagram(operator, tmp_path):
    stream = operator.get_stream()
    with pytest.raises(quil.StateError, match=r"^The stream is not recording\.$"):
        stream.continue_recording_in(str(tmp_path / "none.pcap"))
    pieces = [tmp_path / f"piece{i}.pcap" for i in range(3)]
    stream.start_recording(str(pieces[0]))
    with operator.stream(data_ids=[1]) as session:
        ended = []
        for piece in pieces[1:]:
            list(session.profiles(timeout=2.0, count=50))
            ended.append(stream.continue_recording_in(str(piece)))
        with pytest.raises(quil.InvalidArgumentError, match="a file of the running recording"):
            stream.continue_recording_in(str(pieces[2]))
        list(session.profiles(timeout=2.0, count=50))
    ended.append(stream.stop_recording())
    assert [status["path"] for status in ended] == [str(piece) for piece in pieces]
    assert all(status["datagramsWritten"] > 0 and not status["error"] for status in ended)
    read = [sum(1 for _ in quil.RecordingReader(str(piece))) for piece in pieces]
    assert read == [status["datagramsWritten"] for status in ended]
    assert sum(read) == stream.statistics()["datagramsReceived"]  # all, from start to stop


def test_the_height_map_example_writes_a_png(tmp_path):
    example = pathlib.Path(__file__).parents[2] / "examples" / "heightmap.py"
    png = tmp_path / "map.png"
    arguments = [str(example), str(png), next_address(), str(next_port())]
    run = subprocess.run([sys.executable, *arguments], capture_output=True, text=True, timeout=60)
    assert run.returncode == 0, run.stderr
    assert run.stdout == f"{png}: 1000 profiles of 640 points\n"
    assert png.read_bytes().startswith(b"\x89PNG")


EXIT_WHILE_WAITING = """
import sys, threading, quil
from quil.sim import VirtualSensor
sensor = VirtualSensor(address=sys.argv[1])
client = quil.connect(sensor.address, udp_port=int(sys.argv[2]))
client.login("operator", "operator")
session = client.stream(data_ids=[1]).__enter__()
next(session.profiles(timeout=5.0))
def ask():
    while True:
        client.get_exposure_time()
threading.Thread(target=lambda: client.get_stream().pop_profile_for(100), daemon=True).start()
threading.Thread(target=ask, daemon=True).start()
print("leaving")
"""


@pytest.mark.parametrize("attempt", range(3))
def test_interpreter_exits_cleanly_with_threads_still_waiting(attempt):
    run = subprocess.run([sys.executable, "-c", EXIT_WHILE_WAITING, next_address(),
                          str(next_port())], capture_output=True, text=True, timeout=60)
    assert (run.returncode, run.stdout) == (0, "leaving\n"), run.stderr
