// quil-sim: the virtual sensor as a program.
#include "PcapRecording.h"

#include <quil/Quil.h>
#include <quil/sim/VirtualSensor.h>

#include <CLI/CLI.hpp>
#include <boost/system/system_error.hpp>

#include <pthread.h>
#include <csignal>
#include <iostream>

using Varkon::QUILApi::Sim::PcapRecording;
using Varkon::QUILApi::Sim::VirtualSensor;
using Varkon::QUILApi::Sim::VirtualSensorOptions;

int main(int argc, char** argv) {
    VirtualSensorOptions options;
    std::string operatorPassword = "operator";
    std::string maintenancePassword = "maintenance";
    unsigned delayMs = 200;

    CLI::App app{
        "quil-sim: a virtual laser profile sensor. It serves the sensor's WebSocket protocol on "
        "TCP port 80 (or --ws-port) of a loopback address, keeps settings, parameter setups and "
        "roles like a "
        "device, measures a simulated conveyor with objects under the laser line, and sends the "
        "UDP stream where the settings \"ProcessInterfaces\" and \"UDPStreamData\" aim it (a "
        "loopback address). Roles: observer (no password, the default), operator (may enable "
        "the UDP output, fire triggers and change the active setup), maintenance (may change "
        "every setting). Stop it with Ctrl-C (SIGINT) or SIGTERM."};
    app.set_version_flag("--version", "quil-sim " + Varkon::QUILApi::Quil::Version());
    app.add_option("-a,--address", options.address, "IPv4 address in 127.0.0.0/8 to listen on")
        ->capture_default_str();
    app.add_option("--ws-port", options.webSocketPort,
                   "TCP port of the WebSocket service: 80 as a sensor (needs root), or one from "
                   "1024 on for an ordinary user; clients then name it, e.g. --host "
                   "127.0.0.1:8080")
        ->check(CLI::Range(1, 65535))
        ->capture_default_str();
    app.add_option("--seed", options.seed,
                   "seed of the scene and of the faults: the same seed gives the same data")
        ->capture_default_str();
    app.add_option("--rate", options.profileRate, "profiles per second at start-up, 1 to 10000")
        ->check(CLI::Range(1.0, 10000.0))
        ->capture_default_str();
    app.add_option("--points", options.pointsPerProfile,
                   "points per profile and camera columns, 16 to 4096")
        ->check(CLI::Range(16u, 4096u))
        ->capture_default_str();
    app.add_option("--operator-password", operatorPassword, "password of the role operator")
        ->capture_default_str();
    app.add_option("--maintenance-password", maintenancePassword,
                   "password of the role maintenance")
        ->capture_default_str();

    auto& f = options.faults;
    const auto rate = CLI::Range(0.0, 1.0);
    app.add_option("--reply-delay-rate", f.replyDelay, "share of replies sent late (0 to 1)")
        ->check(rate)
        ->capture_default_str();
    app.add_option("--reply-delay-ms", delayMs, "how late a delayed reply comes, in ms")
        ->capture_default_str();
    app.add_option("--reply-missing-rate", f.replyMissing, "share of requests never answered")
        ->check(rate)
        ->capture_default_str();
    app.add_option("--drop-rate", f.connectionDrop,
                   "share of requests that make the sensor drop the connection instead")
        ->check(rate)
        ->capture_default_str();
    app.add_option("--datagram-loss-rate", f.datagramLoss, "share of datagrams not sent")
        ->check(rate)
        ->capture_default_str();
    app.add_option("--datagram-duplicate-rate", f.datagramDuplicate,
                   "share of datagrams sent twice")
        ->check(rate)
        ->capture_default_str();
    app.add_option("--datagram-reorder-rate", f.datagramReorder,
                   "share of datagrams sent after the next one")
        ->check(rate)
        ->capture_default_str();
    app.add_option("--datagram-truncate-rate", f.datagramTruncate,
                   "share of datagrams cut short at a random length")
        ->check(rate)
        ->capture_default_str();
    std::string replayPath;
    app.add_option("--replay", replayPath,
                   "send this capture's UDP datagrams (a recording, or a tcpdump capture of a "
                   "sensor) as the stream, at their recorded pace, instead of the simulated "
                   "profiles, whenever the UDP output is on; the description file beside it "
                   "names the port to take, otherwise every UDP datagram is taken");
    app.add_flag("--loop", options.loopRecording,
                 "with --replay: start the capture again at its end");
    try {
        app.parse(argc, argv);
    } catch (const CLI::Success& e) {  // --help, --version
        return app.exit(e);
    } catch (const CLI::ParseError& e) {
        std::cerr << "quil-sim: " << e.what() << "; see quil-sim --help" << std::endl;
        return 2;
    }

    f.replyDelayTime = std::chrono::milliseconds(delayMs);
    options.passwords = {{"operator", operatorPassword}, {"maintenance", maintenancePassword}};
    options.log = [](const std::string& line) { std::cout << "quil-sim: " << line << std::endl; };

    // The sensor's threads inherit this mask, so that only sigwait below sees the signals.
    sigset_t signals;
    sigemptyset(&signals);
    sigaddset(&signals, SIGINT);
    sigaddset(&signals, SIGTERM);
    pthread_sigmask(SIG_BLOCK, &signals, nullptr);

    std::unique_ptr<VirtualSensor> sensor;
    try {
        if (!replayPath.empty()) {
            options.recording = std::make_shared<PcapRecording>(replayPath, 0, options.log);
        }
        sensor = std::make_unique<VirtualSensor>(options);
    } catch (const boost::system::system_error& e) {
        const std::string port = std::to_string(options.webSocketPort);
        if (e.code() == boost::system::errc::permission_denied) {
            std::cerr << "quil-sim: may not listen on port " << port << " of " << options.address
                      << ": give --ws-port 8080 (any port from 1024 on), run as root, or allow "
                      << "it with 'setcap cap_net_bind_service=+ep " << argv[0] << "'."
                      << std::endl;
        } else {
            std::cerr << "quil-sim: cannot listen on port " << port << " of " << options.address
                      << ": " << e.code().message() << std::endl;
        }
        return 1;
    } catch (const std::exception& e) {
        std::cerr << "quil-sim: " << e.what() << std::endl;
        return 1;
    }
    std::cout << "quil-sim: listening on " << options.address << ":" << options.webSocketPort
              << " (seed " << options.seed << ", " << options.profileRate << " profiles/s, "
              << options.pointsPerProfile << " points)" << std::endl;
    if (!replayPath.empty()) {
        std::cout << "quil-sim: the stream replays " << replayPath
                  << (options.loopRecording ? " in a loop" : "") << std::endl;
    }

    int received = 0;
    sigwait(&signals, &received);
    std::cout << "quil-sim: stopping on " << (received == SIGINT ? "SIGINT" : "SIGTERM")
              << std::endl;
    sensor.reset();
    return 0;
}
