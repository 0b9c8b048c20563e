#include "StreamCapture.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstdio>
#include <ostream>
#include <stdexcept>
#include <thread>

namespace QuilTool {

using Varkon::QUILApi::UdpStreaming::PacketErrorType;

std::string LocalAddressTowards(const std::string& host) {
    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_DGRAM;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), "80", &hints, &found) != 0 || found == nullptr) {
        throw std::runtime_error("cannot resolve " + host);
    }
    // Connecting a UDP socket sends nothing; it only picks the route and the local address.
    const int fd = socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in local{};
    socklen_t length = sizeof local;
    const bool ok = fd >= 0 && connect(fd, found->ai_addr, found->ai_addrlen) == 0 &&
                    getsockname(fd, reinterpret_cast<sockaddr*>(&local), &length) == 0;
    if (fd >= 0) {
        close(fd);
    }
    freeaddrinfo(found);
    if (!ok) {
        throw std::runtime_error("no route to " + host);
    }
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &local.sin_addr, text, sizeof text);
    return text;
}

UdpOutputRedirect::UdpOutputRedirect(Varkon::QUILApi::Quil& quil, const std::string& address,
                                     uint16_t port, const std::vector<uint32_t>& dataIds)
    : quil(quil), interfaces(quil.GetProcessInterfaces()), streamData(quil.GetUDPStreamData()) {
    quil.SetUDPStreamData(Varkon::QUILApi::UDPStreamData{dataIds});
    auto aimed = interfaces;
    aimed.enableUDPStreaming = true;
    aimed.udpDestinationIP = address;
    aimed.udpDestinationPort = port;
    quil.SetProcessInterfaces(aimed);
}

UdpOutputRedirect::~UdpOutputRedirect() {
    try {
        quil.SetProcessInterfaces(interfaces);
        quil.SetUDPStreamData(streamData);
    } catch (const std::exception& e) {
        std::fprintf(stderr, "quil: could not restore the sensor's UDP output: %s\n", e.what());
    }
}

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

}  // namespace

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

CaptureCounts CaptureFromSensor(Varkon::QUILApi::Quil& quil, const std::string& host, uint16_t port,
                                const std::vector<uint32_t>& dataIds, const CaptureLimits& limits,
                                CaptureWriter& writer,
                                const std::function<void(const CaptureCounts&)>& progress) {
    auto stream = quil.GetStream();
    stream->Start();
    CaptureCounts counts;
    {
        UdpOutputRedirect redirect(quil, LocalAddressTowards(host), port, dataIds);
        counts = Capture(*stream, limits, writer, progress);
    }
    stream->Close();
    return counts;
}

void PrintCaptureSummary(std::ostream& out, const CaptureCounts& counts) {
    out << "received " << counts.Blocks() << " blocks (" << counts.profiles << " profiles, "
        << counts.measurements << " measurements) in " << counts.elapsed.count() << " s\n"
        << "lost " << counts.lost << ", duplicated " << counts.duplicated << "\n";
    if (counts.errorsByType.empty()) {
        out << "errors: none\n";
    }
    for (const auto& [type, number] : counts.errorsByType) {
        out << "errors " << ErrorTypeName(type) << ": " << number << "\n";
    }
}

std::string ErrorTypeName(uint32_t type) {
    switch (type) {
        case PacketErrorType::PacketsLost:
            return "PacketsLost";
        case PacketErrorType::UnexpectedBlockId:
            return "UnexpectedBlockId";
        case PacketErrorType::DuplicateBlockId:
            return "DuplicateBlockId";
        case PacketErrorType::FragmentTimeout:
            return "FragmentTimeout";
        case PacketErrorType::InvalidPacket:
            return "InvalidPacket";
        case PacketErrorType::EmptyContent:
            return "EmptyContent";
        case PacketErrorType::StreamingTaskException:
            return "StreamingTaskException";
        default:
            return "type " + std::to_string(type);
    }
}

}  // namespace QuilTool
