// Replaying captures: the pace, and captures that are damaged or hold something else.
#include "CaptureBytes.h"
#include "RecordingSupport.h"

#include <quil/ReplayPace.h>
#include <quil/sim/PacketEncoder.h>
#include "udpstreaming/recording/DatagramRing.h"
#include "udpstreaming/recording/Ipv4Udp.h"
#include "udpstreaming/recording/PcapWriter.h"
#include "udpstreaming/recording/RecordingDescription.h"

#include <gtest/gtest.h>

#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <fstream>
#include <functional>
#include <limits>
#include <sstream>

namespace Varkon::QUILApi::Testing {
namespace {

using namespace std::chrono_literals;
using Clock = std::chrono::steady_clock;
using UdpStreaming::RecordingReplay;
using UdpStreaming::ReplayOptions;
using UdpStreaming::Recording::DatagramRing;
using UdpStreaming::Recording::PcapWriter;
using UdpStreaming::Recording::RecordingDescription;

constexpr uint32_t kSensor = 0x7F000001;  // 127.0.0.1

// A measurement block (data id 0) with block id `blockId`, as one datagram.
std::vector<uint8_t> MeasurementDatagram(uint32_t blockId) {
    std::vector<uint8_t> datagram(8 + 50, 0);
    for (int i = 0; i < 4; ++i) {
        datagram[i] = static_cast<uint8_t>(blockId >> (8 * i));
    }
    return datagram;  // kind 0: the whole block; payload byte 0: data id 0
}

constexpr int64_t kFirstArrival = 1'700'000'000'000'000;  // microseconds since 1970

// Writes `count` datagrams to port 29100, `spacing` apart, with libpcap: measurements with block
// ids 1, 2, ..., or what `datagramOf` makes of the block id.
void WriteCapture(
    const std::string& path, uint32_t count, std::chrono::microseconds spacing,
    const std::function<std::vector<uint8_t>(uint32_t)>& datagramOf = MeasurementDatagram) {
    PcapWriter writer(path, 29100);
    DatagramRing::Slot slot{};
    for (uint32_t i = 0; i < count; ++i) {
        const auto datagram = datagramOf(i + 1);
        slot.arrivalMicroseconds = kFirstArrival + i * spacing.count();
        slot.senderAddress = kSensor;
        slot.senderPort = 5000;
        slot.size = slot.wireSize = static_cast<uint32_t>(datagram.size());
        std::copy(datagram.begin(), datagram.end(), slot.Datagram());
        ASSERT_TRUE(writer.Write(slot));
    }
    ASSERT_TRUE(writer.Close());
}

std::vector<char> Bytes(const std::string& path) {
    std::ifstream file(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(file), std::istreambuf_iterator<char>()};
}

void WriteBytes(const std::string& path, const std::vector<char>& bytes) {
    std::ofstream(path, std::ios::binary)
        .write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}

double Milliseconds(Clock::duration duration) {
    return std::chrono::duration<double, std::milli>(duration).count();
}

// Elapsed time of replaying a 1 kHz capture of one second, at `speed`.
Clock::duration ReplayTime(const std::string& path, double speed) {
    ReplayOptions options;
    options.speed = speed;
    auto replay = RecordingReplay::Open(path, options);
    auto stream = replay->GetStream();
    stream->Start();
    const auto first = stream->PopMeasurementFor(5s);
    const auto start = Clock::now();
    EXPECT_TRUE(first.has_value());
    std::optional<UdpStreaming::StreamMeasurement> last;
    for (int i = 1; i < 1001; ++i) {
        last = stream->PopMeasurementFor(5s);
        if (!last) {
            break;
        }
    }
    const auto elapsed = Clock::now() - start;
    EXPECT_TRUE(last && last->blockId == 1001);
    return elapsed;
}

TEST(ReplayTest, RecordedPaceKeepsTheSpacingAndAsFastAsPossibleIsTenTimesFaster) {
    TemporaryFolder folder;
    WriteCapture(folder / "1khz.pcap", 1001, 1000us);  // one second, 1 kHz
    // The replay keeps to the capture's clock, so a late wake-up delays one entry and is not
    // carried over: a busy machine (a sanitizer, a parallel build) moves the first and the last
    // entry by a scheduler's slice, while a drift of 20 us per entry would add up past 20 ms.
    const auto recorded = ReplayTime(folder / "1khz.pcap", 1.0);
    EXPECT_NEAR(Milliseconds(recorded), 1000.0, 20.0);
    const auto doubled = ReplayTime(folder / "1khz.pcap", 2.0);
    EXPECT_NEAR(Milliseconds(doubled), 500.0, 20.0);
    const auto fastest = ReplayTime(folder / "1khz.pcap", ReplayOptions::kAsFastAsPossible);
    EXPECT_LT(fastest * 10, recorded);
}

TEST(ReplayTest, ProfilesArriveAtTheirCaptureTimes) {
    TemporaryFolder folder;
    WriteCapture(folder / "profiles.pcap", 3, 1500us, [](uint32_t blockId) {
        Sim::ProfileFields fields;
        fields.dataId = 1;
        fields.pointCount = 2;
        return Sim::WholeBlock(blockId, Sim::ProfilePayload(fields, {1, 2, 3, 4}));
    });
    ReplayOptions options;
    options.speed = ReplayOptions::kAsFastAsPossible;
    auto replay = RecordingReplay::Open(folder / "profiles.pcap", options);
    auto stream = replay->GetStream();
    stream->SetArrivalTimes(true);
    stream->Start();
    for (int64_t i = 0; i < 3; ++i) {
        const auto timed = stream->PopTimedProfileFor(5s);
        ASSERT_TRUE(timed.has_value()) << i;
        EXPECT_EQ(timed->arrivalMicroseconds, kFirstArrival + i * 1500) << i;
    }
}

TEST(ReplayTest, CloseEndsAReplayThatWaitsForItsPace) {
    TemporaryFolder folder;
    WriteCapture(folder / "slow.pcap", 2, 1000us);
    ReplayOptions options;
    options.speed = 0.001;  // the second datagram is due a second after the first
    auto replay = RecordingReplay::Open(folder / "slow.pcap", options);
    auto stream = replay->GetStream();
    stream->Start();
    ASSERT_TRUE(stream->PopMeasurementFor(5s).has_value());
    const auto start = Clock::now();
    stream->Close();
    EXPECT_LT(Clock::now() - start, 500ms);
}

TEST(ReplayTest, SpeedsOutsideTheRangeAreRefused) {
    TemporaryFolder folder;
    const std::string path = folder / "line.pcap";
    WriteCapture(path, 2, 100us);
    const double refused[] = {-1,
                              1e-300,
                              0.0009,
                              1001,
                              1e300,
                              std::numeric_limits<double>::infinity(),
                              std::numeric_limits<double>::quiet_NaN()};
    for (const double speed : refused) {
        ReplayOptions options;
        options.speed = speed;
        std::ostringstream expected;
        expected << "Replay speed " << speed
                 << " is out of range: 0 (as fast as possible) or 0.001 to 1000";
        try {
            RecordingReplay::Open(path, options);
            ADD_FAILURE() << speed << " taken";
        } catch (const std::invalid_argument& e) {
            EXPECT_EQ(e.what(), expected.str());
        }
    }
    for (const double speed : {0.0, 0.001, 1.0, 1000.0}) {
        ReplayOptions options;
        options.speed = speed;
        EXPECT_NO_THROW(RecordingReplay::Open(path, options)) << speed;
    }
}

// When each datagram is due: a slower speed always waits longer, the distance between any two
// time stamps is taken without overflow, and a single gap waits a day at most.
TEST(ReplayTest, PaceWaitsInProportionUpToADayPerGap) {
    using Pace = UdpStreaming::Recording::ReplayPace;
    constexpr int64_t kSecond = 1'000'000'000;
    constexpr int64_t kLowest = std::numeric_limits<int64_t>::min();
    constexpr int64_t kHighest = std::numeric_limits<int64_t>::max();
    const auto t0 = Clock::now();
    const struct {
        double speed;
        int64_t first, second;           // capture times of two datagrams
        std::chrono::nanoseconds after;  // when the second is due after the first
    } cases[] = {
        {1, 0, kSecond, 1s},
        {0.5, 0, kSecond, 2s},
        {1000, 0, kSecond, 1ms},
        {1, 0, 3 * 3600 * kSecond, 3h},         // hours apart: the gap is replayed
        {0.001, 0, 100 * 3600 * kSecond, 24h},  // once overflowed into a negative wait
        {1, 0, 68 * 365 * 24 * 3600 * kSecond, 24h},
        {0.001, kLowest, kHighest, 24h},
        {1, kSecond, 0, 0s},  // back in time: the clock starts again
    };
    for (const auto& c : cases) {
        Pace pace(c.speed);
        EXPECT_EQ(pace.Due(c.first, t0), t0);
        EXPECT_EQ(pace.Due(c.second, t0) - t0, c.after) << c.speed << " " << c.second;
    }
    // After a gap cut to a day, the datagrams after it keep their own spacing.
    Pace pace(1);
    pace.Due(0, t0);
    const auto afterGap = pace.Due(kHighest - kSecond, t0);
    EXPECT_EQ(pace.Due(kHighest, t0 + 5s) - afterGap, 1s);
}

TEST(ReplayTest, LoopingStartsAgainAndTheDescriptionNamesThePort) {
    TemporaryFolder folder;
    WriteCapture(folder / "short.pcap", 10, 100us);
    std::ofstream(folder / "short.json") << R"({"stream": {"port": 29100}})";
    ReplayOptions options;
    options.speed = ReplayOptions::kAsFastAsPossible;
    options.loop = true;
    auto replay = RecordingReplay::Open(folder / "short.pcap", options);
    auto stream = replay->GetStream();
    stream->Start();
    for (uint32_t i = 0; i < 35; ++i) {
        const auto measurement = stream->PopMeasurementFor(5s);
        ASSERT_TRUE(measurement);
        EXPECT_EQ(measurement->blockId, i + 1);  // each pass goes on counting
    }
    EXPECT_GE(replay->GetStatistics().passes, 3u);
    EXPECT_FALSE(stream->HasError());  // no jump back at a seam
    EXPECT_FALSE(replay->WaitUntilFinished(10ms));

    // The description's port filters: a capture of port 29100 named as port 29101 yields nothing.
    std::ofstream(folder / "short.json") << R"({"stream": {"port": 29101}})";
    const Delivered other = ReplayAll(folder / "short.pcap");
    EXPECT_TRUE(other.measurements.empty());
    EXPECT_EQ(other.replay.datagramsOtherPort, 10u);
}

// Each damaged or foreign file gives one clear error, never a crash or a hang.
TEST(ReplayTest, AReaderSlowerThanTheReplayLosesNothing) {
    TemporaryFolder folder;
    WriteCapture(folder / "many.pcap", 200, 10us);
    ReplayOptions options;
    options.speed = ReplayOptions::kAsFastAsPossible;
    auto replay = RecordingReplay::Open(folder / "many.pcap", options);
    auto stream = replay->GetStream();
    stream->SetQueueCapacity(4);  // the replay waits for room instead of dropping
    stream->Start();
    for (uint32_t i = 1; i <= 200; ++i) {
        const auto measurement = stream->PopMeasurementFor(5s);
        ASSERT_TRUE(measurement);
        ASSERT_EQ(measurement->blockId, i);
    }
    EXPECT_TRUE(replay->WaitUntilFinished(5s));
    EXPECT_EQ(stream->GetStatistics().measurementsDropped, 0u);
}

TEST(ReplayTest, DamagedCapturesGiveOneClearError) {
    TemporaryFolder folder;
    const std::string good = folder / "good.pcap";
    WriteCapture(good, 20, 100us);
    const std::vector<char> bytes = Bytes(good);
    const std::size_t record = 16 + 28 + 58;  // record header, IPv4 and UDP headers, datagram

    struct Case {
        const char* name;
        std::vector<char> content;
        const char* openError;        // the text of Open's exception, or null
        const char* streamError;      // the start of the stream's error, or null
        std::size_t measurements;     // delivered before the damage
        const char* piece = nullptr;  // the content is this file in a folder, the recording
    };
    std::vector<char> cut(bytes.begin(), bytes.begin() + 24 + 5 * record + 30);
    std::vector<char> badLength = bytes;
    badLength[24 + 3 * record + 8 + 2] = 0x7F;  // captured length of record 4: far too long
    std::vector<char> linkType = bytes;
    linkType[20] = 105;  // IEEE 802.11
    const Case cases[] = {
        {"text", std::vector<char>(100, 'x'), "unknown file format", nullptr, 0},
        {"empty", {}, "truncated dump file", nullptr, 0},
        {"linktype", linkType, "link type 105 (IEEE802_11) is not supported", nullptr, 0},
        {"cut", cut, nullptr, "truncated dump file", 5},
        {"length", badLength, nullptr, "invalid packet capture length", 3},
        {"no-piece", {'{', '}'}, "it holds no capture", nullptr, 0, "00000001.json"},
        {"text-piece", std::vector<char>(100, 'x'), "unknown file format", nullptr, 0,
         "00000001.pcap"},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        std::string path = folder / (std::string(c.name) + ".pcap");
        std::string named = path;  // what the error names
        if (c.piece) {
            path = folder / c.name;
            std::filesystem::create_directory(path);
            const std::string file = path + "/" + c.piece;
            named = std::filesystem::path(file).extension() == ".pcap" ? file : path;
            WriteBytes(file, c.content);
        } else {
            WriteBytes(path, c.content);
        }
        if (c.openError) {
            try {
                RecordingReplay::Open(path);
                ADD_FAILURE() << "opened";
            } catch (const std::runtime_error& e) {
                EXPECT_NE(std::string(e.what()).find("Could not open recording " + named + ": "),
                          std::string::npos)
                    << e.what();
                EXPECT_NE(std::string(e.what()).find(c.openError), std::string::npos) << e.what();
            }
            continue;
        }
        const Delivered delivered = ReplayAll(path);
        EXPECT_EQ(delivered.measurements.size(), c.measurements);
        ASSERT_EQ(delivered.errors.size(), 1u);
        const std::string prefix =
            "Exception in streaming task: Recording " + path + " is damaged: ";
        EXPECT_EQ(delivered.errors[0].message.rfind(prefix, 0), 0u) << delivered.errors[0].message;
        EXPECT_NE(delivered.errors[0].message.find(c.streamError), std::string::npos);
        EXPECT_EQ(delivered.replay.error, delivered.errors[0].message.substr(29));
    }
}

// Time stamps of pcapng files count in units the file chooses; one whose time in nanoseconds
// lies beyond the clock's range is damage.
TEST(ReplayTest, TimeStampsBeyondTheClockAreDamage) {
    TemporaryFolder folder;
    const struct {
        uint8_t resolution;  // 10^-resolution s
        uint64_t stamp;
        int64_t nanoseconds;  // -1: damaged
    } cases[] = {
        {0, 1'700'000'000, 1'700'000'000'000'000'000},
        {9, 1'700'000'000'123'456'789, 1'700'000'000'123'456'789},
        {0, uint64_t{1} << 62, -1},
        {0, uint64_t{1} << 63, -1},
        {9, ~uint64_t{0}, -1},
    };
    for (const auto& c : cases) {
        const std::string path = folder / "stamps.pcapng";
        const auto frame = Captures::Ipv4Whole(MeasurementDatagram(1), 29100, 1);
        std::ofstream(path, std::ios::binary)
            << Captures::PcapngFile(Captures::kLinkRawIp, c.resolution, {{c.stamp, frame}});
        auto reader = UdpStreaming::RecordingReader::Open(path);
        UdpStreaming::RecordedDatagram datagram;
        try {
            ASSERT_TRUE(reader->Next(datagram));
            EXPECT_EQ(datagram.timeNanoseconds, c.nanoseconds) << c.stamp;
        } catch (const std::runtime_error& e) {
            EXPECT_EQ(c.nanoseconds, -1) << c.stamp;
            EXPECT_EQ(e.what(), "Recording " + path +
                                    " is damaged: the time stamp of record 1 is out of range");
        }
    }
}

// A capture on several interfaces at once holds frames of several link types; each is read by
// its own interface's, and frames of a link type the reader does not read are skipped.
TEST(ReplayTest, EachFrameIsReadByTheLinkTypeOfItsInterface) {
    using Captures::Interface;
    constexpr uint32_t kWireless = 105;  // IEEE 802.11: not read
    TemporaryFolder folder;
    const struct {
        const char* name;
        std::vector<Interface> interfaces;
        std::vector<uint32_t> interfaceOfRecord;  // record i + 1 carries block id i + 1
        std::vector<uint32_t> delivered;          // block ids
        uint64_t notUdp;
        const char* error;  // of Open or Next, or null
    } cases[] = {
        {"one of each",
         {{Captures::kLinkEthernet},
          {Captures::kLinkRawIp},
          {Captures::kLinkCooked},
          {Captures::kLinkCooked2, 9},
          {kWireless}},
         {0, 1, 2, 3, 4, 0},
         {1, 2, 3, 4, 6},
         1,
         nullptr},
        {"unread interface first",
         {{kWireless}, {Captures::kLinkCooked2}},
         {1, 1},
         {1, 2},
         0,
         nullptr},
        {"no interface that is read",
         {{kWireless}},
         {0},
         {},
         0,
         "link type 105 (IEEE802_11) is not supported"},
        {"an interface never described",
         {{Captures::kLinkEthernet}},
         {0, 1},
         {1},
         0,
         "packet block 2 names interface 1, which its section does not describe"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        std::vector<Captures::Record> records;
        for (std::size_t i = 0; i < c.interfaceOfRecord.size(); ++i) {
            const uint32_t id = static_cast<uint32_t>(i + 1);
            const uint32_t interface = c.interfaceOfRecord[i];
            const bool known = interface < c.interfaces.size();
            const uint32_t link = known ? c.interfaces[interface].linkType : 0;
            const uint8_t resolution = known ? c.interfaces[interface].resolution : 6;
            uint64_t stamp = 1'700'000'000'000'000 + id;  // microseconds
            for (uint8_t digit = 6; digit < resolution; ++digit) {
                stamp *= 10;
            }
            records.push_back({stamp,
                               link == kWireless
                                   ? Captures::Bytes(30, 0xAB)
                                   : Captures::Frame(link, Captures::Ipv4Whole(
                                                               MeasurementDatagram(id), 29100, 1)),
                               interface});
        }
        const std::string path = folder / "interfaces.pcapng";
        std::ofstream(path, std::ios::binary) << Captures::PcapngFile(c.interfaces, records);
        std::vector<uint32_t> delivered;
        try {
            auto reader = UdpStreaming::RecordingReader::Open(path);
            UdpStreaming::RecordedDatagram datagram;
            while (reader->Next(datagram)) {
                const uint32_t id = datagram.bytes[0];
                delivered.push_back(id);
                EXPECT_EQ(datagram.bytes, MeasurementDatagram(id));
                EXPECT_EQ(datagram.timeNanoseconds, (1'700'000'000'000'000 + id) * 1000);
            }
            EXPECT_EQ(reader->GetStatistics().recordsNotUdp, c.notUdp);
            EXPECT_EQ(c.error, nullptr);
        } catch (const std::runtime_error& e) {
            ASSERT_NE(c.error, nullptr) << e.what();
            EXPECT_NE(std::string(e.what()).find(c.error), std::string::npos) << e.what();
        }
        EXPECT_EQ(delivered, c.delivered);
    }
}

// A capture whose snap length cut a datagram holds only its start: that is counted as cut by
// the capture, not decoded, and not taken for a datagram too long for the stream, which one
// longer than a sensor sends still is.
TEST(ReplayTest, DatagramsCutByTheSnapLengthAreCountedAsSuch) {
    const Captures::Bytes measurement = MeasurementDatagram(1);
    const Captures::Bytes whole = Captures::Ipv4Whole(measurement, 29100, 1);
    const Captures::Bytes large(3000, 0);
    const auto cut = [](Captures::Bytes frame, std::size_t size) {
        frame.resize(size);
        return frame;
    };
    const uint32_t wholeSize = static_cast<uint32_t>(whole.size());
    const struct {
        const char* name;
        Captures::Bytes frame;
        uint32_t originalSize;  // 0: the frame's
        std::size_t wireSize;   // of the datagram delivered; 0: none is
        uint64_t cutByCapture;
        uint64_t malformed;
        uint64_t tooLong;  // as the stream counts
    } cases[] = {
        {"whole", whole, 0, measurement.size(), 0, 0, 0},
        {"in the payload", cut(whole, 28 + 20), wholeSize, 0, 1, 0, 0},
        {"in the IPv4 header", cut(whole, 10), wholeSize, 0, 1, 0, 0},
        {"a fragment", cut(Captures::Ipv4Part(Captures::Bytes(1600, 0), 29100, 2, 0, 1480), 200),
         1500, 0, 1, 0, 0},
        {"shorter than its header says, not cut", cut(whole, 28 + 20), 0, 0, 0, 1, 0},
        {"longer than a sensor sends", cut(Captures::Ipv4Whole(large, 29100, 3), 28 + 2048),
         28 + 3000, 3000, 0, 0, 1},
    };
    TemporaryFolder folder;
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string path = folder / "cut.pcap";
        std::ofstream(path, std::ios::binary) << Captures::PcapFile(
            Captures::kLinkRawIp, {{1'700'000'000'000'000, c.frame, 0, c.originalSize}});
        auto reader = UdpStreaming::RecordingReader::Open(path);
        UdpStreaming::RecordedDatagram datagram;
        EXPECT_EQ(reader->Next(datagram), c.wireSize != 0);
        EXPECT_EQ(datagram.wireSize, c.wireSize);
        EXPECT_FALSE(reader->Next(datagram));
        EXPECT_EQ(reader->GetStatistics().datagramsCutByCapture, c.cutByCapture);
        EXPECT_EQ(reader->GetStatistics().recordsMalformed, c.malformed);
        const Delivered replayed = ReplayAll(path);
        EXPECT_EQ(replayed.replay.datagramsCutByCapture, c.cutByCapture);
        EXPECT_EQ(replayed.statistics.datagramsTooLong, c.tooLong);
    }
}

TEST(ReplayTest, ADescriptionThatIsNoSmallRegularFileIsRefused) {
    TemporaryFolder folder;
    static const std::string kUsual = R"({"stream": {"port": 29100}})";
    const struct {
        const char* name;
        std::function<void(const std::string&)> make;  // makes the description at the path
        const char* reason;                            // null: read
    } cases[] = {
        {"pipe", [](const std::string& p) { ASSERT_EQ(::mkfifo(p.c_str(), 0600), 0); },
         "is not a regular file"},
        {"zeros", [](const std::string& p) { ASSERT_EQ(::symlink("/dev/zero", p.c_str()), 0); },
         "is not a regular file"},
        {"large",
         [](const std::string& p) {
             std::ofstream(p).close();
             ASSERT_EQ(::truncate(p.c_str(), RecordingDescription::kMostBytes + 1), 0);
         },
         "is larger than 4 MiB"},
        {"usual", [](const std::string& p) { std::ofstream(p) << kUsual; }, nullptr},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        const std::string capture = folder / (std::string(c.name) + ".pcap");
        const std::string description = folder / (std::string(c.name) + ".json");
        WriteCapture(capture, 1, 100us);
        c.make(description);
        const std::string expected = c.reason
                                         ? "Could not open recording " + capture +
                                               ": its description " + description + " " + c.reason
                                         : "";
        for (const bool replay : {true, false}) {
            try {
                if (replay) {
                    EXPECT_EQ(RecordingReplay::Open(capture)->GetDescription(), kUsual);
                } else {
                    UdpStreaming::RecordingReader::Open(capture);
                }
                EXPECT_EQ(expected, "");
            } catch (const std::runtime_error& e) {
                EXPECT_EQ(e.what(), expected);
            }
        }
    }
}

TEST(ReplayTest, FragmentSetsThatNeverCompleteAreCountedAndBounded) {
    TemporaryFolder folder;
    const std::string path = folder / "fragments.pcap";
    {
        // 200 first fragments whose rest never comes, then one whole datagram.
        PcapWriter writer(path, 29100);
        (void)writer;
    }
    // Build the records by hand: raw IPv4 with the more-fragments flag.
    std::vector<char> file = Bytes(path);
    auto append = [&](const std::vector<uint8_t>& packet, uint32_t second) {
        const uint32_t header[4] = {second, 0, static_cast<uint32_t>(packet.size()),
                                    static_cast<uint32_t>(packet.size())};
        file.insert(file.end(), reinterpret_cast<const char*>(header),
                    reinterpret_cast<const char*>(header) + sizeof header);
        file.insert(file.end(), packet.begin(), packet.end());
    };
    for (uint16_t id = 0; id < 200; ++id) {
        auto headers =
            UdpStreaming::Recording::Ipv4UdpHeaders(kSensor, 5000, kSensor, 29100, 2000, id);
        std::vector<uint8_t> packet(headers.begin(), headers.end());
        packet.resize(28 + 1000, 0);
        packet[2] = static_cast<uint8_t>((packet.size()) >> 8);
        packet[3] = static_cast<uint8_t>(packet.size());
        packet[6] = 0x20;  // more fragments
        append(packet, 1000 + id / 100);
    }
    const auto whole = MeasurementDatagram(7);
    auto headers =
        UdpStreaming::Recording::Ipv4UdpHeaders(kSensor, 5000, kSensor, 29100, whole.size(), 999);
    std::vector<uint8_t> packet(headers.begin(), headers.end());
    packet.insert(packet.end(), whole.begin(), whole.end());
    append(packet, 1010);
    WriteBytes(path, file);

    const Delivered delivered = ReplayAll(path);
    ASSERT_EQ(delivered.measurements.size(), 1u);
    EXPECT_EQ(delivered.measurements[0].blockId, 7u);
    EXPECT_EQ(delivered.replay.fragmentsIncomplete, 200u);
    EXPECT_TRUE(delivered.replay.finished);
}

}  // namespace
}  // namespace Varkon::QUILApi::Testing
