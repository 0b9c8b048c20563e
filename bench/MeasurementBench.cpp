// Base64 decoding throughput on a 4 MB text, and GetImage of a 1280x1024 camera image end to end
// against the in-process test sensor, beside the time that the JSON library alone needs to parse
// the same reply text (same run). Targets: decoding >= 1 GB/s; GetImage <= 1.3x the bare parse.
//
// The steps between the two are measured too, so that the report shows where the time goes:
// the client's parse of the message, copying the parsed reply, decoding the pixels, and the
// WebSocket transfer.
#include "TestSensor.h"
#include "api/Base64.h"
#include "support/Base64Encode.h"
#include "websockets/MessageParser.h"

#include <quil/Quil.h>

#include <benchmark/benchmark.h>
#include <boost/asio/connect.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <memory>
#include <random>
#include <string>
#include <thread>
#include <vector>

namespace {

using nlohmann::json;
namespace Quil = Varkon::QUILApi;

constexpr uint32_t kWidth = 1280;
constexpr uint32_t kHeight = 1024;
const char* kAddress = "127.0.5.10";
constexpr uint16_t kUdpPort = 5510;

std::vector<uint8_t> RandomBytes(std::size_t count) {
    std::mt19937 random(7);
    std::vector<uint8_t> bytes(count);
    for (auto& byte : bytes) {
        byte = static_cast<uint8_t>(random());
    }
    return bytes;
}

// 4 MB of Base64 text (3 MB of bytes).
const std::string& FourMegabyteText() {
    static const std::string text = Quil::Testing::Base64Encode(RandomBytes(3 * 1024 * 1024));
    return text;
}

const json& ImageData() {
    static const json data = {
        {"roiHeight", kHeight},
        {"roiWidth", kWidth},
        {"rowOffset", 0},
        {"columnOffset", 0},
        {"rowBinning", 1},
        {"colBinning", 1},
        {"pixels", Quil::Testing::Base64Encode(RandomBytes(kWidth * kHeight))}};
    return data;
}

// The reply to a GET of "Image", as the sensor sends it; `msgID` goes between the two parts.
struct ReplyText {
    std::string head;
    std::string tail;
    std::string With(uint64_t msgID) const { return head + std::to_string(msgID) + tail; }
};

const ReplyText& ImageReply() {
    static const ReplyText reply{R"({"msgData":["Image",)" + ImageData().dump() + R"(],"msgID":)",
                                 R"(,"msgType":"ACK"})"};
    return reply;
}

void SetBytes(benchmark::State& state, std::size_t bytesPerIteration) {
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * bytesPerIteration));
    state.counters["MB/s"] =
        benchmark::Counter(static_cast<double>(state.iterations() * bytesPerIteration) / 1e6,
                           benchmark::Counter::kIsRate);
}

// --- Base64Decode ------------------------------------------------------------------------------

void Base64DecodeToBytes(benchmark::State& state) {
    const std::string& text = FourMegabyteText();
    std::vector<uint8_t> bytes;
    for (auto _ : state) {
        Quil::Base64Decode(std::string_view(text), bytes);
        benchmark::DoNotOptimize(bytes.data());
    }
    SetBytes(state, text.size());
}
BENCHMARK(Base64DecodeToBytes)->Unit(benchmark::kMillisecond);

void Base64DecodeToString(benchmark::State& state) {
    const std::string& text = FourMegabyteText();
    std::string bytes;
    for (auto _ : state) {
        Quil::Base64Decode(text, bytes);
        benchmark::DoNotOptimize(bytes.data());
    }
    SetBytes(state, text.size());
}
BENCHMARK(Base64DecodeToString)->Unit(benchmark::kMillisecond);

// --- GetImage against the bare parse -------------------------------------------------------

// The floor: the JSON library parses the reply text of one image.
void ImageReplyBareParse(benchmark::State& state) {
    const std::string text = ImageReply().With(1000);
    for (auto _ : state) {
        json reply = json::parse(text);
        benchmark::DoNotOptimize(reply);
    }
    SetBytes(state, text.size());
}
BENCHMARK(ImageReplyBareParse)->Unit(benchmark::kMillisecond);

