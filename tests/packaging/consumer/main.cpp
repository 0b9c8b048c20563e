#include <quil/Quil.h>

#include <iostream>
#include <stdexcept>
#include <string>

int main() {
    auto client = Varkon::QUILApi::Quil::Create("127.0.9.1", 5100);  // no sensor there
    try {
        client->Connect();
    } catch (const std::runtime_error& e) {
        if (std::string(e.what()) == "Could not connect to host 127.0.9.1") {
            std::cout << "ok\n";
            return 0;
        }
        std::cerr << e.what() << "\n";
    }
    return 1;
}
