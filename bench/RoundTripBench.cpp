// GET round trips through the client against the in-process test sensor, beside a bare
// synchronous Boost.Beast client sending the same JSON request to the same server and parsing
// the same reply, and beside a bare Beast echo client and server; throughput and p50/p99
// latency of each, with the callers and the servers on one core and on different cores. The
// figure that counts is the client against the bare client on the same server.
#include "TestSensor.h"

#include <quil/Quil.h>

#include <pthread.h>
#include <sched.h>

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core.hpp>
#include <boost/beast/websocket.hpp>
#include <nlohmann/json.hpp>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <string>
#include <thread>
#include <vector>

namespace {

namespace asio = boost::asio;
namespace beast = boost::beast;
namespace websocket = beast::websocket;
using tcp = asio::ip::tcp;
using Clock = std::chrono::steady_clock;

// Runs the calling thread, and the threads it starts from now on, on `cpu` only.
void PinTo(int cpu) {
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu % static_cast<int>(std::thread::hardware_concurrency()), &set);
    pthread_setaffinity_np(pthread_self(), sizeof set, &set);
}

struct Figures {
    double rate = 0;  // round trips per second
    double p50 = 0;   // microseconds
    double p99 = 0;
};

// `count` round trips, timed one by one.
Figures Measure(int count, const std::function<void()>& roundTrip) {
    std::vector<double> micros(static_cast<std::size_t>(count));
    const auto start = Clock::now();
    for (double& duration : micros) {
        const auto before = Clock::now();
        roundTrip();
        duration = std::chrono::duration<double, std::micro>(Clock::now() - before).count();
    }
    const double seconds = std::chrono::duration<double>(Clock::now() - start).count();
    std::sort(micros.begin(), micros.end());
    return {count / seconds, micros[micros.size() / 2], micros[micros.size() * 99 / 100]};
}

// The median of each figure over the rounds, against the scheduler's moods on a busy machine.
Figures Median(std::vector<Figures> rounds) {
    const auto median = [&](double Figures::*field) {
        std::vector<double> values;
        for (const Figures& f : rounds) {
            values.push_back(f.*field);
        }
        std::sort(values.begin(), values.end());
        return values[values.size() / 2];
    };
    return {median(&Figures::rate), median(&Figures::p50), median(&Figures::p99)};
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

// A synchronous WebSocket client on the caller's thread.
class BareClient {
public:
    explicit BareClient(const std::string& address) : ws(io) {
        tcp::resolver resolver(io);
        asio::connect(ws.next_layer(), resolver.resolve(address, "80"));
        ws.next_layer().set_option(tcp::no_delay(true));
        ws.handshake(address, "/");
        ws.text(true);
    }
    ~BareClient() {
        beast::error_code ignored;
        ws.close(websocket::close_code::normal, ignored);
    }

    std::string Exchange(const std::string& text) {
        ws.write(asio::buffer(text));
        buffer.consume(buffer.size());
        ws.read(buffer);
        return beast::buffers_to_string(buffer.data());
    }

private:
    asio::io_context io;
    websocket::stream<tcp::socket> ws;
    beast::flat_buffer buffer;
};

struct Result {
    Figures quil, bareClient, echo;
};

// Everything measured with the servers' threads on `serverCpu` and the callers (and the client's
// own I/O thread) on `callerCpu`. Each layout has its own addresses.
Result MeasureLayout(int serverCpu, int callerCpu, int layout, int count, int rounds) {
    const std::string sensorAddress = "127.0.3." + std::to_string(10 + 2 * layout);
    const std::string echoAddress = "127.0.3." + std::to_string(11 + 2 * layout);
    PinTo(serverCpu);
    Varkon::QUILApi::Sim::TestSensor sensor(sensorAddress);
    sensor.SetResource(
        "SensorMetaData",
        {{"vendorName", "Varkon"}, {"sensorType", "QL-2D 100"}, {"serialNumber", "100042"}});
    EchoServer echoServer(echoAddress);
    PinTo(callerCpu);

    auto client = Varkon::QUILApi::Quil::Create(sensorAddress, 5300);
    client->Connect();
    BareClient bare(sensorAddress);
    BareClient echo(echoAddress);
    const std::string echoRequest =
        R"({"msgData":["SensorMetaData"],"msgID":1000000,"msgType":"GET","sessionID":17})";
    uint64_t msgId = 2000000;

    const auto quilTrip = [&] { client->GetSensorMetaData(); };
    // The same work the client's request does, without its threads: build, send, read, parse,
    // match the id, take the data.
    const auto bareTrip = [&] {
        const nlohmann::json request = {{"msgData", {"SensorMetaData"}},
                                        {"msgID", ++msgId},
                                        {"msgType", "GET"},
                                        {"sessionID", 17}};
        const auto reply = nlohmann::json::parse(bare.Exchange(request.dump()));
        if (reply.at("msgID") != msgId || reply.at("msgData").at(1).at("sensorType").empty()) {
            throw std::runtime_error("unexpected reply");
        }
    };
    const auto echoTrip = [&] { echo.Exchange(echoRequest); };
    Measure(count / 10, quilTrip);  // warm up
    Measure(count / 10, bareTrip);
    Measure(count / 10, echoTrip);

    std::vector<Figures> quil, bareClient, echoPair;
    for (int round = 0; round < rounds; ++round) {  // interleaved
        quil.push_back(Measure(count, quilTrip));
        bareClient.push_back(Measure(count, bareTrip));
        echoPair.push_back(Measure(count, echoTrip));
    }
    client->Disconnect();
    return {Median(quil), Median(bareClient), Median(echoPair)};
}

void Print(const char* name, const Figures& f) {
    std::printf("  %-40s %9.0f/s  p50 %7.1f us  p99 %7.1f us\n", name, f.rate, f.p50, f.p99);
}

}  // namespace

int main(int argc, char** argv) {
    const int count = argc > 1 ? std::atoi(argv[1]) : 5000;
    const int rounds = 5;
    const struct {
        const char* name;
        int serverCpu, callerCpu;
    } layouts[] = {{"callers and servers on one core", 0, 0},
                   {"callers and servers on different cores", 1, 0}};
    int index = 0;
    for (const auto& layout : layouts) {
        const Result r = MeasureLayout(layout.serverCpu, layout.callerCpu, index++, count, rounds);
        std::printf("GET round trips, %s (median of %d rounds of %d):\n", layout.name, rounds,
                    count);
        Print("quil client against the test sensor", r.quil);
        Print("bare Beast client, same request and server", r.bareClient);
        Print("bare Beast echo client and server", r.echo);
        std::printf("  quil / bare client: time %.2f, p50 %.2f, p99 %.2f  (target <= 1.30)\n",
                    r.bareClient.rate / r.quil.rate, r.quil.p50 / r.bareClient.p50,
                    r.quil.p99 / r.bareClient.p99);
        std::printf("  quil / bare echo:   time %.2f\n", r.echo.rate / r.quil.rate);
    }
    return 0;
}
