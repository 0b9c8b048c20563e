// quil.Stream and what reads like it: the stream of a client, a stream session that aims the
// sensor's output for a `with` block, and recordings played back. Waits release the GIL and
// return to Python every 100 ms to look for Ctrl-C.
#include "Client.h"
#include "Documented.h"
#include "Records.h"

#include <quil/ProfileCoordinates.h>

#include <chrono>
#include <cmath>
#include <functional>
#include <optional>

namespace QuilPython {
namespace {

using Milliseconds = std::chrono::milliseconds;

/// Waits up to `seconds` for an entry that `pop(limit)` removes. A pop that comes back empty
/// well before its limit means the stream cannot deliver (not started, stopped, closed).
template <class Entry, class Pop>
std::optional<Entry> PopWithin(double seconds, Pop&& pop) {
    std::optional<Entry> entry;
    WaitInSlices(seconds, [&](Milliseconds limit) {
        const auto start = std::chrono::steady_clock::now();
        entry = pop(limit);
        return entry.has_value() || std::chrono::steady_clock::now() - start < limit / 2;
    });
    return entry;
}

/// A binding of one of the stream's timed pops, in seconds, waiting in slices.
template <class Entry>
auto PopFor(std::optional<Entry> (QuilStream::*pop)(Milliseconds)) {
    return [pop](Stream& s, double timeout) {
        return PopWithin<Entry>(timeout, [&](Milliseconds limit) { return (s.Get().*pop)(limit); });
    };
}

/// A profile in millimetres (quil.ProfilePoints): x, z and brightness as float64 arrays, NaN
/// where the laser line gave no point, with the stream profile's header fields.
struct PointsInMillimetres {
    uint32_t blockId{};
    uint64_t timestamp{};
    uint32_t acquisitionIndex{};
    uint16_t encoderCount{};
    py::array_t<double> x;
    py::array_t<double> z;
    py::array_t<double> brightness;
};

py::array_t<double> Doubles(std::size_t count) {
    return py::array_t<double>(static_cast<py::ssize_t>(count));
}

PointsInMillimetres Millimetres(const ProfileCoordinates& coordinates, const StreamProfile& p) {
    PointsInMillimetres points{p.blockId,
                               p.timestamp,
                               p.AcquisitionIndex(),
                               p.EncoderCount(),
                               Doubles(p.hasChannel1 ? p.pointCount : 0),
                               Doubles(p.pointCount),
                               Doubles(p.hasChannel2 ? p.pointCount : 0)};
    coordinates.Convert(p, p.hasChannel1 ? points.x.mutable_data() : nullptr,
                        points.z.mutable_data(),
                        p.hasChannel2 ? points.brightness.mutable_data() : nullptr);
    return points;
}

template <class Requested>
PointsInMillimetres Millimetres(const ProfileCoordinates& coordinates, const Requested& p) {
    ProfilePoints converted = coordinates.Convert(p);
    PointsInMillimetres points;
    points.timestamp = p.timestamp;
    points.x = MoveToArray(std::move(converted.x));
    points.z = MoveToArray(std::move(converted.z));
    points.brightness = MoveToArray(std::move(converted.brightness));
    return points;
}

/// Turns a popped entry into what Python receives: the entry itself, or (a profile with
/// coordinates) its points in millimetres.
template <class Entry>
struct EntryConversion {
    std::shared_ptr<const ProfileCoordinates> coordinates;

    py::object operator()(Entry&& entry) const {
        if constexpr (std::is_same_v<Entry, StreamProfile>) {
            if (coordinates) {
                return py::cast(Millimetres(*coordinates, entry));
            }
        }
        return py::cast(std::move(entry));
    }
};

/// Iterates over the entries of one queue: each step waits up to `timeout` seconds, and the
/// iteration ends when none came, or after `count` entries.
template <class Entry>
class EntryIterator {
public:
    using Pop = std::optional<Entry> (QuilStream::*)(Milliseconds);
    EntryIterator(std::shared_ptr<QuilStream> stream, Pop pop, double timeout,
                  std::optional<uint64_t> count, EntryConversion<Entry> convert = {})
        : stream(std::move(stream)),
          pop(pop),
          timeout(timeout),
          left(count),
          convert(std::move(convert)) {}

