"""Messages that quil-gateway publishes over MQTT, decoded.

The profiles lane (topic ``quil/v1/<group>/<sensor>/profiles``) carries batches of profiles in
the little-endian layout that gateway/README.md describes. :func:`decode_profiles` reads one
message into numpy arrays; it needs nothing but numpy, and for zstd-compressed batches the
system's libzstd (loaded with ctypes).

>>> batch = decode_profiles(message.payload)
>>> batch["z"]  # millimetres, one row per profile; NaN where there is no point
"""

import ctypes
import ctypes.util
import struct

import numpy as np

MAGIC = b"QPRF"
VERSION = 1
# The most bytes a message's profiles may take (after decompression), and the most its profiles
# may take once arranged in arrays of equal rows: a message that declares more is refused
# before anything of that size is allocated.
MAX_BODY_BYTES = 64 * 1024 * 1024

_COMPRESSED_ZSTD = 0x01
_HAS_CHANNEL1 = 0x40
_HAS_CHANNEL2 = 0x80
_BATCH_HEADER = struct.Struct("<4sBBH")
_BATCH_FIELDS = struct.Struct("<II6d")
_PROFILE_HEADER = struct.Struct("<IQQIHBBI")
_NO_POINT_WORD = 0  # the channel 0 word of a point without a laser line


class _ZstdInBuffer(ctypes.Structure):
    _fields_ = [("src", ctypes.c_void_p), ("size", ctypes.c_size_t), ("pos", ctypes.c_size_t)]


class _ZstdOutBuffer(ctypes.Structure):
    _fields_ = [("dst", ctypes.c_void_p), ("size", ctypes.c_size_t), ("pos", ctypes.c_size_t)]


def _zstd_library():
    name = ctypes.util.find_library("zstd")
    if name is None:
        raise ValueError("the batch is zstd-compressed and libzstd is not installed")
    lib = ctypes.CDLL(name)
    lib.ZSTD_createDStream.restype = ctypes.c_void_p
    lib.ZSTD_freeDStream.argtypes = [ctypes.c_void_p]
    lib.ZSTD_initDStream.restype = ctypes.c_size_t
    lib.ZSTD_initDStream.argtypes = [ctypes.c_void_p]
    lib.ZSTD_decompressStream.restype = ctypes.c_size_t
    lib.ZSTD_decompressStream.argtypes = [ctypes.c_void_p, ctypes.POINTER(_ZstdOutBuffer),
                                          ctypes.POINTER(_ZstdInBuffer)]
    lib.ZSTD_isError.restype = ctypes.c_uint
    lib.ZSTD_isError.argtypes = [ctypes.c_size_t]
    return lib


def _zstd_decompress(frame: bytes, limit: int) -> bytes:
    """The content of the one zstd frame `frame`, decompressed in steps so that no more than
    `limit` bytes are ever held, whatever size the frame declares."""
    lib = _zstd_library()
    stream = lib.ZSTD_createDStream()
    if not stream:
        raise ValueError("the batch cannot be decompressed: out of memory")
    try:
        if lib.ZSTD_isError(lib.ZSTD_initDStream(stream)):
            raise ValueError("the batch's zstd frame is damaged")
        source = ctypes.create_string_buffer(frame, len(frame))
        chunk = ctypes.create_string_buffer(min(limit, 1 << 20) + 1)
        into = _ZstdInBuffer(ctypes.cast(source, ctypes.c_void_p), len(frame), 0)
        pieces = []
        size = 0
        while True:
            step = _ZstdOutBuffer(ctypes.cast(chunk, ctypes.c_void_p), len(chunk), 0)
            left = lib.ZSTD_decompressStream(stream, ctypes.byref(step), ctypes.byref(into))
            if lib.ZSTD_isError(left):
                raise ValueError("the batch's zstd frame is damaged")
            size += step.pos
            if size > limit:
                raise ValueError(f"the batch's profiles take more than {limit} bytes")
            pieces.append(ctypes.string_at(chunk, step.pos))
            if left == 0:  # the frame is complete
                if into.pos != into.size:
                    raise ValueError("the batch has bytes after its zstd frame")
                return b"".join(pieces)
            if into.pos == into.size and step.pos < step.size:
                raise ValueError("the batch's zstd frame is cut short")
    finally:
        lib.ZSTD_freeDStream(stream)


