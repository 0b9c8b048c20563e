"""Every operation of the client against the virtual sensor, and how failures reach Python."""

import ast
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

# Reads: the operation, its arguments (from the client), the type of its result.
READS = [
    ("get_sensor_meta_data", lambda c: (), quil.SensorMetaData),
    ("get_network", lambda c: (), quil.Network),
    ("get_timeserver_meta", lambda c: (), int),
    ("get_timeserver", lambda c: (), quil.Timeserver),
    ("get_process_interfaces_meta", lambda c: (), quil.ProcessInterfacesMeta),
    ("get_process_interfaces", lambda c: (), quil.ProcessInterfaces),
    ("get_udp_meta", lambda c: (), quil.UDPMeta),
    ("get_udp_stream_data", lambda c: (), quil.UDPStreamData),
    ("get_laser_power", lambda c: (), float),
    ("get_laser_power_meta", lambda c: (), quil.LaserPowerMeta),
    ("get_laser_power_limits", lambda c: (), quil.LaserPowerLimits),
    ("get_exposure_time", lambda c: (), int),
    ("get_exposure_time_limits", lambda c: (), quil.ExposureTimeLimits),
    ("get_exposure_time_meta", lambda c: (), quil.ExposureTimeMeta),
    ("get_trigger", lambda c: (), quil.Trigger),
    ("get_trigger_limits", lambda c: (), quil.TriggerLimits),
    ("get_trigger_meta", lambda c: (), quil.TriggerMeta),
    ("get_resolution", lambda c: (), quil.Resolution),
    ("get_resolution_limits", lambda c: (), quil.ResolutionLimits),
    ("get_resampling_enabled", lambda c: (), bool),
    ("get_resampling", lambda c: (), quil.Resampling),
    ("get_resampling_meta", lambda c: (), quil.ResamplingMeta),
    ("get_profile_filter", lambda c: (), quil.ProfileFilter),
    ("get_profile_filter_enabled", lambda c: (), bool),
    ("get_profile_filter_meta", lambda c: (), quil.ProfileFilterMeta),
    ("get_profile_algorithm", lambda c: (), int),
    ("get_profile_algorithm_meta", lambda c: (), quil.ProfileAlgorithmMeta),
    ("get_profile_algorithm_params_limits", lambda c: (c.get_profile_algorithm(),),
     quil.ProfileAlgorithmParamsLimits),
    ("get_profile_algorithm_params_meta", lambda c: (), quil.ProfileAlgorithmParamsMeta),
    ("get_profile_algorithm_params", lambda c: (c.get_profile_algorithm(),),
     quil.ProfileAlgorithmParams),
    ("get_axes_meta", lambda c: (), quil.AxesMeta),
    ("get_axes", lambda c: (), int),
    ("get_fov", lambda c: (), quil.FoV),
    ("get_fov_distance", lambda c: (), quil.FoVDistance),
    ("get_fov_limits", lambda c: (), quil.FoVLimits),
    ("get_fov_meta", lambda c: (), quil.FoVMeta),
    ("read_all_settings", lambda c: (), str),
    ("read_single_setting", lambda c: (1,), str),
    ("get_startup_setup", lambda c: (), int),
    ("get_parameter_setup", lambda c: (1,), str),
    ("get_parameter_setup_meta", lambda c: (), int),
    ("get_active_setup", lambda c: (), quil.ActiveSetup),
    ("get_measurement_values", lambda c: (), quil.MeasurementValues),
    ("get_measurement_meta", lambda c: (), quil.MeasurementMeta),
    ("get_measurement_values_meta", lambda c: (), quil.MeasurementValuesMeta),
    ("get_profile", lambda c: (), quil.Profile),
    ("get_profile_meta", lambda c: (), quil.ProfileMeta),
    ("get_augmented_profile", lambda c: (), quil.AugmentedProfile),
    ("get_image", lambda c: (), quil.Image),
    ("get_image_meta", lambda c: (), quil.ImageMeta),
    ("get_host", lambda c: (), str),
    ("get_stream_port", lambda c: (), int),
    ("diagnose_stream", lambda c: (), list),
    ("describe_sensor_for_recording", lambda c: (), str),
]

