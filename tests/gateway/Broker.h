// A real MQTT broker for a test: mosquitto on the test's own loopback address and port, with a
// configuration file the test writes; killed at the end.
#pragma once

#include "TempDirectory.h"
#include "support/RunCommand.h"
#include "support/TestAddresses.h"
#include "support/Wait.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <memory>
#include <string>

namespace Varkon::QuilGateway::Testing {

class Broker {
public:
    /// `listenerLines` go under the listener, e.g. its TLS files.
    Broker(std::string address, uint16_t port, std::string listenerLines = {})
        : address(std::move(address)), port(port), listenerLines(std::move(listenerLines)) {
        Start();
    }

    void Start() {
        const std::string config = directory.Write(
            "mosquitto.conf", "listener " + std::to_string(port) + " " + address + "\n" +
                                  listenerLines + "allow_anonymous true\npersistence false\n");
        process = std::make_unique<Varkon::QUILApi::Testing::BackgroundProcess>(
            QUIL_MOSQUITTO, std::vector<std::string>{"-c", config}, directory.Path("broker"));
        ready = Varkon::QUILApi::Testing::WaitUntil([&] { return Accepts(); },
                                                    std::chrono::seconds(10));
    }
    void Kill() { process.reset(); }
    /// SIGSTOP holds it: it accepts nothing and acknowledges nothing until SIGCONT.
    void Signal(int signal) const { process->Signal(signal); }

    bool Ready() const { return ready; }
    const std::string& Address() const { return address; }
    uint16_t Port() const { return port; }
    std::string Log() const { return process ? process->Err() : ""; }

private:
    bool Accepts() const {
        const int fd = socket(AF_INET, SOCK_STREAM, 0);
        sockaddr_in to{};
        to.sin_family = AF_INET;
        to.sin_port = htons(port);
        inet_pton(AF_INET, address.c_str(), &to.sin_addr);
        const bool accepted = connect(fd, reinterpret_cast<sockaddr*>(&to), sizeof to) == 0;
        close(fd);
        return accepted;
    }

    std::string address;
    uint16_t port;
    std::string listenerLines;
    TempDirectory directory;
    std::unique_ptr<Varkon::QUILApi::Testing::BackgroundProcess> process;
    bool ready = false;
};

}  // namespace Varkon::QuilGateway::Testing