def decode_profiles(payload: bytes, max_body_bytes: int = MAX_BODY_BYTES) -> dict:
    """One message of the profiles lane as a dict of numpy arrays, one entry per profile:

    ``sensor`` (str), ``decimation`` (every k-th profile was kept), ``scale`` and ``offset``
    (per channel: millimetres = raw * scale + offset), ``block_id``, ``sensor_time_us``,
    ``arrival_time_us`` (this gateway's clock, microseconds since 1970), ``field6`` (encoder),
    ``field18``, ``quality``, ``flags`` (bits 0 to 3: flags 1 to 4), ``point_count``, and
    ``channel0``, ``channel1``, ``channel2``: raw words of shape (profiles, most points), zero
    beyond a profile's point count; ``channel1``/``channel2`` are None when no profile has it.
    In millimetres, as the sensor's own descriptions give them: ``z`` (channel 0) and ``x``
    (channel 1, None without it), and ``brightness`` (channel 2, None without it), as float
    arrays of the same shape, NaN beyond a profile's point count, in a profile without the
    channel and, for ``z`` and ``brightness``, where a point has no laser line.

    A message whose profiles take more than ``max_body_bytes`` (MAX_BODY_BYTES, 64 MiB, unless
    given), decompressed or arranged in arrays, is refused before that much is allocated.

    Raises ValueError, with a text that tells what is wrong, for a payload that is not such a
    message.
    """
    data = bytes(payload)
    if len(data) < _BATCH_HEADER.size:
        raise ValueError("not a profile batch of quil-gateway")
    magic, version, flags, name_length = _BATCH_HEADER.unpack_from(data, 0)
    if magic != MAGIC:
        raise ValueError("not a profile batch of quil-gateway")
    if version != VERSION:
        raise ValueError(f"profile batch version {version} is not known")
    at = _BATCH_HEADER.size
    if len(data) < at + name_length + _BATCH_FIELDS.size:
        raise ValueError("the profile batch ends within its header")
    try:
        sensor = data[at:at + name_length].decode("utf-8")
    except UnicodeDecodeError:
        raise ValueError("the profile batch's sensor name is not UTF-8") from None
    at += name_length
    count, decimation, *scales = _BATCH_FIELDS.unpack_from(data, at)
    at += _BATCH_FIELDS.size
    body = data[at:]
    if flags & _COMPRESSED_ZSTD:
        body = _zstd_decompress(body, max_body_bytes)
    elif len(body) > max_body_bytes:
        raise ValueError(f"the batch's profiles take more than {max_body_bytes} bytes")
    if count * _PROFILE_HEADER.size > len(body):
        raise ValueError(f"the profile batch declares {count} profiles and holds fewer")

    headers = []
    channels = []
    at = 0
    for index in range(count):
        if at + _PROFILE_HEADER.size > len(body):
            raise ValueError(f"the profile batch ends within profile {index}")
        header = _PROFILE_HEADER.unpack_from(body, at)
        at += _PROFILE_HEADER.size
        points, profile_flags = header[7], header[6]
        present = [True, bool(profile_flags & _HAS_CHANNEL1), bool(profile_flags & _HAS_CHANNEL2)]
        if at + 2 * points * sum(present) > len(body):
            raise ValueError(f"profile {index} of the batch declares {points} points and holds "
                             "fewer")
        profile_channels = []
        for has in present:
            if has:
                profile_channels.append(np.frombuffer(body, dtype="<u2", count=points, offset=at))
                at += 2 * points
            else:
                profile_channels.append(None)
        headers.append(header)
        channels.append(profile_channels)
    if at != len(body):
        raise ValueError("profile batch has a wrong length")

    columns = np.array(headers, dtype=np.uint64).reshape(count, 8)
    most = int(columns[:, 7].max()) if count else 0
    if 2 * count * most > max_body_bytes:
        raise ValueError(f"the batch's profiles take more than {max_body_bytes} bytes as arrays "
                         f"({count} profiles of up to {most} points)")

    def stacked(index):
        if all(profile[index] is None for profile in channels):
            return None
        out = np.zeros((count, most), dtype=np.uint16)
        for row, profile in enumerate(channels):
            if profile[index] is not None:
                out[row, :len(profile[index])] = profile[index]
        return out

    raw = [stacked(index) for index in range(3)]
    counts = columns[:, 7].astype(np.int64)
    inside = np.arange(most)[np.newaxis, :] < counts[:, np.newaxis]
    has_point = inside & (raw[0] != _NO_POINT_WORD)

    def converted(index, where):
        if raw[index] is None:
            return None
        carried = np.array([profile[index] is not None for profile in channels])[:, np.newaxis]
        values = raw[index] * scales[2 * index] + scales[2 * index + 1]
        return np.where(where & carried, values, np.nan)

    return {
        "sensor": sensor,
        "decimation": decimation,
        "scale": np.array(scales[0::2]),
        "offset": np.array(scales[1::2]),
        "block_id": columns[:, 0].astype(np.uint32),
        "sensor_time_us": columns[:, 1],
        "arrival_time_us": columns[:, 2],
        "field6": columns[:, 3].astype(np.uint32),
        "field18": columns[:, 4].astype(np.uint16),
        "quality": columns[:, 5].astype(np.uint8),
        "flags": (columns[:, 6] & 0x0F).astype(np.uint8),
        "point_count": columns[:, 7].astype(np.uint32),
        "channel0": raw[0],
        "channel1": raw[1],
        "channel2": raw[2],
        "z": converted(0, has_point),
        "x": converted(1, inside),
        "brightness": converted(2, has_point),
    }