# Writes: the operation and its arguments, made from what the sensor holds, and the read that
# must give the written value back (None: nothing to read back).
WRITES = [
    ("set_network", lambda c: (c.get_network(),), None),
    ("set_network", lambda c: (False, "192.168.0.7", "255.255.255.0", "192.168.0.1"),
     lambda c: (c.get_network().staticIP, "192.168.0.7")),
    ("set_timeserver", lambda c: (c.get_timeserver(),), None),
    ("set_timeserver", lambda c: (True, ["10.0.0.1"]),
     lambda c: (c.get_timeserver().ntpServers, ["10.0.0.1"])),
    ("set_process_interfaces", lambda c: (c.get_process_interfaces(),), None),
    ("set_process_interfaces", lambda c: (False, False, 0, False, "127.0.0.9", 31999, 0),
     lambda c: (c.get_process_interfaces().udpDestinationPort, 31999)),
    ("set_udp_stream_data", lambda c: (quil.UDPStreamData(enabledDataIDs=[0, 3]),),
     lambda c: (list(c.get_udp_stream_data().enabledDataIDs), [0, 3])),
    ("set_laser_power", lambda c: (c.get_laser_power_limits().minFactor,),
     lambda c: (c.get_laser_power(), c.get_laser_power_limits().minFactor)),
    ("set_exposure_time", lambda c: (c.get_exposure_time_limits().maxTime,),
     lambda c: (c.get_exposure_time(), c.get_exposure_time_limits().maxTime)),
    ("trigger_fire", lambda c: (1,), None),
    ("set_trigger", lambda c: (c.get_trigger(),), None),
    ("set_trigger", lambda c: tuple(c.get_trigger().to_dict().values()), None),
    ("set_resolution", lambda c: (c.get_resolution(),), None),
    ("set_resolution", lambda c: (c.get_resolution_limits().xResolution[-1],
                                  c.get_resolution_limits().zResolution[-1]),
     lambda c: (c.get_resolution().xResolution, c.get_resolution_limits().xResolution[-1])),
    ("set_resampling", lambda c: (c.get_resampling(),), None),
    ("set_resampling", lambda c: (True, c.get_resampling_meta().maxGridValue),
     lambda c: (c.get_resampling_enabled(), True)),
    ("set_profile_filter", lambda c: (c.get_profile_filter(),), None),
    ("set_profile_filter",
     lambda c: (True, c.get_profile_filter_meta().movingAverageMaximumLength),
     lambda c: (c.get_profile_filter_enabled(), True)),
    ("set_profile_algorithm", lambda c: (c.get_profile_algorithm_meta().algorithms[-1].id,),
     lambda c: (c.get_profile_algorithm(), c.get_profile_algorithm_meta().algorithms[-1].id)),
    ("set_profile_algorithm_params",
     lambda c: (c.get_profile_algorithm(), c.get_profile_algorithm_params(c.get_profile_algorithm())),
     None),
    ("set_profile_algorithm_params",
     lambda c: (c.get_profile_algorithm(),
                *c.get_profile_algorithm_params(c.get_profile_algorithm()).to_dict().values()),
     None),
    ("set_axes", lambda c: (c.get_axes_meta().zAxisDefinitions[-1].id,),
     lambda c: (c.get_axes(), c.get_axes_meta().zAxisDefinitions[-1].id)),
    ("set_fov", lambda c: (c.get_fov(),), None),
    ("set_fov", lambda c: tuple(c.get_fov().to_dict().values()), None),
    ("set_fov_distance", lambda c: (c.get_fov_distance(),), None),
    ("set_fov_distance", lambda c: tuple(c.get_fov_distance().to_dict().values()), None),
    ("write_all_settings", lambda c: (c.read_all_settings(),), None),
    ("write_single_setting", lambda c: (c.read_single_setting(1), 1), None),
    ("set_startup_setup", lambda c: (2,), lambda c: (c.get_startup_setup(), 2)),
    ("store_to_setup", lambda c: (2,), None),
    ("set_active_setup", lambda c: (2,), lambda c: (c.get_active_setup().active, 2)),
    ("all_settings_reset", lambda c: (), None),
    ("set_request_timeout", lambda c: (2.5,), None),
    ("set_auto_reconnect", lambda c: (True,), None),
    ("logout", lambda c: (), None),
]


@pytest.fixture(scope="module")
def shared_client():
    with quil.sim.VirtualSensor(address=next_address()) as sensor:
        with quil.connect(sensor.address, udp_port=next_port()) as client:
            yield client


