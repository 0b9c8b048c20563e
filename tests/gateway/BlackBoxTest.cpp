// The black box on its own, tended by the test as the sensor's thread tends it: it makes its
// folder again when that is deleted under it, and on a folder it cannot write it tells why,
// once, and keeps counting the pieces there.
#include "BlackBox.h"
#include "TempDirectory.h"
#include "support/TestAddresses.h"
#include "support/Wait.h"

#include <gtest/gtest.h>
#include <linux/capability.h>
#include <sys/syscall.h>
#include <unistd.h>
#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/udp.hpp>

#include <chrono>
#include <filesystem>
#include <memory>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

namespace Varkon::QuilGateway::Testing {
namespace {

namespace fs = std::filesystem;
using namespace std::chrono_literals;

// The log's lines without the time each starts with when journald does not take them.
std::string WithoutTimes(const std::string& log) {
    std::string lines;
    std::istringstream in(log);
    for (std::string line; std::getline(in, line);) {
        const auto program = line.find("quil-gateway: ");
        lines += (program == std::string::npos ? line : line.substr(program)) + "\n";
    }
    return lines;
}
using Varkon::QUILApi::Testing::TestAddress;
using Varkon::QUILApi::Testing::TestPort;

// Folder modes bind this thread (and the threads it starts) also when the tests run as root.
class ModesBindRoot {
public:
    ModesBindRoot() {
        syscall(SYS_capget, &header, saved);
        __user_cap_data_struct dropped[2] = {saved[0], saved[1]};
        dropped[0].effective &= ~(1u << CAP_DAC_OVERRIDE);
        syscall(SYS_capset, &header, dropped);
    }
    ~ModesBindRoot() { syscall(SYS_capset, &header, saved); }
    ModesBindRoot(const ModesBindRoot&) = delete;
    ModesBindRoot& operator=(const ModesBindRoot&) = delete;

private:
    __user_cap_header_struct header{_LINUX_CAPABILITY_VERSION_3, 0};
    __user_cap_data_struct saved[2]{};
};

// A black box of one second (pieces of 125 ms) on a stream that the test feeds.
class BlackBoxTest : public ::testing::Test {
protected:
    void SetUp() override {
        client = Varkon::QUILApi::Quil::Create(TestAddress(0), TestPort(0));
        stream = client->GetStream();
        stream->Start();
        socket.open(boost::asio::ip::udp::v4());
        socket.bind({boost::asio::ip::make_address_v4(TestAddress(0)), 0});
        settings.folder = directory.Path("box");
        settings.seconds = 1;
    }

    // Tends `box` for `time`, a datagram sent before each Tend.
    void Tend(BlackBox& box, std::chrono::milliseconds time) {
        const std::vector<uint8_t> datagram(200, 0x5A);
        const boost::asio::ip::udp::endpoint to(boost::asio::ip::make_address_v4("127.0.0.1"),
                                                TestPort(0));
        const auto until = std::chrono::steady_clock::now() + time;
        while (std::chrono::steady_clock::now() < until) {
            socket.send_to(boost::asio::buffer(datagram), to);
            box.Tend();
            std::this_thread::sleep_for(5ms);  // the sensor's thread's pace
        }
    }

    std::size_t Captures(const std::string& folder) const {
        std::size_t count = 0;
        std::error_code error;
        for (const auto& entry : fs::directory_iterator(folder, error)) {
            count += entry.path().extension() == ".pcap" ? 1 : 0;
        }
        return count;
    }

    TempDirectory directory;
    BlackBoxSettings settings;
    std::unique_ptr<Varkon::QUILApi::Quil> client;
    std::shared_ptr<Varkon::QUILApi::UdpStreaming::QuilStream> stream;
    boost::asio::io_context context;
    boost::asio::ip::udp::socket socket{context};
};

// Longer than the window: pieces of before the deletion would have aged out by then.
TEST_F(BlackBoxTest, AFolderDeletedUnderItIsMadeAgainAndKeptRecordingsReadAsOne) {
    BlackBox box(settings, "left");
    box.Attach(stream, "");
    Tend(box, 300ms);
    ::testing::internal::CaptureStderr();
    fs::remove_all(settings.folder);
    Tend(box, 1500ms);
    const KeepAnswer answer = box.Keep("after");
    const std::string log = WithoutTimes(::testing::internal::GetCapturedStderr());
    EXPECT_EQ(answer.outcome, KeepAnswer::Outcome::Kept) << answer.text << "\n" << log;
    EXPECT_EQ(log, "quil-gateway: sensor left: black box: made " + settings.folder +
                       "/window again, as it was gone\nquil-gateway: sensor left: black box " +
                       answer.text + "\n");
    EXPECT_GT(box.DiskBytes(), 0u);
    auto kept =
        Varkon::QUILApi::UdpStreaming::RecordingReader::Open(settings.folder + "/kept/after");
    Varkon::QUILApi::UdpStreaming::RecordedDatagram datagram;
    std::size_t datagrams = 0;
    while (kept->Next(datagram)) {
        ++datagrams;
    }
    EXPECT_GT(datagrams, 100u);
}

// Pieces a previous run left on a folder that has become read-only stay counted after the
// window's seconds, and a keep answers why it cannot be made; the failure is told once.
TEST_F(BlackBoxTest, AFolderItCannotWriteIsToldOnceAndItsPiecesStayCounted) {
    {
        BlackBox previous(settings, "left");
        previous.Attach(stream, "");
        Tend(previous, 400ms);
    }
    const std::string window = settings.folder + "/window";
    const std::size_t left = Captures(window);
    ASSERT_GE(left, 2u);
    const ModesBindRoot modesBindRoot;
    fs::permissions(window,
                    fs::perms::owner_write | fs::perms::group_write | fs::perms::others_write,
                    fs::perm_options::remove);
    fs::permissions(settings.folder, fs::perms::owner_write, fs::perm_options::remove);
    ::testing::internal::CaptureStderr();
    KeepAnswer answer;
    uint64_t bytes = 0;
    {
        BlackBox box(settings, "left");
        box.Attach(stream, "");
        Tend(box, 1500ms);
        answer = box.Keep("jam");
        bytes = box.DiskBytes();
    }
    const std::string log = WithoutTimes(::testing::internal::GetCapturedStderr());
    fs::permissions(settings.folder, fs::perms::owner_all, fs::perm_options::add);
    fs::permissions(window, fs::perms::owner_all, fs::perm_options::add);
    EXPECT_EQ(Captures(window), left);
    EXPECT_GT(bytes, 0u);
    EXPECT_EQ(answer.outcome, KeepAnswer::Outcome::Failed);
    EXPECT_EQ(answer.text,
              "the black box cannot write to " + settings.folder + "/kept/jam: Permission denied");
    EXPECT_EQ(log, "quil-gateway: sensor left: black box: cannot write to " + window +
                       ": Permission denied\nquil-gateway: sensor left: black box not kept as "
                       "jam: " +
                       answer.text + "\n");
}

}  // namespace
}  // namespace Varkon::QuilGateway::Testing