    py::object Next() {
        if (left && *left == 0) {
            throw py::stop_iteration();
        }
        auto entry =
            PopWithin<Entry>(timeout, [&](Milliseconds limit) { return ((*stream).*pop)(limit); });
        if (!entry) {
            throw py::stop_iteration();
        }
        if (left) {
            --*left;
        }
        return convert(std::move(*entry));
    }

private:
    std::shared_ptr<QuilStream> stream;
    Pop pop;
    double timeout;
    std::optional<uint64_t> left;
    EntryConversion<Entry> convert;
};

py::dict StatisticsDict(const StreamStatistics& statistics) {
    py::dict dict;
    VisitFields<StreamStatistics>(
        [&](const auto& field) { dict[field.key] = statistics.*field.member; });
    return dict;
}

/// A stream session: the client's stream, started, with the sensor's UDP output aimed at it
/// from __enter__ to __exit__ (StreamOutputAim). Holds the library's client so that the
/// output can be put back even when the Python client is gone.
class StreamSession : public Stream {
public:
    StreamSession(const Client& client, std::optional<unsigned short> port,
                  std::vector<uint32_t> dataIds, std::string localAddress)
        : Stream(WithoutGil([&] { return client.Get().GetStream(); })),
          quil(client.Shared()),
          port(port ? *port : quil->GetStreamPort()),
          dataIds(std::move(dataIds)),
          localAddress(std::move(localAddress)) {}

    void Enter() {
        if (aim) {
            throw std::logic_error("The stream session is already open.");
        }
        WithoutGil([&] {
            Get().Start();
            try {
                aim = std::make_unique<StreamOutputAim>(*quil, port, dataIds, localAddress);
            } catch (...) {
                Get().Stop();
                throw;
            }
        });
    }

    void Exit() {
        if (!aim) {
            return;
        }
        std::unique_ptr<StreamOutputAim> ending = std::move(aim);
        WithoutGil([&] {
            Get().Stop();
            ending->Restore();
        });
    }

    std::string LocalAddress() const { return aim ? aim->GetLocalAddress() : std::string(); }

    /// The sensor's descriptions of its profiles' lengths, read now.
    ProfileCoordinates Coordinates() const {
        return WithoutGil([&] { return ProfileCoordinates::Read(*quil); });
    }

private:
    std::shared_ptr<Quil> quil;
    unsigned short port;
    std::vector<uint32_t> dataIds;
    std::string localAddress;
    std::unique_ptr<StreamOutputAim> aim;
};

/// A recording played back, read like a live stream.
class Replay : public Stream {
public:
    explicit Replay(std::unique_ptr<RecordingReplay> opened)
        : Stream(opened->GetStream()), replay(std::move(opened)) {}

    RecordingReplay& Recording() const { return *replay; }

