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

_COMPRESSED_ZSTD = 0x01
_HAS_CHANNEL1 = 0x40
_HAS_CHANNEL2 = 0x80
_PROFILE_HEADER = struct.Struct("<IQQIHBBI")
_NO_POINT_WORD = 0  # the channel 0 word of a point without a laser line


def _zstd_decompress(frame: bytes) -> bytes:
    name = ctypes.util.find_library("zstd")
    if name is None:
        raise ValueError("the batch is zstd-compressed and libzstd is not installed")
    lib = ctypes.CDLL(name)
    lib.ZSTD_getFrameContentSize.restype = ctypes.c_ulonglong
    lib.ZSTD_getFrameContentSize.argtypes = [ctypes.c_char_p, ctypes.c_size_t]
    lib.ZSTD_decompress.restype = ctypes.c_size_t
    lib.ZSTD_decompress.argtypes = [ctypes.c_char_p, ctypes.c_size_t, ctypes.c_char_p,
                                    ctypes.c_size_t]
    lib.ZSTD_isError.restype = ctypes.c_uint
    lib.ZSTD_isError.argtypes = [ctypes.c_size_t]
    size = lib.ZSTD_getFrameContentSize(frame, len(frame))
    if size >= 2**64 - 2:  # ZSTD_CONTENTSIZE_UNKNOWN or ZSTD_CONTENTSIZE_ERROR
        raise ValueError("the batch's zstd frame is damaged")
    out = ctypes.create_string_buffer(max(size, 1))
    written = lib.ZSTD_decompress(out, size, frame, len(frame))
    if lib.ZSTD_isError(written):
        raise ValueError("the batch's zstd frame is damaged")
    return out.raw[:written]


def decode_profiles(payload: bytes) -> dict:
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

    Raises ValueError for a payload that is not such a message.
    """
    data = bytes(payload)
    if len(data) < 8 or data[:4] != MAGIC:
        raise ValueError("not a profile batch of quil-gateway")
    version, flags, name_length = struct.unpack_from("<BBH", data, 4)
    if version != VERSION:
        raise ValueError(f"profile batch version {version} is not known")
    at = 8
    sensor = data[at:at + name_length].decode("utf-8")
    at += name_length
    count, decimation = struct.unpack_from("<II", data, at)
    at += 8
    scales = struct.unpack_from("<6d", data, at)
    at += 48
    body = data[at:]
    if flags & _COMPRESSED_ZSTD:
        body = _zstd_decompress(body)

    headers = []
    channels = []
    at = 0
    for _ in range(count):
        header = _PROFILE_HEADER.unpack_from(body, at)
        at += _PROFILE_HEADER.size
        points, profile_flags = header[7], header[6]
        present = [True, bool(profile_flags & _HAS_CHANNEL1), bool(profile_flags & _HAS_CHANNEL2)]
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
