"""Stream throughput from Python, run by hand (needs root for the virtual sensor's port 80):

    PYTHONPATH=build/python /usr/bin/python3 python/bench/stream_bench.py

1. Records two seconds of 2000-point profiles from the virtual sensor.
2. Replays the recording in a loop, as fast as possible, into a large queue, then measures how
   many profiles per second Python takes out of it by iterating (the rate the stream hands
   profiles to Python, without the sensor's or the replay's pace).
3. Gathers 5000 profiles into one 2-D array with quil.stack, against a plain C++ copy of the
   same samples.
"""

import pathlib
import tempfile
import time

import quil
from quil.sim import VirtualSensor

POINTS = 2000
QUEUED = 40000


def record(path: pathlib.Path) -> int:
    with VirtualSensor(address="127.0.20.60", points_per_profile=POINTS, profile_rate=1000) as s:
        with quil.connect(s.address, udp_port=31199) as client:
            client.login("operator", "operator")
            stream = client.get_stream()
            stream.start_recording(str(path))
            with client.stream(data_ids=[1]) as session:
                count = sum(1 for _ in session.profiles(timeout=1.0, count=2000))
            stream.stop_recording()
    return count


def fill(path: pathlib.Path) -> quil.Replay:
    replay = quil.open_recording(str(path), speed=0, loop=True)
    replay.set_queue_capacity(QUEUED)
    replay.start()
    while replay.get_profile_count() < QUEUED:
        time.sleep(0.05)
    replay.stop()
    return replay


def best(repeat, call):
    return min(call() for _ in range(repeat))


def main():
    with tempfile.TemporaryDirectory() as folder:
        capture = pathlib.Path(folder) / "bench.pcap"
        print(f"recorded {record(capture)} profiles of {POINTS} points")

        replay = fill(capture)
        start = time.perf_counter()
        taken = sum(1 for _ in replay.profiles(timeout=0.0))
        rate = taken / (time.perf_counter() - start)
        print(f"iteration: {taken} profiles at {rate:,.0f} profiles/s")

        replay = fill(capture)
        start = time.perf_counter()
        samples = 0
        for profile in replay.profiles(timeout=0.0):
            samples += profile.channel0.size
        rate = QUEUED / (time.perf_counter() - start)
        print(f"iteration reading channel0 as numpy: {rate:,.0f} profiles/s "
              f"({samples / QUEUED:.0f} points each)")

        replay = fill(capture)
        profiles = list(replay.profiles(timeout=0.0, count=5000))
        replay.close()

        def stack():
            begin = time.perf_counter()
            quil.stack(profiles)
            return time.perf_counter() - begin

        gather = best(7, stack)
        copy = best(7, lambda: quil._quil._copy_seconds(profiles))
        print(f"gather {len(profiles)} x {POINTS} into numpy: {gather * 1e3:.2f} ms; "
              f"C++ copy: {copy * 1e3:.2f} ms; ratio {gather / copy:.2f}")


if __name__ == "__main__":
    main()
