"""Type stubs of the quil package: the client of a networked 2D laser profile sensor."""

import enum
from typing import Any, Iterator, Optional, Sequence, TypeVar, Iterable, Union, overload

import numpy as np
from numpy.typing import ArrayLike, NDArray

from . import errors as errors
from . import sim as sim
from .errors import (
    ConnectionClosedError as ConnectionClosedError,
    ConnectionError as ConnectionError,
    FileError as FileError,
    InvalidArgumentError as InvalidArgumentError,
    MissingError as MissingError,
    QuilError as QuilError,
    ReplyError as ReplyError,
    SensorError as SensorError,
    StateError as StateError,
    TimeoutError as TimeoutError,
)

__version__: str

# Timeouts: every ``timeout`` of the package is in seconds, as a float. Zero or less returns at
# once (what is there already, or nothing), as the C++ library does; float("inf") waits without
# limit; NaN raises ValueError.

_R = TypeVar("_R", bound="_Record")

class _Record:
    """A record of the library: attributes named after the C++ members, keyword construction
    (fields not given keep their defaults), equality of all fields, and dict conversion."""

    _fields: tuple[str, ...]
    def to_dict(self) -> dict[str, Any]:
        """The fields as a dict, in declaration order; nested records become dicts too and
        samples stay numpy arrays."""
    @classmethod
    def from_dict(cls: type[_R], fields: dict[str, Any]) -> _R:
        """A record from a dict that has every field (as to_dict gives). Raises MissingError
        (a KeyError) for a missing field and TypeError for an unknown one."""
    def __eq__(self, other: object) -> bool: ...

class PacketErrorType(enum.IntEnum):
    """Kind of a problem of the stream (StreamError.type)."""

    PacketsLost = 0
    UnexpectedBlockId = 1
    DuplicateBlockId = 2
    FragmentTimeout = 3
    InvalidPacket = 4
    EmptyContent = 5
    StreamingTaskException = 7

class QueueOverflowPolicy(enum.IntEnum):
    """What a full queue of the stream does with a new entry."""

    DropOldest = 0
    DropNew = 1

# The records, each with its fields and keyword constructor, made at build time from the
# module's _fields and _field_types (python/GenerateStubs.py); a record's class further down in
# python/Stubs.pyi adds its other members.
# @records

class Image(_Record):
    def to_array(self) -> NDArray[np.uint8]:
        """The pixels as a 2-D array of roiHeight // rowBinning rows and roiWidth // colBinning
        columns.

        Raises InvalidArgumentError when the pixel count does not fit that shape."""

class StreamProfile(_Record):
    @property
    def acquisition_index(self) -> int:
        """The index of the acquisition the profile belongs to (field6)."""
    @property
    def encoder_count(self) -> int:
        """The encoder count at the time of the profile (field18)."""

def connect(host: str, udp_port: int = 5000) -> Client:
    """A client of the sensor at ``host`` (TCP port 80), connected; its stream receives on the
    local UDP port ``udp_port``. Use it in a ``with`` block, which disconnects at its end.

    Raises ConnectionError "Could not connect to host <host> (port <port>): <why>" when the
    sensor cannot be reached, why being what one plain TCP connection there found: refused, no
    route, timed out (after 2 s), name not found, or open but no sensor answering.
    """

def open_recording(path: str, speed: float = 1.0, port: int = 0, loop: bool = False) -> Replay:
    """A pcap recording played back through the stream's decoding and queues. In a ``with``
    block the replay starts, and closes at its end. ``speed``: 1 as recorded, 0 as fast as
    possible; ``port``: only datagrams to this UDP port (0: the port the description names)."""

@overload
def stack(profiles: Iterable[StreamProfile], channel: int = 0, width: int = 0) -> NDArray[np.uint16]: ...
@overload
def stack(profiles: Iterable[ProfilePoints], channel: int = 0, width: int = 0) -> NDArray[np.float64]: ...
def stack(profiles: Iterable[Union[StreamProfile, ProfilePoints]], channel: int = 0, width: int = 0) -> NDArray[Any]:
    """Channel ``channel`` of each profile as one row of a 2-D array. Stream profiles give
    uint16 words (rows end in zeros); profiles in millimetres (ProfilePoints) give float64
    millimetres, channel 0 z (a height map in mm), 1 x, 2 brightness (rows end in NaN).
    ``width`` 0: as wide as the longest profile."""


