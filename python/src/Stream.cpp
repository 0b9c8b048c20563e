// quil.Stream and what reads like it: the stream of a client, a stream session that aims the
// sensor's output for a `with` block, and recordings played back. Waits release the GIL and
// return to Python every 100 ms to look for Ctrl-C.
#include "Client.h"
#include "Records.h"

#include <chrono>
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

/// Iterates over the entries of one queue: each step waits up to `timeout` seconds, and the
/// iteration ends when none came, or after `count` entries.
template <class Entry>
class EntryIterator {
public:
    using Pop = std::optional<Entry> (QuilStream::*)(Milliseconds);
    EntryIterator(std::shared_ptr<QuilStream> stream, Pop pop, double timeout,
                  std::optional<uint64_t> count)
        : stream(std::move(stream)), pop(pop), timeout(timeout), left(count) {}

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
        return py::cast(std::move(*entry));
    }

private:
    std::shared_ptr<QuilStream> stream;
    Pop pop;
    double timeout;
    std::optional<uint64_t> left;
};

py::dict StatisticsDict(const StreamStatistics& statistics) {
    py::dict dict;
    for (const auto& [name, counter] : StreamStatistics::kCounters) {
        dict[name] = statistics.*counter;
    }
    dict["receiveBufferRequested"] = statistics.receiveBufferRequested;
    dict["receiveBufferGranted"] = statistics.receiveBufferGranted;
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

/// The rows of a height map: channel `channel` of each profile, one row each, `width` columns
/// (0: the longest profile's point count); shorter rows end in zeros.
py::array_t<uint16_t> Stack(py::iterable profiles, int channel, std::size_t width) {
    if (channel < 0 || channel > 2) {
        throw std::invalid_argument("channel must be 0, 1 or 2.");
    }
    const py::list kept(profiles);  // keeps every profile alive while its samples are copied
    std::vector<const std::vector<uint16_t>*> rows;
    rows.reserve(kept.size());
    const bool wide = width == 0;
    for (py::handle item : kept) {
        const auto& profile = item.cast<const StreamProfile&>();
        const auto& samples = channel == 0   ? profile.channel0
                              : channel == 1 ? profile.channel1
                                             : profile.channel2;
        rows.push_back(&samples);
        if (wide) {
            width = std::max(width, samples.size());
        }
    }
    py::array_t<uint16_t> map(
        {static_cast<py::ssize_t>(rows.size()), static_cast<py::ssize_t>(width)});
    uint16_t* out = map.mutable_data();
    {
        GilReleased released;
        for (const auto* row : rows) {
            const std::size_t n = std::min(width, row->size());
            std::memcpy(out, row->data(), n * sizeof(uint16_t));
            std::fill(out + n, out + width, uint16_t{0});
            out += width;
        }
    }
    return map;
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

void BindStream(py::module_& m) {
    using py::arg;
    BindEntryIterator<StreamProfile>(m, "ProfileIterator");
    BindEntryIterator<StreamMeasurement>(m, "MeasurementIterator");
    BindEntryIterator<StreamError>(m, "ErrorIterator");

    py::class_<Stream> stream(m, "Stream");
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
            "profiles",
            [](Stream& s, double timeout, std::optional<int64_t> count) {
                return EntryIterator<StreamProfile>(s.Shared(), &QuilStream::PopProfileFor, timeout,
                                                    Count(count));
            },
            arg("timeout") = 1.0, arg("count") = py::none())
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

    py::class_<StreamSession, Stream>(m, "StreamSession")
        .def("__enter__",
             [](py::object self) {
                 self.cast<StreamSession&>().Enter();
                 return self;
             })
        .def("__exit__", [](StreamSession& s, py::args) { s.Exit(); })
        .def("restore", &StreamSession::Exit)
        .def_property_readonly("local_address", &StreamSession::LocalAddress);

    auto client = py::reinterpret_borrow<py::class_<Client>>(m.attr("Client"));
    client.def("get_stream", [](const Client& c) {
        return Stream(WithoutGil([&] { return c.Get().GetStream(); }));
    });
    client.def(
        "stream",
        [](const Client& c, std::optional<unsigned short> port, std::vector<uint32_t> dataIds,
           std::string localAddress) {
            return StreamSession(c, port, std::move(dataIds), std::move(localAddress));
        },
        arg("port") = py::none(), arg("data_ids") = std::vector<uint32_t>{1},
        arg("local_address") = "");

    py::class_<Replay, Stream>(m, "Replay")
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
            "wait_until_finished",
            [](Replay& r, double timeout) {
                return WaitInSlices(timeout, [&](Milliseconds limit) {
                    return r.Recording().WaitUntilFinished(limit);
                });
            },
            arg("timeout"));

    py::class_<RecordedDatagram>(m, "RecordedDatagram")
        .def_readonly("timeNanoseconds", &RecordedDatagram::timeNanoseconds)
        .def_readonly("senderAddress", &RecordedDatagram::senderAddress)
        .def_readonly("senderPort", &RecordedDatagram::senderPort)
        .def_readonly("receiverAddress", &RecordedDatagram::receiverAddress)
        .def_readonly("receiverPort", &RecordedDatagram::receiverPort)
        .def_readonly("wireSize", &RecordedDatagram::wireSize)
        .def_property_readonly("bytes", [](const RecordedDatagram& d) {
            return py::bytes(reinterpret_cast<const char*>(d.bytes.data()), d.bytes.size());
        });

    py::class_<RecordingReader>(m, "RecordingReader")
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

    m.def("stack", &Stack, arg("profiles"), arg("channel") = 0, arg("width") = 0);
    m.def("_copy_seconds", &CopySeconds, arg("profiles"), arg("channel") = 0);
}

}  // namespace QuilPython
