// The recorder on its own: a capture file that stops taking data must not hold up the stream.
#include "RecordingSupport.h"

#include "udpstreaming/recording/StreamRecorder.h"

#include <gtest/gtest.h>

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <fstream>
#include <memory>
#include <string>
#include <vector>

namespace Varkon::QUILApi::Testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using UdpStreaming::RecordingOptions;
using UdpStreaming::RecordingStatus;
using UdpStreaming::Recording::StreamRecorder;

// A named pipe with a reader that never reads: the writer's writes block once it is full.
class StalledPipe {
public:
    explicit StalledPipe(std::string path) : path(std::move(path)) {
        EXPECT_EQ(::mkfifo(this->path.c_str(), 0600), 0);
        reader = ::open(this->path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
        EXPECT_GE(reader, 0);
    }
    ~StalledPipe() { ::close(reader); }
    const std::string path;

private:
    int reader = -1;
};

// Offers far more than a pipe holds (64 KiB), so that the writer waits on it.
void OfferMoreThanAPipeHolds(StreamRecorder& recorder) {
    const std::vector<uint8_t> datagram(1400, 0x5A);
    for (int i = 0; i < 500; ++i) {
        recorder.Offer(datagram, {});
    }
}

TEST(StreamRecorderTest, StoppingAStalledCaptureReturnsSoonAndTheRecordingHasFailed) {
    TemporaryFolder folder;
    RecordingOptions options;
    options.bufferDatagrams = 1000;
    for (const bool stopFirst : {true, false}) {  // Stop, or only the destructor
        StalledPipe pipe(folder / (stopFirst ? "stopped.pcap" : "destroyed.pcap"));
        auto recorder = std::make_unique<StreamRecorder>(pipe.path, options, 29100);
        OfferMoreThanAPipeHolds(*recorder);
        const auto start = Clock::now();
        if (stopFirst) {
            const RecordingStatus status = recorder->Stop({});
            EXPECT_FALSE(status.recording);
            EXPECT_EQ(status.error.rfind("Could not write " + pipe.path +
                                             ": writing did not finish within 1 s of stopping",
                                         0),
                      0u)
                << status.error;
        }
        recorder.reset();
        EXPECT_LT(Clock::now() - start, 3s) << (stopFirst ? "Stop" : "the destructor");
    }
}

TEST(StreamRecorderTest, APipeThatNobodyReadsIsRefusedAtStart) {
    TemporaryFolder folder;
    const std::string path = folder / "unread.pcap";
    ASSERT_EQ(::mkfifo(path.c_str(), 0600), 0);
    try {
        StreamRecorder recorder(path, {}, 29100);
        ADD_FAILURE() << "no exception";
    } catch (const std::runtime_error& e) {
        EXPECT_EQ(e.what(), "Could not record to " + path + ": it is a pipe that nobody reads");
    }
}

TEST(StreamRecorderTest, OptionsThatCannotBeMetAreRefusedBeforeAnyFileIsTouched) {
    TemporaryFolder folder;
    const std::string overwrite =
        " would overwrite the capture; give the capture another name, "
        "such as one ending in .pcap";
    const struct {
        std::string capture;
        std::string description;  // RecordingOptions::descriptionPath
        std::size_t bufferDatagrams;
        std::string reason;
    } cases[] = {
        {folder / "line.json", "", 8192, "the description " + folder / "line.json" + overwrite},
        {folder / "line.pcap", folder / "line.pcap", 8192,
         "the description " + folder / "line.pcap" + overwrite},
        {folder / "line.pcap", folder / "sub/../line.pcap", 8192,
         "the description " + folder / "sub/../line.pcap" + overwrite},
        {folder / "line.pcap", "", 1'000'000,
         "a buffer of 1000000 datagrams is more than the 65536 allowed"},
    };
    for (const auto& c : cases) {
        std::ofstream(c.capture) << "earlier";
        RecordingOptions options;
        options.descriptionPath = c.description;
        options.bufferDatagrams = c.bufferDatagrams;
        try {
            StreamRecorder recorder(c.capture, options, 29100);
            ADD_FAILURE() << c.reason << ": taken";
        } catch (const std::invalid_argument& e) {
            EXPECT_EQ(e.what(), "Could not record to " + c.capture + ": " + c.reason);
        }
        EXPECT_EQ(ReadFile(c.capture), "earlier");  // nothing lost
    }
}

}  // namespace
}  // namespace Varkon::QUILApi::Testing