class ProfilePoints:
    """A profile in millimetres (ProfileCoordinates.convert, ``profiles(millimetres=True)``):
    float64 arrays of one element per point. Where the laser line gave no point, z and
    brightness are NaN; x is empty without channel 1 (data id 2), brightness without
    brightness values. A requested profile lists points with a laser line only."""

    block_id: int
    blockId: int
    """The same as block_id, as the first releases spelt it."""
    timestamp: int
    acquisition_index: int
    encoder_count: int
    x: NDArray[np.float64]
    z: NDArray[np.float64]
    brightness: NDArray[np.float64]
    def __len__(self) -> int: ...

class ProfileCoordinates:
    """Converts profiles to millimetres with the sensor's descriptions ("ProfileMeta" units,
    "FoVMeta" precisions, the field of view and the z axis definition in force), set up once.
    A streamed coordinate counts 10^-prec of the profile unit; x counts from ``x_zero_word``,
    and z ``no_point_word`` is a point without a laser line."""

    x_range: tuple[float, float]
    z_range: tuple[float, float]
    z_axis_name: str
    stream_x_step: float
    stream_z_step: float
    def __init__(self, profile_meta: ProfileMeta, fov_meta: FoVMeta, fov_distance: FoVDistance,
                 z_axis_definition_id: int, axes_meta: AxesMeta = ..., x_zero_word: int = 32768,
                 z_zero_word: int = 0, no_point_word: int = 0) -> None:
        """From descriptions at hand; ValueError "Unknown length unit ..." for a unit other than
        mm, um, cm, m and in."""
    @staticmethod
    def read(client: Client) -> ProfileCoordinates:
        """Reads the descriptions from the sensor."""
    @staticmethod
    def from_recording_description(description: str) -> ProfileCoordinates:
        """From a recording's description file (Replay.description); ValueError when it holds
        none."""
    def convert(self, profile: Union[StreamProfile, Profile, AugmentedProfile]) -> ProfilePoints:
        """The profile's points in millimetres."""


