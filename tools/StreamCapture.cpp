#include "StreamCapture.h"

#include "Interruption.h"
#include "StreamOutputAim.h"

#include <cstdio>
#include <sstream>
#include <stdexcept>
#include <thread>

namespace QuilTool {

using Varkon::QUILApi::UdpStreaming::PacketErrorType;

namespace {

// "One or more packets lost: Last received blockid was <last>, received <received>."
uint64_t LostBlocks(const std::string& message) {
    unsigned long last = 0;
    unsigned long received = 0;
    if (std::sscanf(message.c_str(),
                    "One or more packets lost: Last received blockid was %lu, "
                    "received %lu.",
                    &last, &received) == 2 &&
        received > last) {
        return received - last - 1;
    }
    return 0;
}

// The block id that came last, to recognise a block that arrives twice in a row.
struct LastBlock {
    bool any = false;
    uint32_t id = 0;

    bool Repeats(uint32_t blockId) {
        const bool repeated = any && blockId == id;
        any = true;
        id = blockId;
        return repeated;
    }
};

// Keys of the problems in the JSON summary.
std::string ProblemKey(uint32_t type) {
    switch (type) {
        case PacketErrorType::PacketsLost:
            return "gaps";
        case PacketErrorType::UnexpectedBlockId:
            return "outOfOrder";
        case PacketErrorType::DuplicateBlockId:
            return "repeated";
        case PacketErrorType::FragmentTimeout:
            return "incomplete";
        case PacketErrorType::InvalidPacket:
            return "tooShort";
        case PacketErrorType::EmptyContent:
            return "empty";
        case PacketErrorType::StreamingTaskException:
            return "undecodable";
        default:
            return "type" + std::to_string(type);
    }
}

}  // namespace

bool CaptureCounts::LostData() const {
    const auto count = [this](uint32_t type) {
        const auto found = errorsByType.find(type);
        return found == errorsByType.end() ? 0 : found->second;
    };
    return lost != 0 || count(PacketErrorType::FragmentTimeout) != 0 ||
           count(PacketErrorType::StreamingTaskException) != 0;
}

CaptureCounts Capture(Varkon::QUILApi::UdpStreaming::QuilStream& stream,
                      const CaptureLimits& limits, CaptureWriter& writer,
                      const std::function<void(const CaptureCounts&)>& progress) {
    using Clock = std::chrono::steady_clock;
    const auto start = Clock::now();
    auto lastData = start;
    auto lastProgress = start;
    CaptureCounts counts;
    LastBlock profiles;
    LastBlock measurements;
    const auto done = [&] {
        const uint64_t counted = limits.countProfiles ? counts.profiles : counts.measurements;
        return (limits.count != 0 && counted >= limits.count) ||
               (limits.duration.count() != 0 && Clock::now() - start >= limits.duration);
    };

    const auto countErrors = [&] {
        while (stream.HasError()) {
            const auto error = stream.PopError();
            ++counts.errorsByType[error.type];
            if (error.type == PacketErrorType::PacketsLost) {
                counts.lost += LostBlocks(error.message);
            } else if (error.type == PacketErrorType::DuplicateBlockId) {
                ++counts.duplicated;
            }
        }
    };

    while (!done()) {
        InterruptionGuard::ThrowIfInterrupted();
        bool any = false;
        countErrors();
        // The stream hands on a repeated block as well as reporting it; it is written once.
        while (stream.HasProfile() && !done()) {
            const auto profile = stream.PopProfile();
            any = true;
            if (profiles.Repeats(profile.blockId)) {
                continue;
            }
            writer.Write(profile);
            ++counts.profiles;
        }
        while (stream.HasMeasurement() && !done()) {
            const auto measurement = stream.PopMeasurement();
            any = true;
            if (measurements.Repeats(measurement.blockId)) {
                continue;
            }
            writer.Write(measurement);
            ++counts.measurements;
        }
        const auto now = Clock::now();
        counts.elapsed = now - start;
        if (any) {
            lastData = now;
        } else if (now - lastData >= limits.idleLimit) {
            throw std::runtime_error("no stream data received for " +
                                     std::to_string(limits.idleLimit.count() / 1000) + " s");
        } else {
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        if (now - lastProgress >= std::chrono::milliseconds(200)) {
            progress(counts);
            lastProgress = now;
        }
    }
    countErrors();
    counts.elapsed = Clock::now() - start;
    writer.Finish();
    return counts;
}

CaptureCounts CaptureFromSensor(Context& context, Varkon::QUILApi::Quil& quil,
                                const CaptureTarget& target, const CaptureLimits& limits,
                                CaptureWriter& writer,
                                const std::function<void(const CaptureCounts&)>& progress) {
    // From here on a signal is only recorded: the flow below puts the sensor back first.
    InterruptionGuard guard;
    auto stream = quil.GetStream();
    stream->Start();
    context.ExpectAnswers();
    StreamOutputAim aim(quil, context.host, target.port, target.dataIds, context.localAddress);
    const auto restore = [&] {
        context.ExpectAnswers("; its UDP output may still be aimed at " + aim.GetLocalAddress() +
                              " (see quil get process-interfaces)");
        aim.Restore();
        context.watchdog.Disarm();
    };
    CaptureCounts counts;
    try {
        context.watchdog.Disarm();  // the capture has its own limit for silence
        counts = Capture(*stream, limits, writer, progress);
    } catch (...) {
        restore();  // a failed restore is the error that leaves
        stream->Close();
        throw;
    }
    restore();
    stream->Close();
    return counts;
}

std::string CaptureSummary(const CaptureCounts& counts) {
    std::ostringstream out;
    out << "received " << counts.profiles << " profiles and " << counts.measurements
        << " measurements in " << counts.elapsed.count() << " s\n"
        << "lost " << counts.lost << " blocks\n";
    std::string problems;
    for (const auto& [type, number] : counts.errorsByType) {
        problems += (problems.empty() ? "" : ", ") + std::to_string(number) + " " +
                    ProblemWords(type);
    }
    out << "stream problems: " << (problems.empty() ? "none" : problems) << "\n";
    return out.str();
}

nlohmann::json CaptureSummaryJson(const CaptureCounts& counts) {
    nlohmann::json problems = nlohmann::json::object();
    for (const auto& [type, number] : counts.errorsByType) {
        problems[ProblemKey(type)] = number;
    }
    return {{"profiles", counts.profiles},
            {"measurements", counts.measurements},
            {"seconds", counts.elapsed.count()},
            {"lost", counts.lost},
            {"problems", problems}};
}

std::string ProblemWords(uint32_t type) {
    switch (type) {
        case PacketErrorType::PacketsLost:
            return "gaps in the block ids";
        case PacketErrorType::UnexpectedBlockId:
            return "blocks out of order";
        case PacketErrorType::DuplicateBlockId:
            return "repeated blocks (written once)";
        case PacketErrorType::FragmentTimeout:
            return "blocks left incomplete (fragments missing)";
        case PacketErrorType::InvalidPacket:
            return "datagrams too short for a packet";
        case PacketErrorType::EmptyContent:
            return "empty blocks";
        case PacketErrorType::StreamingTaskException:
            return "blocks that could not be decoded";
        default:
            return "problems of kind " + std::to_string(type);
    }
}

}  // namespace QuilTool