    /// The recorded sensor's descriptions of its profiles' lengths.
    ProfileCoordinates Coordinates() const {
        return ProfileCoordinates::FromRecordingDescription(replay->GetDescription());
    }

private:
    std::unique_ptr<RecordingReplay> replay;
};

template <class Entry>
void BindEntryIterator(py::module_& m, const char* name) {
    py::class_<EntryIterator<Entry>>(m, name)
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__", &EntryIterator<Entry>::Next);
}

std::optional<uint64_t> Count(std::optional<int64_t> count) {
    if (count && *count < 0) {
        throw std::invalid_argument("count must not be negative.");
    }
    return count ? std::optional<uint64_t>(static_cast<uint64_t>(*count)) : std::nullopt;
}

/// Rows of `width` columns (0: the longest row), one per row given; shorter rows end in `fill`.
template <class Element>
py::array_t<Element> StackRows(const std::vector<const Element*>& data,
                               const std::vector<std::size_t>& sizes, std::size_t width,
                               Element fill) {
    if (width == 0) {
        for (std::size_t size : sizes) {
            width = std::max(width, size);
        }
    }
    py::array_t<Element> map(
        {static_cast<py::ssize_t>(data.size()), static_cast<py::ssize_t>(width)});
    Element* out = map.mutable_data();
    {
        GilReleased released;
        for (std::size_t r = 0; r < data.size(); ++r) {
            const std::size_t n = std::min(width, sizes[r]);
            if (n != 0) {
                std::memcpy(out, data[r], n * sizeof(Element));
            }
            std::fill(out + n, out + width, fill);
            out += width;
        }
    }
    return map;
}

/// The rows of a height map: channel `channel` of each profile, one row each. Stream profiles
/// give their 16-bit words (rows ending in zeros), profiles in millimetres (ProfilePoints)
/// float64 millimetres (rows ending in NaN): channel 0 z, 1 x, 2 brightness.
py::array Stack(py::iterable profiles, int channel, std::size_t width) {
    if (channel < 0 || channel > 2) {
        throw std::invalid_argument("channel must be 0, 1 or 2.");
    }
    const py::list kept(profiles);  // keeps every profile alive while its samples are copied
    const bool millimetres = !kept.empty() && py::isinstance<PointsInMillimetres>(kept[0]);
    std::vector<std::size_t> sizes;
    sizes.reserve(kept.size());
    if (millimetres) {
        std::vector<const double*> rows;
        for (py::handle item : kept) {
            const auto& points = item.cast<const PointsInMillimetres&>();
            const auto& values = channel == 0   ? points.z
                                 : channel == 1 ? points.x
                                                : points.brightness;
            rows.push_back(values.data());
            sizes.push_back(static_cast<std::size_t>(values.size()));
        }
        return StackRows(rows, sizes, width, std::numeric_limits<double>::quiet_NaN());
    }
    std::vector<const uint16_t*> rows;
    for (py::handle item : kept) {
        const auto& profile = item.cast<const StreamProfile&>();
        const auto& samples = channel == 0   ? profile.channel0
                              : channel == 1 ? profile.channel1
                                             : profile.channel2;
        rows.push_back(samples.data());
        sizes.push_back(samples.size());
    }
    return StackRows(rows, sizes, width, uint16_t{0});
}

/// What `profiles(millimetres=...)` converts with: `coordinates` when given, else what
/// `describe` reads (the sensor's or the recording's descriptions).
std::shared_ptr<const ProfileCoordinates> CoordinatesFor(
    bool millimetres, const std::optional<ProfileCoordinates>& coordinates,
    const std::function<ProfileCoordinates()>& describe) {
    if (coordinates) {
        return std::make_shared<const ProfileCoordinates>(*coordinates);
    }
    if (!millimetres) {
        return nullptr;
    }
    if (!describe) {
        throw std::invalid_argument(
            "millimetres need the sensor's descriptions: pass "
            "coordinates=quil.ProfileCoordinates.read(client).");
    }
    return std::make_shared<const ProfileCoordinates>(describe());
}

/// `stream.profiles(...)`: stream profiles, or their points in millimetres.
EntryIterator<StreamProfile> Profiles(const Stream& s, double timeout, std::optional<int64_t> count,
                                      bool millimetres,
                                      const std::optional<ProfileCoordinates>& coordinates,
                                      const std::function<ProfileCoordinates()>& describe = {}) {
    auto convert =
        EntryConversion<StreamProfile>{CoordinatesFor(millimetres, coordinates, describe)};
    return EntryIterator<StreamProfile>(s.Shared(), &QuilStream::PopProfileFor, timeout,
                                        Count(count), std::move(convert));
}

/// For the benchmark: seconds that a plain C++ copy of the same channels into one buffer takes.
double CopySeconds(py::iterable profiles, int channel) {
    const py::list kept(profiles);
    std::vector<const std::vector<uint16_t>*> rows;
    std::size_t total = 0;
    for (py::handle item : kept) {
        const auto& profile = item.cast<const StreamProfile&>();
        rows.push_back(channel == 0 ? &profile.channel0 : &profile.channel1);
        total += rows.back()->size();
    }
    const auto start = std::chrono::steady_clock::now();
    std::vector<uint16_t> buffer(total);
    uint16_t* out = buffer.data();
    for (const auto* row : rows) {
        out = std::copy(row->begin(), row->end(), out);
    }
    const auto seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start);
    volatile uint16_t sink = buffer.empty() ? 0 : buffer[total / 2];
    (void)sink;
    return seconds.count();
}

}  // namespace