class Client:
    """A client of one sensor. Every operation blocks until the sensor answers or its time limit
    passes (the GIL is released meanwhile) and raises the package's exceptions with the
    library's texts. After its ``with`` block every operation raises StateError."""

    closed: bool
    def __init__(self, host: str, udp_port: int = 5000) -> None:
        """A client of the sensor at ``host``; contacts nothing until connect()."""
    def __enter__(self) -> Client: ...
    def __exit__(self, *args: object) -> None:
        """Disconnects and closes the client."""
    def close(self) -> None:
        """Disconnects and closes the client; later operations raise StateError."""
    # Session and roles
    def connect(self) -> None:
        """Opens the connection and the session (again, after a lost connection)."""
    def disconnect(self) -> None:
        """Ends the session and closes the connection. Never raises."""
    def login(self, role: str, password: str = "") -> None:
        """Takes ``role`` ("operator", "maintenance"); SensorError on a wrong password."""
    def logout(self) -> None:
        """Returns to the role "observer"."""
    def get_sensor_meta_data(self) -> SensorMetaData:
        """The sensor's identity; missing version texts read as "-"."""
    # Network and time server
    def get_network(self) -> Network:
        """The sensor's network settings."""
    def set_network(self, *args: Any, **kwargs: Any) -> None:
        """set_network(network) or set_network(use_dhcp, static_ip, subnet_mask, gateway):
        writes the network settings; macAdress is never sent."""
    def get_timeserver_meta(self) -> int:
        """The number of time server entries the sensor supports."""
    def get_timeserver(self) -> Timeserver:
        """The time server settings."""
    def set_timeserver(self, *args: Any, **kwargs: Any) -> None:
        """set_timeserver(timeserver) or set_timeserver(use_ntp, ntp_servers)."""
    # Process interfaces and UDP output
    def get_process_interfaces_meta(self) -> ProcessInterfacesMeta:
        """The choices for the process interfaces."""
    def get_process_interfaces(self) -> ProcessInterfaces:
        """The process interfaces and the UDP output; absent keys read as defaults."""
    def set_process_interfaces(self, *args: Any, **kwargs: Any) -> None:
        """set_process_interfaces(process_interfaces) or set_process_interfaces(enable_modbus,
        enable_opcua, realtime_protocol_id, enable_udp_streaming, udp_destination_ip,
        udp_destination_port, iol_process_data_layout); members this library does not know are
        kept."""
    def get_udp_meta(self) -> UDPMeta:
        """The kinds of data the UDP output can carry."""
    def get_udp_stream_data(self) -> UDPStreamData:
        """The data ids the UDP output carries."""
    def set_udp_stream_data(self, udp_stream_data: UDPStreamData) -> None:
        """Selects the data ids of the UDP output."""
    # Laser power and exposure time
    def get_laser_power(self) -> float:
        """The laser power factor."""
    def set_laser_power(self, factor: float) -> None:
        """Sets the laser power factor."""
    def get_laser_power_meta(self) -> LaserPowerMeta:
        """Unit and precision of the laser power factor."""
    def get_laser_power_limits(self) -> LaserPowerLimits:
        """Permitted laser power factors."""
    def get_exposure_time(self) -> int:
        """The exposure time."""
    def set_exposure_time(self, exposure_time: int) -> None:
        """Sets the exposure time (needs "maintenance")."""
    def get_exposure_time_limits(self) -> ExposureTimeLimits:
        """Permitted exposure times."""
    def get_exposure_time_meta(self) -> ExposureTimeMeta:
        """Unit of the exposure time."""
    # Trigger
    def trigger_fire(self, count: int) -> None:
        """Fires ``count`` software triggers."""
    def get_trigger(self) -> Trigger:
        """How the sensor is triggered."""
    def set_trigger(self, *args: Any, **kwargs: Any) -> None:
        """set_trigger(trigger) or set_trigger(trigger_mode, mode_option, trigger_time,
        encoder_steps)."""
    def get_trigger_limits(self) -> TriggerLimits:
        """Permitted trigger values."""
    def get_trigger_meta(self) -> TriggerMeta:
        """Description of the trigger settings."""
    # Resolution, resampling and profile filter
    def get_resolution(self) -> Resolution:
        """Resolution along x and z."""
    def set_resolution(self, *args: Any, **kwargs: Any) -> None:
        """set_resolution(resolution) or set_resolution(x_resolution, z_resolution)."""
    def get_resolution_limits(self) -> ResolutionLimits:
        """The resolutions the sensor offers."""
    def get_resampling_enabled(self) -> bool:
        """Only "enabled" of the resampling."""
    def get_resampling(self) -> Resampling:
        """Resampling of profiles onto a grid."""
    def set_resampling(self, *args: Any, **kwargs: Any) -> None:
        """set_resampling(resampling) or set_resampling(enabled, grid_value)."""
    def get_resampling_meta(self) -> ResamplingMeta:
        """Unit, precision and range of the grid."""
    def get_profile_filter(self) -> ProfileFilter:
        """The moving-average profile filter."""
    def set_profile_filter(self, *args: Any, **kwargs: Any) -> None:
        """set_profile_filter(profile_filter) or set_profile_filter(moving_average_enabled,
        moving_average_length)."""
    def get_profile_filter_enabled(self) -> bool:
        """Only "movingAverageEnabled" of the profile filter."""
    def get_profile_filter_meta(self) -> ProfileFilterMeta:
        """Permitted filter lengths."""
    # Profile algorithm
    def get_profile_algorithm(self) -> int:
        """The selected profile algorithm's id."""
    def set_profile_algorithm(self, algorithm_id: int) -> None:
        """Selects a profile algorithm."""
    def get_profile_algorithm_meta(self) -> ProfileAlgorithmMeta:
        """The profile algorithms the sensor offers."""
    def get_profile_algorithm_params_limits(self, algorithm_id: int) -> ProfileAlgorithmParamsLimits:
        """Limits of one algorithm's parameters."""
    def get_profile_algorithm_params_meta(self) -> ProfileAlgorithmParamsMeta:
        """Units of the algorithm parameters."""
    def get_profile_algorithm_params(self, algorithm_id: int) -> ProfileAlgorithmParams:
        """The parameters of algorithm ``algorithm_id``."""
    def set_profile_algorithm_params(self, *args: Any, **kwargs: Any) -> None:
        """set_profile_algorithm_params(algorithm_id, params) or
        set_profile_algorithm_params(algorithm_id, min_peak_height, min_peak_width,
        threshold_value, threshold_type_id)."""
    # Axes and field of view
    def get_axes_meta(self) -> AxesMeta:
        """The z-axis definitions the sensor offers."""
    def get_axes(self) -> int:
        """The z-axis definition's id."""
    def set_axes(self, z_axis_definition_id: int) -> None:
        """Selects the z-axis definition."""
    def get_fov(self) -> FoV:
        """The field of view by offset and height."""
    def set_fov(self, *args: Any, **kwargs: Any) -> None:
        """set_fov(fov) or set_fov(limit_left, limit_right, offset, height)."""
    def get_fov_distance(self) -> FoVDistance:
        """The field of view by near and far distance."""
    def set_fov_distance(self, *args: Any, **kwargs: Any) -> None:
        """set_fov_distance(fov_distance) or set_fov_distance(limit_left, limit_right, near,
        far)."""
    def get_fov_limits(self) -> FoVLimits:
        """Limits of the field of view."""
    def get_fov_meta(self) -> FoVMeta:
        """Units and precisions of the field of view."""
    # Settings backup and restore
    def read_all_settings(self) -> str:
        """The settings of all setups as one opaque text."""
    def read_single_setting(self, num_setup: int) -> str:
        """The settings of setup ``num_setup`` as one opaque text."""
    def write_all_settings(self, blob: str) -> None:
        """Writes a text read with read_all_settings back, in blocks the sensor accepts."""
    def write_single_setting(self, blob: str, num_setup: int) -> None:
        """Writes a text read with read_single_setting back into setup ``num_setup``."""
    # Parameter setups
    def get_startup_setup(self) -> int:
        """The setup loaded at start-up."""
    def set_startup_setup(self, num_setup: int) -> None:
        """Chooses the setup loaded at start-up."""
    def set_active_setup(self, active: int) -> None:
        """Activates a setup."""
    def store_to_setup(self, num_setup: int) -> None:
        """Stores the current settings into setup ``num_setup``."""
    def all_settings_reset(self) -> None:
        """Resets all settings."""
    def get_parameter_setup(self, num_setup: int) -> str:
        """The content of setup ``num_setup`` as compact JSON text."""
    def get_parameter_setup_meta(self) -> int:
        """The number of setup storages."""
    def get_active_setup(self) -> ActiveSetup:
        """The active parameter setup."""
    # Measurement values
    def get_measurement_values(self) -> MeasurementValues:
        """The latest measurement result."""
    def get_measurement_meta(self) -> MeasurementMeta:
        """Units and quality names of the measurement values."""
    def get_measurement_values_meta(self) -> MeasurementValuesMeta:
        """The configured measurement tools."""
    # Profiles and images
    def get_profile(self) -> Profile:
        """The latest profile; xValues and zValues are int32 arrays."""
    def get_profile_meta(self) -> ProfileMeta:
        """Length limit and units of profiles."""
    def get_augmented_profile(self) -> AugmentedProfile:
        """The latest profile with brightness values."""
    def get_image(self) -> Image:
        """The camera image; Image.to_array() gives it as a 2-D uint8 array."""
    def get_image_meta(self) -> ImageMeta:
        """Size of the camera sensor."""
    def save_image(self, file_name: str, image: Image) -> None:
        """Writes ``image`` as a binary grey map (PGM); needs no connection. FileError when
        the file cannot be written, InvalidArgumentError for a binning of 0."""
    # Beyond the sensor's resources
    def get_host(self) -> str:
        """The sensor's host, as given."""
    def get_stream_port(self) -> int:
        """The local UDP port of the stream, as given."""
    def diagnose_stream(self) -> list[str]:
        """Likely reasons, in words, why the stream receives nothing; empty when none."""
    def set_request_timeout(self, seconds: float) -> None:
        """The time limit of each later read and write (10 s at first); InvalidArgumentError
        "Request timeout must be positive." for zero or less."""
    def set_auto_reconnect(self, enabled: bool) -> None:
        """Automatic reconnection (off at first): a request on a lost connection first opens a
        new connection and session within its time limit; a write lost after it was sent is
        never repeated, and the role needs a new login."""
    def describe_sensor_for_recording(self, settings: str = "") -> str:
        """A JSON text describing the sensor, for Stream.start_recording's sensor_description."""
    def get_stream(self) -> Stream:
        """The client's stream (the same one on every call); nothing arrives unless the
        sensor's output is aimed at it (see stream())."""
    def stream(self, port: Optional[int] = None, data_ids: Sequence[int] = (1,),
               local_address: str = "") -> StreamSession:
        """The client's stream as a ``with`` block: starts it and aims the sensor's UDP output
        at ``local_address``:``port`` (default: this host's address towards the sensor and the
        client's UDP port) with ``data_ids``; puts the output back at the end. Needs the role
        "operator" or higher."""


