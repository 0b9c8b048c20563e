// Built with nothing but `pkg-config --cflags --libs quil`: the installed library's version and
// the text of a failed connection.
#include <quil/Quil.h>

#include <iostream>
#include <stdexcept>
#include <string>

using Varkon::QUILApi::Quil;

int main() {
    if (Quil::Version() != QUIL_EXPECTED_VERSION) {
        std::cerr << "version " << Quil::Version() << ", expected " QUIL_EXPECTED_VERSION "\n";
        return 1;
    }
    auto client = Quil::Create(QUIL_ABSENT_ADDRESS, QUIL_UDP_PORT);
    try {
        client->Connect();
    } catch (const std::runtime_error& e) {
        if (std::string(e.what()) == "Could not connect to host " QUIL_ABSENT_ADDRESS) {
            std::cout << "ok\n";
            return 0;
        }
        std::cerr << e.what() << "\n";
    }
    return 1;
}
