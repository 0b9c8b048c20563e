"""quil: the client of a networked 2D laser profile sensor, in Python.

>>> import quil
>>> with quil.connect("127.0.0.1", udp_port=5000) as client:
...     client.login("operator", "operator")
...     with client.stream(data_ids=[1]) as stream:
...         heights = quil.stack(stream.profiles(timeout=1.0, count=1000, millimetres=True))

Every operation of the C++ client is a method of :class:`Client` in snake_case; records are
classes with the C++ members as attributes; profile samples and images are numpy arrays, and
:class:`ProfileCoordinates` turns profiles into millimetres.
"""


from . import errors
from ._quil import _split_sensor_address, _why_no_connection
from ._quil import (  # noqa: F401
    __version__,
    Client, Stream, StreamSession, Replay, RecordingReader, RecordedDatagram,
    ProfileIterator, MeasurementIterator, ErrorIterator,
    PacketErrorType, QueueOverflowPolicy,
    IdNameEntry, SensorMetaData, Network, Timeserver, ProcessInterfaces, ProcessInterfacesMeta,
    UDPMeta, UDPStreamData, LaserPowerMeta, LaserPowerLimits, ExposureTimeLimits,
    ExposureTimeMeta, Trigger, TriggerLimits, TriggerModeEntry, TriggerMeta, Resolution,
    ResolutionLimits, Resampling, ResamplingMeta, ProfileFilter, ProfileFilterMeta,
    ProfileAlgorithmMeta, ProfileAlgorithmParams, ProfileAlgorithmParamsMeta, LimitRange,
    ThresholdTypeEntry, ProfileAlgorithmLimits, ProfileAlgorithmParamsLimits, AxesMeta, FoV,
    FoVDistance, FoVLimits, FoVMeta, ActiveSetup, MeasurementValues, MeasurementMeta,
    MeasurementTypeEntry, MeasurementValuesMeta, Profile, AugmentedProfile, ProfileMeta, Image,
    ImageMeta, StreamMeasurement, StreamProfile, StreamError,
    ProfileCoordinates, ProfilePoints,
    stack,
)
from .errors import (  # noqa: F401
    QuilError, ConnectionError, ConnectionClosedError, TimeoutError, FileError, SensorError, InvalidArgumentError,
    ReplyError, MissingError, StateError,
)


# How long the look at why no connection opened may take, in seconds.
_PROBE_LIMIT = 2.0


def connect(host: str, udp_port: int = 5000) -> Client:
    """A client of the sensor at ``host``, connected; its stream receives on ``udp_port``.

    Use it in a ``with`` block, which disconnects at its end.
    """
    client = Client(host, udp_port)
    try:
        client.connect()
    except errors.ConnectionError as e:
        client.close()
        if not str(e).startswith("Could not connect to host "):
            raise
        _, port = _split_sensor_address(host)
        raise errors.ConnectionError(f"{e} (port {port}): {_why_no_connection(host, _PROBE_LIMIT)}") from None
    except BaseException:
        client.close()
        raise
    return client


def open_recording(path: str, speed: float = 1.0, port: int = 0, loop: bool = False) -> Replay:
    """A recording (a pcap capture) played back, read like a live stream.

    Use it in a ``with`` block, which starts the replay and closes it at its end. ``speed`` 0
    replays as fast as possible.
    """
    return Replay(path, speed=speed, port=port, loop=loop)
