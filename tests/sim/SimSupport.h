// Starting a virtual sensor and a connected client for the end-to-end tests. Each test uses its
// own loopback address in 127.0.6.0/24 and UDP ports from 23000 to 23999: tests run in parallel
// processes, so two tests on one address make one of them fail to bind, and the ports lie below
// the ephemeral range (32768 and up), where any socket bound to port 0 could take them.
#pragma once

#include "VirtualSensor.h"

#include <quil/Quil.h>

#include <gtest/gtest.h>

#include <memory>
#include <string>

namespace Varkon::QUILApi::Testing {

inline Sim::VirtualSensorOptions SimOptions(const std::string& address) {
    Sim::VirtualSensorOptions options;
    options.address = address;
    return options;
}

/// The index of the running instance of a parameterised test ("Name/3" gives 3), the same
/// whether the instances run in one process or each in its own.
inline int ParamIndex() {
    const std::string name = ::testing::UnitTest::GetInstance()->current_test_info()->name();
    return std::stoi(name.substr(name.rfind('/') + 1));
}

inline std::unique_ptr<Quil> Connected(const std::string& address, unsigned short udpPort = 23000,
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
