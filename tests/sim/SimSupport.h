// Starting a virtual sensor and a connected client for the end-to-end tests, on the running
// test's own loopback address and UDP port (support/TestAddresses.h).
#pragma once

#include "support/TestAddresses.h"

#include <quil/Quil.h>
#include <quil/sim/VirtualSensor.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace Varkon::QUILApi::Testing {

inline Sim::VirtualSensorOptions SimOptions(const std::string& address) {
    Sim::VirtualSensorOptions options;
    options.address = address;
    return options;
}

inline std::unique_ptr<Quil> Connected(const std::string& address,
                                       unsigned short udpPort = TestPort(),
                                       const std::string& role = "",
                                       const std::string& password = "") {
    auto client = Quil::Create(address, udpPort);
    client->Connect();
    if (!role.empty()) {
        client->Login(role, password.empty() ? role : password);
    }
    return client;
}

}  // namespace Varkon::QUILApi::Testing
