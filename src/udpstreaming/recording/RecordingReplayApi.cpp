#include <thread>

#include "quil/Quil.h"
#include "udpstreaming/QuilStreamApi.h"
#include "udpstreaming/recording/PcapDatagramReader.h"
#include "udpstreaming/recording/RecordingDescription.h"
#include "udpstreaming/recording/RecordingPieces.h"
#include "udpstreaming/recording/ReplayTransport.h"

namespace Varkon::QUILApi::UdpStreaming {

namespace {

// The port to replay: the one asked for, else the one the description names, else every port.
uint16_t PortToReplay(uint16_t asked, const std::string& description) {
    return asked != 0 ? asked : Recording::RecordingDescription::PortOf(description).value_or(0);
}

// A recording's raw datagrams, through the capture reader.
class RecordingReaderApi : public RecordingReader {
public:
    RecordingReaderApi(const std::vector<std::string>& captures, uint16_t port) : reader(captures) {
        reader.SetPort(PortToReplay(port, Recording::RecordingDescription::Read(captures.front())));
    }

    bool Next(RecordedDatagram& datagram) override {
        if (!reader.Next(datagram)) {
            return false;
        }
        ++returned;
        return true;
    }
    void Rewind() override { reader.Rewind(); }
    ReplayStatistics GetStatistics() override {
        ReplayStatistics statistics = reader.Statistics();
        statistics.datagramsReplayed = returned;
        return statistics;
    }

private:
    Recording::PcapDatagramReader reader;
    uint64_t returned = 0;
};

// A recording opened for replay: the stream over a replay transport, and the description.
class RecordingReplayApi : public RecordingReplay {
public:
    RecordingReplayApi(std::vector<std::string> captures, const ReplayOptions& options)
        : description(Recording::RecordingDescription::Read(captures.front())) {
        auto reader = std::make_unique<Recording::PcapDatagramReader>(std::move(captures));
        reader->SetPort(PortToReplay(options.port, description));
        transport = std::make_shared<Recording::ReplayTransport>(std::move(reader), options);
        stream = std::make_shared<QuilStreamApi>(transport, /*waitForRoom=*/true);
    }

    std::shared_ptr<QuilStream> GetStream() override { return stream; }
    std::string GetDescription() override { return description; }
    ReplayStatistics GetStatistics() override { return transport->Statistics(); }
    bool WaitUntilFinished(std::chrono::milliseconds timeout) override {
        const auto deadline = std::chrono::steady_clock::now() + timeout;
        if (!transport->WaitUntilFinished(timeout)) {
            return false;
        }
        // A damaged capture ends the worker, which files the error after the transport is done.
        while (!transport->Statistics().error.empty() && !stream->WorkerEnded()) {
            if (std::chrono::steady_clock::now() >= deadline) {
                return false;
            }
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
        return true;
    }

private:
    const std::string description;
    std::shared_ptr<Recording::ReplayTransport> transport;
    std::shared_ptr<QuilStreamApi> stream;
};

}  // namespace

RecordingReader::~RecordingReader() = default;

std::unique_ptr<RecordingReader> RecordingReader::Open(const std::string& path, uint16_t port) {
    return std::make_unique<RecordingReaderApi>(Recording::RecordingPieces(path), port);
}

RecordingReplay::~RecordingReplay() = default;

std::unique_ptr<RecordingReplay> RecordingReplay::Open(const std::string& path,
                                                       const ReplayOptions& options) {
    return std::make_unique<RecordingReplayApi>(Recording::RecordingPieces(path), options);
}

}  // namespace Varkon::QUILApi::UdpStreaming
