// GET round trips per second through the client against the in-process test sensor, beside a
// bare Boost.Beast WebSocket echo client and server measured in the same run.
#include "TestSensor.h"

#include <quil/Quil.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <thread>
#include <vector>

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;

// Round trips per second of `roundTrip`, over `count` calls.
double Rate(int count, const std::function<void()>& roundTrip) {
    const auto start = std::chrono::steady_clock::now();
    for (int i = 0; i < count; ++i) {
        roundTrip();
    }
    const std::chrono::duration<double> elapsed = std::chrono::steady_clock::now() - start;
    return count / elapsed.count();
}

double Median(std::vector<double> values) {
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A bare echo server for one connection.
class EchoServer {
public:
    explicit EchoServer(const std::string& address)
        : acceptor(io, tcp::endpoint(asio::ip::make_address(address), 80), true),
          thread([this] { Serve(); }) {}
    ~EchoServer() { thread.join(); }

private:
    void Serve() {
        websocket::stream<tcp::socket> ws(acceptor.accept());
        ws.accept();
        beast::flat_buffer buffer;
        beast::error_code error;
        for (;;) {
            ws.read(buffer, error);
            if (error) {
                return;
            }
            ws.text(ws.got_text());
            ws.write(buffer.data(), error);
            buffer.consume(buffer.size());
            if (error) {
                return;
            }
        }
    }

    asio::io_context io;
    tcp::acceptor acceptor;
    std::thread thread;
};

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 5000;
    const int rounds = 7;

    Varkon::QUILApi::Sim::TestSensor sensor("127.0.3.1");
    sensor.SetResource(
        "SensorMetaData",
        {{"vendorName", "Varkon"}, {"sensorType", "QL-2D 100"}, {"serialNumber", "100042"}});
    auto client = Varkon::QUILApi::Quil::Create("127.0.3.1", 5300);
    client->Connect();

    EchoServer echo("127.0.3.2");
    asio::io_context io;
    tcp::resolver resolver(io);
    websocket::stream<tcp::socket> ws(io);
    asio::connect(ws.next_layer(), resolver.resolve("127.0.3.2", "80"));
    ws.handshake("127.0.3.2", "/websocket");
    ws.text(true);
    const std::string request =
        R"({"msgData":["SensorMetaData"],"msgID":1000000,"msgType":"GET","sessionID":17})";
    beast::flat_buffer buffer;

    const auto quilTrip = [&] { client->GetSensorMetaData(); };
    const auto bareTrip = [&] {
        ws.write(asio::buffer(request));
        ws.read(buffer);
        buffer.consume(buffer.size());
    };
    Rate(count / 10, quilTrip);  // warm up
    Rate(count / 10, bareTrip);

    // Interleaved rounds; the median of each resists the scheduler's moods on a busy machine.
    std::vector<double> quil;
    std::vector<double> bare;
    for (int round = 0; round < rounds; ++round) {
        quil.push_back(Rate(count, quilTrip));
        bare.push_back(Rate(count, bareTrip));
    }
    ws.close(websocket::close_code::normal);
    client->Disconnect();

    const double quilRate = Median(quil);
    const double bareRate = Median(bare);
    std::printf("GET round trips per second (median of %d rounds of %d):\n", rounds, count);
    std::printf("  quil client against the test sensor: %10.0f  (rounds %.0f to %.0f)\n", quilRate,
                *std::min_element(quil.begin(), quil.end()),
                *std::max_element(quil.begin(), quil.end()));
    std::printf("  bare Beast echo client and server:   %10.0f  (rounds %.0f to %.0f)\n", bareRate,
                *std::min_element(bare.begin(), bare.end()),
                *std::max_element(bare.begin(), bare.end()));
    std::printf("  cost ratio (quil / bare):            %10.2f  (target <= 2.00)\n",
                bareRate / quilRate);
    return 0;
}