class Stream:
    """The sensor's UDP stream, filed into three bounded queues (profiles, measurements,
    errors). Waits release the GIL and look for Ctrl-C every 100 ms; their timeouts follow the
    rule at the top of this file (zero or less: at once; NaN: ValueError)."""

    def start(self) -> None:
        """Starts (or resumes) filing received data into the queues."""
    def stop(self) -> None:
        """Stops filing."""
    def close(self) -> None:
        """Ends the receiver and closes the socket; the queues stay readable."""
    def get_queue_capacity(self) -> int:
        """Most entries each queue keeps."""
    def set_queue_capacity(self, capacity: int) -> None:
        """Sets the capacity of the queues."""
    def get_queue_overflow_policy(self) -> QueueOverflowPolicy:
        """What a full queue does with a new entry."""
    def set_queue_overflow_policy(self, policy: QueueOverflowPolicy) -> None:
        """Sets what a full queue does with a new entry."""
    def get_receive_buffer_size(self) -> int:
        """The socket's receive buffer in bytes, as the system applied it."""
    def set_receive_buffer_size(self, bytes: int) -> None:
        """Asks for a receive buffer of ``bytes``."""
    def has_error(self) -> bool:
        """Whether the error queue holds an entry."""
    def pop_error(self) -> StreamError:
        """The oldest error; MissingError "Error queue is empty." without one."""
    def has_measurement(self) -> bool:
        """Whether the measurement queue holds an entry."""
    def pop_measurement(self) -> StreamMeasurement:
        """The oldest measurement; MissingError "Measurement queue is empty." without one."""
    def get_measurement_count(self) -> int:
        """Measurements queued."""
    def clear_measurements(self) -> None:
        """Empties the measurement queue."""
    def has_profile(self) -> bool:
        """Whether the profile queue holds an entry."""
    def pop_profile(self) -> StreamProfile:
        """The oldest profile; MissingError "Profile queue is empty." without one."""
    def get_profile_count(self) -> int:
        """Profiles queued."""
    def clear_profiles(self) -> None:
        """Empties the profile queue."""
    def pop_profile_for(self, timeout: float) -> Optional[StreamProfile]:
        """The oldest profile, waiting up to ``timeout`` seconds; None when none came (at once
        on a stream that is not started)."""
    def pop_measurement_for(self, timeout: float) -> Optional[StreamMeasurement]:
        """The oldest measurement, waiting up to ``timeout`` seconds; None when none came."""
    def pop_error_for(self, timeout: float) -> Optional[StreamError]:
        """The oldest error, waiting up to ``timeout`` seconds; None when none came."""
    def wait_for_data(self, timeout: float) -> bool:
        """Waits up to ``timeout`` seconds until any queue holds an entry."""
    def profiles(self, timeout: float = 1.0, count: Optional[int] = None,
                 millimetres: bool = False,
                 coordinates: Optional[ProfileCoordinates] = None) -> ProfileIterator:
        """Iterates over the profiles as they arrive: each step waits up to ``timeout``
        seconds; the iteration ends when none came, or after ``count`` profiles. With
        ``millimetres`` (or ``coordinates``) each is a ProfilePoints in millimetres; a
        session reads the sensor's descriptions and a replay the recording's once, a bare
        stream needs ``coordinates``."""
    def measurements(self, timeout: float = 1.0, count: Optional[int] = None) -> MeasurementIterator:
        """Iterates over the measurements, as profiles() does over profiles."""
    def errors(self, timeout: float = 0.0, count: Optional[int] = None) -> ErrorIterator:
        """Iterates over the stream's problems, as profiles() does over profiles."""
    def statistics(self) -> dict[str, int]:
        """The counters since creation or reset_statistics(), by name, and the receive buffer
        asked for and granted."""
    def get_statistics(self) -> dict[str, int]:
        """The same as statistics()."""
    def reset_statistics(self) -> None:
        """Starts a new count."""
    def start_recording(self, path: str, description_path: str = "", sensor_description: str = "",
                        buffer_datagrams: int = 8192) -> None:
        """Records every datagram received while started into the pcap file ``path``, with a
        JSON description file beside it. StateError when already recording, FileError when a
        file cannot be opened."""
    def stop_recording(self) -> dict[str, Any]:
        """Ends the recording; its status (datagramsWritten, datagramsDropped, error, ...)."""
    def get_recording_status(self) -> dict[str, Any]:
        """The status of the running recording, or of the last one."""
    def continue_recording_in(self, path: str) -> dict[str, Any]:
        """Moves the running recording into the new capture ``path`` (its description beside it)
        without losing a datagram or writing one twice; completes the previous capture and
        returns its status. StateError when not recording, FileError when a file cannot be
        opened, InvalidArgumentError for a path of the running recording; the running
        recording then goes on."""