@pytest.mark.parametrize("name, arguments, result", READS, ids=[r[0] for r in READS])
def test_reads(shared_client, name, arguments, result):
    assert isinstance(getattr(shared_client, name)(*arguments(shared_client)), result)


@pytest.mark.parametrize("name, arguments, check", WRITES,
                         ids=[f"{w[0]}-{i}" for i, w in enumerate(WRITES)])
def test_writes(maintenance, name, arguments, check):
    assert getattr(maintenance, name)(*arguments(maintenance)) is None
    if check:
        got, expected = check(maintenance)
        assert got == pytest.approx(expected)


def test_every_operation_of_the_client_is_in_a_table():
    covered = {r[0] for r in READS} | {w[0] for w in WRITES} | {
        "connect", "disconnect", "login", "save_image", "get_stream", "stream", "close"}
    public = {n for n in dir(quil.Client) if not n.startswith("_") and n != "closed"}
    assert public - covered == set()


def test_profiles_and_images_are_numpy_arrays(client, tmp_path):
    profile = client.get_augmented_profile()
    for samples in (profile.xValues, profile.zValues, profile.brightness):
        assert samples.dtype == np.int32 and samples.shape == (profile.length,)
    image = client.get_image()
    pixels = image.to_array()
    assert pixels.dtype == np.uint8
    assert pixels.shape == (image.roiHeight // image.rowBinning, image.roiWidth // image.colBinning)
    client.save_image(str(tmp_path / "camera.pgm"), image)
    assert (tmp_path / "camera.pgm").read_bytes().endswith(pixels.tobytes())


@pytest.mark.parametrize(
    "call, error, builtin, text",
    [
        (lambda c: c.set_exposure_time(500), quil.SensorError, ValueError,
         "SET returned an error: Your role is not allowed to access resource <ExposureTime>, "
         "you need role <maintenance>."),
        (lambda c: c.login("maintenance", "wrong"), quil.SensorError, ValueError, None),
        (lambda c: c.save_image("/nonexistent/x.pgm", quil.Image(rowBinning=1, colBinning=1)),
         quil.FileError, OSError, "SaveImage: cannot open /nonexistent/x.pgm"),
        (lambda c: c.save_image("x.pgm", quil.Image()), quil.InvalidArgumentError, ValueError, None),
        (lambda c: c.get_stream().pop_profile(), quil.MissingError, KeyError,
         "Profile queue is empty."),
        (lambda c: c.set_request_timeout(0), quil.InvalidArgumentError, ValueError,
         "Request timeout must be positive."),
        (lambda c: c.set_exposure_time(-1), OverflowError, OverflowError, "out of range"),
        (lambda c: c.set_exposure_time("500"), TypeError, TypeError, "exposure_time: int"),
        (lambda c: c.set_fov(1.0, 2.0), TypeError, TypeError, "limit_left: float"),
        (lambda c: quil.open_recording("/nonexistent.pcap"), quil.FileError, OSError,
         "Could not open recording /nonexistent.pcap"),
    ],
)
def test_failures_are_exceptions_of_the_package(client, call, error, builtin, text):
    with pytest.raises(error) as raised:
        call(client)
    assert isinstance(raised.value, builtin)
    if text:
        assert text in str(raised.value)


def test_unreachable_sensor_and_closed_client():
    nobody = next_address()
    with pytest.raises(quil.ConnectionError, match=f"^Could not connect to host {nobody} "
                       r"\(port 80\): connection refused \(nothing accepts connections there"):
        quil.connect(nobody, udp_port=next_port())
    with pytest.raises(quil.ConnectionError, match=f"^Could not connect to host {nobody}:8077 "
                       r"\(port 8077\): connection refused"):
        quil.connect(f"{nobody}:8077", udp_port=next_port())
    with quil.Client(nobody, next_port()) as client:
        pass
    with pytest.raises(quil.StateError, match="is closed: its 'with' block has ended"):
        client.get_fov()


def test_close_while_other_threads_are_inside_requests(sensor):
    client = quil.connect(sensor.address, udp_port=next_port())
    answered = []
    failures = []

    def ask():
        try:
            while True:
                answered.append(client.get_exposure_time())
        except quil.QuilError as e:  # cut off by close(), or refused once closed: both clean
            failures.append(e)

    sensor.set_faults(reply_delay=1.0)  # every reply after 200 ms: the requests are in flight
    askers = [threading.Thread(target=ask) for _ in range(3)]
    for asker in askers:
        asker.start()
    deadline = time.monotonic() + 10
    while len(answered) < 3 and time.monotonic() < deadline:  # each is in its next request now
        time.sleep(0.001)
    client.close()
    for asker in askers:
        asker.join(timeout=10)
    assert not any(asker.is_alive() for asker in askers)
    assert len(failures) == 3 and client.closed
    assert not any(isinstance(e, quil.TimeoutError) for e in failures), failures


def test_a_request_that_close_cuts_off_says_so(sensor):
    failures = []
    for _ in range(5):  # close() may, rarely, come before the request: then it is refused
        client = quil.connect(sensor.address, udp_port=next_port())
        client.set_request_timeout(0.5)
        sensor.set_faults(reply_missing=1.0)
        asking = threading.Event()

        def ask():
            try:
                asking.set()
                client.get_exposure_time()
            except quil.QuilError as e:
                failures.append(e)

        asker = threading.Thread(target=ask)
        asker.start()
        asking.wait(timeout=5)
        client.close()
        asker.join(timeout=10)
        sensor.set_faults()
        assert type(failures[-1]) in (quil.ConnectionClosedError, quil.StateError), failures
        if isinstance(failures[-1], quil.ConnectionClosedError):
            break
    assert isinstance(failures[-1], ConnectionError) and str(failures[-1]) == (
        f"The request to {sensor.address} was cut off: the client was closed while it waited "
        "for the answer.")


def test_an_ordinary_user_is_told_how_to_start_a_virtual_sensor():
    # Root keeps its uid but loses the right to listen on ports below 1024.
    as_user = ["setpriv", "--bounding-set=-net_bind_service"] if os.geteuid() == 0 else []
    address = next_address()
    run = subprocess.run(
        [*as_user, sys.executable, "-c",
         "import quil.sim\n"
         f"try: quil.sim.VirtualSensor(address='{address}')\n"
         "except quil.ConnectionError as e: print(e)"],
        capture_output=True, text=True, timeout=30)
    if run.stdout == "" and run.returncode == 0:
        pytest.skip("this user may listen on port 80")
    executable = os.path.realpath(sys.executable)
    assert run.stdout == (
        f"The virtual sensor may not listen on port 80 of {address}: give ws_port=8080 (any port "
        f"from 1024 on), run as root, or allow it with 'setcap cap_net_bind_service=+ep "
        f"{executable}'.\n"), run.stderr


def test_sensor_that_does_not_answer_times_out(sensor, client):
    sensor.set_faults(reply_missing=1.0)
    client.set_request_timeout(0.2)
    begin = time.monotonic()
    with pytest.raises(quil.TimeoutError) as raised:
        client.get_fov()
    assert time.monotonic() - begin < 2.0
    assert isinstance(raised.value, TimeoutError)
    assert str(raised.value).startswith("No matching response found to request with sessionID: ")


def test_requests_release_the_gil(sensor, client):
    ticks = []
    stop = threading.Event()
    ticker = threading.Thread(target=lambda: [ticks.append(1) or time.sleep(0.001)
                                              for _ in iter(stop.is_set, True)])
    sensor.set_faults(reply_delay=1.0)  # every reply comes after 200 ms
    ticker.start()
    try:
        client.get_exposure_time()
    finally:
        stop.set()
        ticker.join()
    assert len(ticks) > 20


@pytest.mark.parametrize("cls", ["Client", "Stream", "StreamSession", "Replay",
                                 "ProfileCoordinates", "RecordingReader"])
def test_the_operations_carry_the_stubs_docstrings(cls):
    stubs = ast.parse(pathlib.Path(quil.__file__).with_name("__init__.pyi").read_text())
    stub = next(n for n in stubs.body if isinstance(n, ast.ClassDef) and n.name == cls)
    documented = {f.name: ast.get_docstring(f) for f in stub.body
                  if isinstance(f, ast.FunctionDef) and ast.get_docstring(f)}
    assert documented
    for name, doc in documented.items():
        assert doc in (getattr(getattr(quil, cls), name).__doc__ or ""), name