void BindCoordinates(py::module_& m) {
    using py::arg;
    Documented<PointsInMillimetres>(m, "ProfilePoints")
        .def_readonly("block_id", &PointsInMillimetres::blockId)
        .def_readonly("blockId", &PointsInMillimetres::blockId)  // the first releases' spelling
        .def_readonly("timestamp", &PointsInMillimetres::timestamp)
        .def_readonly("acquisition_index", &PointsInMillimetres::acquisitionIndex)
        .def_readonly("encoder_count", &PointsInMillimetres::encoderCount)
        .def_readonly("x", &PointsInMillimetres::x)
        .def_readonly("z", &PointsInMillimetres::z)
        .def_readonly("brightness", &PointsInMillimetres::brightness)
        .def("__len__", [](const PointsInMillimetres& p) { return p.z.size(); })
        .def("__repr__", [](const PointsInMillimetres& p) {
            return "<quil.ProfilePoints block " + std::to_string(p.blockId) + ", " +
                   std::to_string(p.z.size()) + " points in mm>";
        });

    Documented<ProfileCoordinates>(m, "ProfileCoordinates")
        .def(py::init([](const ProfileMeta& profileMeta, const FoVMeta& fovMeta,
                         const FoVDistance& fovDistance, uint32_t zAxisDefinitionId,
                         const AxesMeta& axesMeta, uint16_t xZeroWord, uint16_t zZeroWord,
                         uint16_t noPointWord) {
                 return ProfileCoordinates(ProfileDescription{profileMeta, fovMeta, fovDistance,
                                                              zAxisDefinitionId, axesMeta},
                                           StreamWordEncoding{xZeroWord, zZeroWord, noPointWord});
             }),
             arg("profile_meta"), arg("fov_meta"), arg("fov_distance"), arg("z_axis_definition_id"),
             arg("axes_meta") = AxesMeta{}, arg("x_zero_word") = StreamWordEncoding{}.xZeroWord,
             arg("z_zero_word") = StreamWordEncoding{}.zZeroWord,
             arg("no_point_word") = StreamWordEncoding{}.noPointWord)
        .def_static(
            "read",
            [](const Client& client) {
                Quil& quil = client.Get();
                return WithoutGil([&] { return ProfileCoordinates::Read(quil); });
            },
            arg("client"))
        .def_static("from_recording_description", &ProfileCoordinates::FromRecordingDescription,
                    arg("description"))
        .def(
            "convert",
            [](const ProfileCoordinates& c, const StreamProfile& p) { return Millimetres(c, p); },
            arg("profile"))
        .def(
            "convert",
            [](const ProfileCoordinates& c, const Profile& p) { return Millimetres(c, p); },
            arg("profile"))
        .def(
            "convert",
            [](const ProfileCoordinates& c, const AugmentedProfile& p) {
                return Millimetres(c, p);
            },
            arg("profile"))
        .def_property_readonly("x_range",
                               [](const ProfileCoordinates& c) {
                                   return std::make_pair(c.XRange().low, c.XRange().high);
                               })
        .def_property_readonly("z_range",
                               [](const ProfileCoordinates& c) {
                                   return std::make_pair(c.ZRange().low, c.ZRange().high);
                               })
        .def_property_readonly("z_axis_name", &ProfileCoordinates::ZAxisName)
        .def_property_readonly("stream_x_step", &ProfileCoordinates::StreamXStep)
        .def_property_readonly("stream_z_step", &ProfileCoordinates::StreamZStep);
}