// The client's own work without the transfer: its parse of the message (which takes the long
// Base64 text over as it stands instead of lexing it), the reply data taken out of the message,
// and the frame's decode into an Image.
void ImageReplyClientParseAndDecode(benchmark::State& state) {
    const std::string text = ImageReply().With(1000);
    for (auto _ : state) {
        json reply = Quil::WebSockets::ParseMessage(text);
        json data = std::move(reply.at("msgData")[1]);
        std::vector<uint8_t> pixels;
        Quil::Base64Decode(std::string_view(data.at("pixels").get_ref<const std::string&>()),
                           pixels);
        benchmark::DoNotOptimize(pixels.data());
    }
    SetBytes(state, text.size());
}
BENCHMARK(ImageReplyClientParseAndDecode)->Unit(benchmark::kMillisecond);

// The client's parse of the message alone.
void ImageReplyClientParse(benchmark::State& state) {
    const std::string text = ImageReply().With(1000);
    for (auto _ : state) {
        json reply = Quil::WebSockets::ParseMessage(text);
        benchmark::DoNotOptimize(reply);
    }
    SetBytes(state, text.size());
}
BENCHMARK(ImageReplyClientParse)->Unit(benchmark::kMillisecond);

// One copy of the parsed reply data: what each copy in the message path costs.
void ImageReplyCopyOnce(benchmark::State& state) {
    const json reply = json::parse(ImageReply().With(1000));
    for (auto _ : state) {
        json copy = reply.at("msgData");
        benchmark::DoNotOptimize(copy);
    }
}
BENCHMARK(ImageReplyCopyOnce)->Unit(benchmark::kMillisecond);

// A test sensor that answers every GET of "Image" with the prepared reply text, so that its own
// serialisation is not counted.
class ImageSensor {
public:
    ImageSensor() : sensor(kAddress) {
        sensor.SetHandler([this](Quil::Sim::Connection& connection, const std::string& text) {
            const json request = json::parse(text);
            if (request.value("msgType", "") == "GET") {
                connection.Send(ImageReply().With(request.at("msgID").get<uint64_t>()));
            } else {
                sensor.AnswerByDefault(connection, text);
            }
        });
        client = Quil::Quil::Create(kAddress, kUdpPort);
        client->Connect();
    }
    ~ImageSensor() { client->Disconnect(); }

    Quil::Sim::TestSensor sensor;
    std::unique_ptr<Quil::Quil> client;
};

ImageSensor& SharedImageSensor() {
    static ImageSensor fixture;
    return fixture;
}

void GetImageEndToEnd(benchmark::State& state) {
    ImageSensor& fixture = SharedImageSensor();
    const std::size_t replySize = ImageReply().With(1000).size();
    for (auto _ : state) {
        Quil::Image image = fixture.client->GetImage();
        benchmark::DoNotOptimize(image.pixels.data());
    }
    SetBytes(state, replySize);
}
BENCHMARK(GetImageEndToEnd)->Unit(benchmark::kMillisecond)->UseRealTime();

// The transfer alone: a bare Beast client sends the same GET to the same sensor and reads the
// reply into a string, without parsing it.
void ImageReplyTransferOnly(benchmark::State& state) {
    namespace asio = boost::asio;
    namespace websocket = boost::beast::websocket;
    SharedImageSensor();  // the same sensor as GetImageEndToEnd
    asio::io_context io;
    asio::ip::tcp::resolver resolver(io);
    websocket::stream<asio::ip::tcp::socket> ws(io);
    asio::connect(ws.next_layer(), resolver.resolve(kAddress, "80"));
    ws.handshake(kAddress, "/websocket");
    ws.text(true);
    const std::string request =
        R"({"msgData":["Image"],"msgID":1000,"msgType":"GET","sessionID":1})";
    boost::beast::flat_buffer buffer;
    std::size_t size = 0;
    for (auto _ : state) {
        ws.write(asio::buffer(request));
        ws.read(buffer);
        std::string text = boost::beast::buffers_to_string(buffer.data());
        buffer.consume(buffer.size());
        size = text.size();
        benchmark::DoNotOptimize(text.data());
    }
    ws.close(websocket::close_code::normal);
    SetBytes(state, size);
}
BENCHMARK(ImageReplyTransferOnly)->Unit(benchmark::kMillisecond)->UseRealTime();

// The two side by side: each iteration times one GetImage and one bare parse of the same reply
// text, so that the machine's load drifts alike for both. The counters are the medians and
// their ratio (target <= 1.3).
double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values.empty() ? 0 : values[values.size() / 2];
}