class StreamSession(Stream):
    """Client.stream(): the client's stream with the sensor's output aimed at it for a ``with``
    block."""

    local_address: str
    def __enter__(self) -> StreamSession:
        """Starts the stream and aims the sensor's output (StateError when already open)."""
    def __exit__(self, *args: object) -> None:
        """Stops the stream and puts the sensor's output settings back."""
    def restore(self) -> None:
        """Puts the output back now, as the end of the ``with`` block does."""
    def coordinates(self) -> ProfileCoordinates:
        """The sensor's descriptions of its profiles' lengths, read now."""

class Replay(Stream):
    """A recording played back, read like a live stream (see open_recording)."""

    description: str
    def __init__(self, path: str, speed: float = 1.0, port: int = 0, loop: bool = False) -> None:
        """Opens the capture; FileError "Could not open recording <path>: ..." on failure."""
    def __enter__(self) -> Replay:
        """Starts the replay."""
    def __exit__(self, *args: object) -> None:
        """Closes the replay's stream."""
    def replay_statistics(self) -> dict[str, Any]:
        """What the replay has read from the capture (recordsRead, datagramsReplayed, ...)."""
    def wait_until_finished(self, timeout: float) -> bool:
        """Waits up to ``timeout`` seconds until the capture has been replayed to its end."""
    def coordinates(self) -> ProfileCoordinates:
        """The recorded sensor's descriptions of its profiles' lengths; ValueError when the
        recording has no description."""

class ProfileIterator(Iterator[Any]):
    def __next__(self) -> Any:
        """A StreamProfile, or a ProfilePoints in millimetres."""

class MeasurementIterator(Iterator[StreamMeasurement]):
    def __next__(self) -> StreamMeasurement: ...

class ErrorIterator(Iterator[StreamError]):
    def __next__(self) -> StreamError: ...

class RecordedDatagram:
    """One UDP datagram of a capture, as captured."""

    timeNanoseconds: int
    senderAddress: int
    senderPort: int
    receiverAddress: int
    receiverPort: int
    wireSize: int
    bytes: bytes

class RecordingReader(Iterator[RecordedDatagram]):
    """The raw datagrams of a capture, in order."""

    def __init__(self, path: str, port: int = 0) -> None:
        """Opens the capture; FileError on failure."""
    def __next__(self) -> RecordedDatagram:
        """The next datagram; FileError "Recording <path> is damaged: ..." on a damaged one."""
    def next(self) -> Optional[RecordedDatagram]:
        """The next datagram, or None at the end."""
    def rewind(self) -> None:
        """Reads again from the start."""
    def statistics(self) -> dict[str, Any]:
        """The capture's counters."""