void BindStream(py::module_& m) {
    using py::arg;
    BindCoordinates(m);
    BindEntryIterator<StreamProfile>(m, "ProfileIterator");
    BindEntryIterator<StreamMeasurement>(m, "MeasurementIterator");
    BindEntryIterator<StreamError>(m, "ErrorIterator");

    Documented<Stream> stream(m, "Stream");
    stream.def("start", [](Stream& s) { WithoutGil([&] { s.Get().Start(); }); })
        .def("stop", [](Stream& s) { WithoutGil([&] { s.Get().Stop(); }); })
        .def("close", [](Stream& s) { WithoutGil([&] { s.Get().Close(); }); })
        .def("get_queue_capacity", [](Stream& s) { return s.Get().GetQueueCapacity(); })
        .def(
            "set_queue_capacity", [](Stream& s, std::size_t n) { s.Get().SetQueueCapacity(n); },
            arg("capacity"))
        .def("get_queue_overflow_policy",
             [](Stream& s) { return s.Get().GetQueueOverflowPolicy(); })
        .def(
            "set_queue_overflow_policy",
            [](Stream& s, QueueOverflowPolicy p) { s.Get().SetQueueOverflowPolicy(p); },
            arg("policy"))
        .def("get_receive_buffer_size", [](Stream& s) { return s.Get().GetReceiveBufferSize(); })
        .def(
            "set_receive_buffer_size",
            [](Stream& s, int bytes) { s.Get().SetReceiveBufferSize(bytes); }, arg("bytes"))
        .def("has_error", [](Stream& s) { return s.Get().HasError(); })
        .def("pop_error", [](Stream& s) { return s.Get().PopError(); })
        .def("has_measurement", [](Stream& s) { return s.Get().HasMeasurement(); })
        .def("pop_measurement", [](Stream& s) { return s.Get().PopMeasurement(); })
        .def("get_measurement_count", [](Stream& s) { return s.Get().GetMeasurementCount(); })
        .def("clear_measurements", [](Stream& s) { s.Get().ClearMeasurements(); })
        .def("has_profile", [](Stream& s) { return s.Get().HasProfile(); })
        .def("pop_profile", [](Stream& s) { return s.Get().PopProfile(); })
        .def("get_profile_count", [](Stream& s) { return s.Get().GetProfileCount(); })
        .def("clear_profiles", [](Stream& s) { s.Get().ClearProfiles(); })
        .def("pop_profile_for", PopFor(&QuilStream::PopProfileFor), arg("timeout"))
        .def("pop_measurement_for", PopFor(&QuilStream::PopMeasurementFor), arg("timeout"))
        .def("pop_error_for", PopFor(&QuilStream::PopErrorFor), arg("timeout"))
        .def(
            "wait_for_data",
            [](Stream& s, double timeout) {
                return WaitInSlices(timeout,
                                    [&](Milliseconds limit) {
                                        const auto start = std::chrono::steady_clock::now();
                                        return s.Get().WaitForData(limit) ||
                                               std::chrono::steady_clock::now() - start < limit / 2;
                                    }) &&
                       s.Get().WaitForData(Milliseconds(0));
            },
            arg("timeout"))
        .def("get_statistics", [](Stream& s) { return StatisticsDict(s.Get().GetStatistics()); })
        .def("statistics", [](Stream& s) { return StatisticsDict(s.Get().GetStatistics()); })
        .def("reset_statistics", [](Stream& s) { s.Get().ResetStatistics(); })
        .def(
            "start_recording",
            [](Stream& s, const std::string& path, const std::string& descriptionPath,
               const std::string& sensorDescription, std::size_t bufferDatagrams) {
                RecordingOptions options;
                options.descriptionPath = descriptionPath;
                options.sensorDescription = sensorDescription;
                options.bufferDatagrams = bufferDatagrams;
                WithoutGil([&] { s.Get().StartRecording(path, options); });
            },
            arg("path"), arg("description_path") = "", arg("sensor_description") = "",
            arg("buffer_datagrams") = RecordingOptions{}.bufferDatagrams)
        .def("stop_recording",
             [](Stream& s) { return ToDict(WithoutGil([&] { return s.Get().StopRecording(); })); })
        .def("get_recording_status", [](Stream& s) { return ToDict(s.Get().GetRecordingStatus()); })
        .def(
            "continue_recording_in",
            [](Stream& s, const std::string& path) {
                return ToDict(WithoutGil([&] { return s.Get().ContinueRecordingIn(path); }));
            },
            arg("path"))
        .def(
            "profiles",
            [](Stream& s, double timeout, std::optional<int64_t> count, bool millimetres,
               std::optional<ProfileCoordinates> coordinates) {
                return Profiles(s, timeout, count, millimetres, coordinates);
            },
            arg("timeout") = 1.0, arg("count") = py::none(), arg("millimetres") = false,
            arg("coordinates") = py::none())
        .def(
            "measurements",
            [](Stream& s, double timeout, std::optional<int64_t> count) {
                return EntryIterator<StreamMeasurement>(s.Shared(), &QuilStream::PopMeasurementFor,
                                                        timeout, Count(count));
            },
            arg("timeout") = 1.0, arg("count") = py::none())
        .def(
            "errors",
            [](Stream& s, double timeout, std::optional<int64_t> count) {
                return EntryIterator<StreamError>(s.Shared(), &QuilStream::PopErrorFor, timeout,
                                                  Count(count));
            },
            arg("timeout") = 0.0, arg("count") = py::none());

    Documented<StreamSession, Stream>(m, "StreamSession")
        .def("__enter__",
             [](py::object self) {
                 self.cast<StreamSession&>().Enter();
                 return self;
             })
        .def("__exit__", [](StreamSession& s, py::args) { s.Exit(); })
        .def("restore", &StreamSession::Exit)
        .def(
            "profiles",
            [](StreamSession& s, double timeout, std::optional<int64_t> count, bool millimetres,
               std::optional<ProfileCoordinates> coordinates) {
                return Profiles(s, timeout, count, millimetres, coordinates,
                                [&s] { return s.Coordinates(); });
            },
            arg("timeout") = 1.0, arg("count") = py::none(), arg("millimetres") = false,
            arg("coordinates") = py::none())
        .def("coordinates", &StreamSession::Coordinates)
        .def_property_readonly("local_address", &StreamSession::LocalAddress);

    auto client = py::reinterpret_borrow<py::class_<Client>>(m.attr("Client"));
    client.def(
        "get_stream",
        [](const Client& c) { return Stream(WithoutGil([&] { return c.Get().GetStream(); })); },
        py::doc(StubDocstring("Client.get_stream")));
    client.def(
        "stream",
        [](const Client& c, std::optional<unsigned short> port, std::vector<uint32_t> dataIds,
           std::string localAddress) {
            return StreamSession(c, port, std::move(dataIds), std::move(localAddress));
        },
        arg("port") = py::none(), arg("data_ids") = std::vector<uint32_t>{1},
        arg("local_address") = "", py::doc(StubDocstring("Client.stream")));

    Documented<Replay, Stream>(m, "Replay")
        .def(py::init([](const std::string& path, double speed, uint16_t port, bool loop) {
                 ReplayOptions options;
                 options.speed = speed;
                 options.port = port;
                 options.loop = loop;
                 return Replay(WithoutGil([&] { return RecordingReplay::Open(path, options); }));
             }),
             arg("path"), arg("speed") = 1.0, arg("port") = 0, arg("loop") = false)
        .def("__enter__",
             [](py::object self) {
                 auto& replay = self.cast<Replay&>();
                 WithoutGil([&] { replay.Get().Start(); });
                 return self;
             })
        .def("__exit__", [](Replay& r, py::args) { WithoutGil([&] { r.Get().Close(); }); })
        .def_property_readonly("description",
                               [](Replay& r) { return r.Recording().GetDescription(); })
        .def("replay_statistics", [](Replay& r) { return ToDict(r.Recording().GetStatistics()); })
        .def(
            "profiles",
            [](Replay& r, double timeout, std::optional<int64_t> count, bool millimetres,
               std::optional<ProfileCoordinates> coordinates) {
                return Profiles(r, timeout, count, millimetres, coordinates,
                                [&r] { return r.Coordinates(); });
            },
            arg("timeout") = 1.0, arg("count") = py::none(), arg("millimetres") = false,
            arg("coordinates") = py::none())
        .def("coordinates", &Replay::Coordinates)
        .def(
            "wait_until_finished",
            [](Replay& r, double timeout) {
                return WaitInSlices(timeout, [&](Milliseconds limit) {
                    return r.Recording().WaitUntilFinished(limit);
                });
            },
            arg("timeout"));

    Documented<RecordedDatagram>(m, "RecordedDatagram")
        .def_readonly("timeNanoseconds", &RecordedDatagram::timeNanoseconds)
        .def_readonly("senderAddress", &RecordedDatagram::senderAddress)
        .def_readonly("senderPort", &RecordedDatagram::senderPort)
        .def_readonly("receiverAddress", &RecordedDatagram::receiverAddress)
        .def_readonly("receiverPort", &RecordedDatagram::receiverPort)
        .def_readonly("wireSize", &RecordedDatagram::wireSize)
        .def_property_readonly("bytes", [](const RecordedDatagram& d) {
            return py::bytes(reinterpret_cast<const char*>(d.bytes.data()), d.bytes.size());
        });

    Documented<RecordingReader>(m, "RecordingReader")
        .def(py::init([](const std::string& path, uint16_t port) {
                 return RecordingReader::Open(path, port);
             }),
             arg("path"), arg("port") = 0)
        .def("__iter__", [](py::object self) { return self; })
        .def("__next__",
             [](RecordingReader& reader) {
                 RecordedDatagram datagram;
                 if (!WithoutGil([&] { return reader.Next(datagram); })) {
                     throw py::stop_iteration();
                 }
                 return datagram;
             })
        .def("next",
             [](RecordingReader& reader) -> std::optional<RecordedDatagram> {
                 RecordedDatagram datagram;
                 if (!WithoutGil([&] { return reader.Next(datagram); })) {
                     return std::nullopt;
                 }
                 return datagram;
             })
        .def("rewind", &RecordingReader::Rewind)
        .def("statistics", [](RecordingReader& r) { return ToDict(r.GetStatistics()); });

    m.def("stack", &Stack, arg("profiles"), arg("channel") = 0, arg("width") = 0,
          py::doc(StubDocstring("stack")));
    m.def("_copy_seconds", &CopySeconds, arg("profiles"), arg("channel") = 0);
}

}  // namespace QuilPython