void GetImageVersusBareParse(benchmark::State& state) {
    using Clock = std::chrono::steady_clock;
    ImageSensor& fixture = SharedImageSensor();
    const std::string text = ImageReply().With(1000);
    std::vector<double> getImage;
    std::vector<double> parse;
    for (auto _ : state) {
        const auto start = Clock::now();
        Quil::Image image = fixture.client->GetImage();
        const auto middle = Clock::now();
        json reply = json::parse(text);
        const auto end = Clock::now();
        benchmark::DoNotOptimize(image.pixels.data());
        benchmark::DoNotOptimize(reply);
        getImage.push_back(std::chrono::duration<double, std::milli>(middle - start).count());
        parse.push_back(std::chrono::duration<double, std::milli>(end - middle).count());
        state.SetIterationTime(std::chrono::duration<double>(end - start).count());
    }
    state.counters["GetImage_ms"] = Median(getImage);
    state.counters["BareParse_ms"] = Median(parse);
    state.counters["ratio"] = Median(getImage) / Median(parse);
}
BENCHMARK(GetImageVersusBareParse)->Unit(benchmark::kMillisecond)->UseManualTime()->MinTime(3);

// Diagnosis: the same GetImage against a bare Beast server that sends each reply as one frame,
// as the test sensor does too, but without the test sensor's recording and handlers.
class OneFrameImageServer {
public:
    explicit OneFrameImageServer(const std::string& address)
        : acceptor(io, {boost::asio::ip::make_address(address), 80}, true),
          thread([this] { Serve(); }) {}
    ~OneFrameImageServer() { thread.join(); }

private:
    void Serve() {
        namespace websocket = boost::beast::websocket;
        websocket::stream<boost::asio::ip::tcp::socket> ws(acceptor.accept());
        ws.auto_fragment(false);
        ws.set_option(websocket::stream_base::decorator([](websocket::response_type& response) {
            response.set(boost::beast::http::field::sec_websocket_protocol, "VWS");
        }));
        ws.accept();
        ws.text(true);
        boost::beast::flat_buffer buffer;
        boost::beast::error_code error;
        for (;;) {
            ws.read(buffer, error);
            if (error) {
                return;
            }
            const json request = json::parse(boost::beast::buffers_to_string(buffer.data()));
            buffer.consume(buffer.size());
            const auto id = request.at("msgID").get<uint64_t>();
            const std::string type = request.at("msgType");
            std::string reply = type == "GET" ? ImageReply().With(id)
                                              : json{{"msgID", id},
                                                     {"msgType", "ACK"},
                                                     {"sessionID", 1},
                                                     {"msgData", json::array({"x"})}}
                                                    .dump();
            ws.write(boost::asio::buffer(reply), error);
            if (error || type == "DISCONNECT") {
                ws.close(websocket::close_code::normal, error);
                return;
            }
        }
    }

    boost::asio::io_context io;
    boost::asio::ip::tcp::acceptor acceptor;
    std::thread thread;
};

void GetImageOneFrameServer(benchmark::State& state) {
    OneFrameImageServer server("127.0.5.12");
    auto client = Quil::Quil::Create("127.0.5.12", 5512);
    client->Connect();
    const std::size_t replySize = ImageReply().With(1000).size();
    for (auto _ : state) {
        Quil::Image image = client->GetImage();
        benchmark::DoNotOptimize(image.pixels.data());
    }
    client->Disconnect();
    SetBytes(state, replySize);
}
BENCHMARK(GetImageOneFrameServer)->Unit(benchmark::kMillisecond)->UseRealTime();

// A GET of a small resource end to end: the fixed cost of one round trip.
void SmallGetEndToEnd(benchmark::State& state) {
    static Quil::Sim::TestSensor sensor("127.0.5.11");
    sensor.SetResource("ImageMeta",
                       {{"sensorHeight", kHeight}, {"sensorWidth", kWidth}, {"maxROIPixels", 1}});
    static auto client = [] {
        auto created = Quil::Quil::Create("127.0.5.11", 5511);
        created->Connect();
        return created;
    }();
    for (auto _ : state) {
        benchmark::DoNotOptimize(client->GetImageMeta());
    }
}
BENCHMARK(SmallGetEndToEnd)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();
