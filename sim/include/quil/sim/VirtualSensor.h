#pragma once

#include "Faults.h"
#include "RecordedStream.h"
#include "Scene.h"

#include <nlohmann/json.hpp>

#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>

namespace Varkon::QUILApi::Sim {

/// How a virtual sensor is set up.
struct VirtualSensorOptions {
    /// IPv4 address in 127.0.0.0/8 to listen on.
    std::string address = "127.0.0.1";
    /// TCP port of the WebSocket service: 80, as a sensor serves it; a port from 1024 on needs
    /// no privilege (clients then name it: "127.0.0.1:8080").
    uint16_t webSocketPort = 80;
    /// Decides what the scene holds and all noise; the same seed gives the same data.
    uint64_t seed = 1;
    /// Profiles per second at start-up, from 1 to 10000 (sets the trigger time).
    double profileRate = 100.0;
    /// Points of a profile and columns of the camera, from 16 to 4096.
    uint32_t pointsPerProfile = 640;
    /// Passwords by role ("operator", "maintenance"); a role not given keeps its default, the
    /// role's own name.
    std::map<std::string, std::string> passwords;
    /// How often the sensor misbehaves; never, by default (see SetFaults).
    FaultRates faults;
    /// A recording to send as the UDP stream instead of the scene's profiles (see Streamer);
    /// may be empty. `loopRecording` starts it again at its end.
    std::shared_ptr<RecordedStream> recording;
    bool loopRecording = false;  ///< start the recording again at its end
    /// Told one line per connection and per start and stop of the UDP output; may be empty.
    std::function<void(const std::string&)> log;
};

/// A complete, stateful stand-in for the sensor, running in this process: it serves the
/// sensor's message protocol over WebSocket on port 80 of a loopback address, keeps settings,
/// setups and roles as a device does, computes measurements from a simulated conveyor scene and
/// sends the UDP stream where its settings aim it, from its own address.
class VirtualSensor {
public:
    /// Starts listening at once.
    /// @throws std::invalid_argument for options out of range, and boost's system_error when
    ///         the port of the address cannot be bound.
    explicit VirtualSensor(VirtualSensorOptions options);
    ~VirtualSensor();
    VirtualSensor(const VirtualSensor&) = delete;
    VirtualSensor& operator=(const VirtualSensor&) = delete;

    /// Replaces the fault rates for later replies and datagrams.
    void SetFaults(const FaultRates& faults);

    /// The current body of a resource, as a GET without parameter would return it.
    nlohmann::json Read(const std::string& resource) const;
    /// What acquisition `index` at sensor time `timeUs` gives with the current
    /// settings: what the stream carried for it, or would carry.
    Acquired Capture(uint64_t index, uint64_t timeUs) const;
    /// The camera picture of acquisition `index` at sensor time `timeUs` with the current
    /// settings: what "Image" returns while that acquisition is the latest.
    Picture Photograph(uint64_t index, uint64_t timeUs) const;
    /// Blocks sent on the UDP output so far.
    uint64_t BlocksSent() const;
    /// Datagram faults carried out on the UDP output so far.
    InjectedFaults Injected() const;
    /// Number of client connections whose WebSocket is open.
    std::size_t OpenConnections() const;
    /// Waits until exactly `count` connections are open; false at the deadline.
    bool WaitForOpenConnections(std::size_t count, std::chrono::milliseconds limit) const;

private:
    class Impl;
    std::unique_ptr<Impl> impl;
};

}  // namespace Varkon::QUILApi::Sim
