#include <quil/sim/VirtualSensor.h>

#include "Measurements.h"
#include "Refusal.h"
#include "SensorModel.h"
#include "Streamer.h"
#include "Validation.h"

#include <quil/sim/SensorServer.h>

#include <chrono>
#include <mutex>
#include <stdexcept>

namespace Varkon::QUILApi::Sim {

using nlohmann::json;

namespace {

VirtualSensorOptions Checked(VirtualSensorOptions options) {
    if (!IsLoopbackIPv4(options.address)) {
        throw std::invalid_argument("The listen address must be an IPv4 address in 127.0.0.0/8: " +
                                    options.address);
    }
    if (!(options.profileRate >= 1.0 && options.profileRate <= 10000.0)) {
        throw std::invalid_argument("The profile rate must lie between 1 and 10000 per second.");
    }
    if (options.pointsPerProfile < 16 || options.pointsPerProfile > 4096) {
        throw std::invalid_argument("The points per profile must lie between 16 and 4096.");
    }
    for (const auto& [role, password] : options.passwords) {
        if (role != "operator" && role != "maintenance") {
            throw std::invalid_argument("Only the roles operator and maintenance have passwords: " +
                                        role);
        }
        if (password.empty()) {
            throw std::invalid_argument("The password of role " + role + " is empty.");
        }
    }
    return options;
}

uint64_t WallClockUs() {
    return static_cast<uint64_t>(std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count());
}

}  // namespace

class VirtualSensor::Impl {
public:
    explicit Impl(VirtualSensorOptions given)
        : options(Checked(std::move(given))),
          startUs(WallClockUs()),
          model(options.seed, options.pointsPerProfile, options.profileRate, options.passwords,
                startUs),
          resources(BuildResources(model)),
          faults(options.seed, options.faults) {
        streamer = std::make_unique<Streamer>(
            options.address, startUs, model.scene, faults,
            [this](uint64_t nowUs) { return Poll(nowUs); },
            [this](const std::string& line) { Log(line); }, options.recording,
            options.loopRecording);
        model.now = [this] { return streamer->NowUs(); };
        server = std::make_unique<SensorServer>(options.address, options.webSocketPort);
        server->SetConnectionHandler(
            [this](Connection& connection, bool open) { OnConnection(connection, open); });
        server->SetHandler([this](Connection& connection, const std::string& text) {
            OnMessage(connection, text);
        });
    }

    // The server stops first, so that no message arrives while the rest is taken down. It is
    // stopped before it is released: its thread may be inside OnMessage, which uses `server`.
    ~Impl() {
        server->Stop();
        server.reset();
        streamer.reset();
    }

    void Log(const std::string& line) {
        if (options.log) {
            std::lock_guard<std::mutex> lock(logMutex);
            options.log(line);
        }
    }

    void OnConnection(Connection& connection, bool open) {
        std::string description;
        {
            std::lock_guard<std::mutex> lock(mutex);
            if (open) {
                model.sessions.Open(&connection, connection.Peer());
            } else {
                model.writes.erase(&connection);
                model.sessions.Close(&connection);
            }
        }
        Log("connection from " + connection.Peer() + (open ? " opened" : " closed"));
    }

    void OnMessage(Connection& connection, const std::string& text) {
        const json request = json::parse(text, nullptr, false);
        if (!request.is_object()) {
            return;
        }
        std::chrono::milliseconds delay{0};
        switch (faults.NextReply()) {
            case Faults::Reply::Drop:
                Log("connection from " + connection.Peer() + " dropped on purpose");
                connection.Drop();
                return;
            case Faults::Reply::Miss:
                return;
            case Faults::Reply::Delay:
                delay = faults.Rates().replyDelayTime;
                break;
            case Faults::Reply::Answer:
                break;
        }
        std::vector<std::string> updates;
        std::string reply;
        {
            std::lock_guard<std::mutex> lock(mutex);
            reply = Answer(connection, request, updates);
        }
        connection.Send(reply, delay);
        for (const auto& update : updates) {
            server->Broadcast(update);
        }
        if (request.value("msgType", json()) == "SET") {
            streamer->Wake();
        }
    }

    std::string Answer(Connection& connection, const json& request,
                       std::vector<std::string>& updates) {
        const json type = request.value("msgType", json());
        const Sessions::ConnectionId client = &connection;
        if (type == "CONNECT") {
            model.writes.erase(client);
            return json{{"msgID", request.value("msgID", json())},
                        {"msgType", "ACK"},
                        {"sessionID", model.sessions.Connect(client)}}
                .dump();
        }
        if (type == "DISCONNECT") {
            model.writes.erase(client);
            model.sessions.Disconnect(client);
            return SensorServer::Ack(request);
        }
        const json data = request.value("msgData", json());
        if ((type != "GET" && type != "SET") || !data.is_array() || data.empty() ||
            !data[0].is_string()) {
            return SensorServer::Err(request, "InvalidArgument");
        }
        const auto found = resources.find(data[0].get<std::string>());
        const json argument = data.size() > 1 ? data[1] : json();
        try {
            if (found == resources.end()) {
                throw Refusal::InvalidArgument();
            }
            const Resource& resource = found->second;
            if (type == "GET") {
                if (!resource.get) {
                    throw Refusal::InvalidArgument();
                }
                return SensorServer::Ack(request, resource.get(argument, client));
            }
            if (!resource.set) {
                throw Refusal{"Forbidden", nullptr};
            }
            if (model.sessions.RoleOf(client) < resource.writeRole) {
                throw Refusal{"Forbidden", {{"NeededRole", RoleName(resource.writeRole)}}};
            }
            const auto before = Readings();
            resource.set(argument, client);
            model.FollowSettings(model.now());
            const auto after = Readings();
            for (std::size_t i = 0; i < after.size(); ++i) {
                if (after[i].second != before[i].second) {
                    updates.push_back(json{
                        {"msgData", {after[i].first, after[i].second}},
                        {"msgType",
                         "UPDATE"}}.dump());
                }
            }
            return SensorServer::Ack(request);
        } catch (const Refusal& refusal) {
            return SensorServer::Err(request, refusal.code, refusal.details);
        } catch (const json::exception&) {
            return SensorServer::Err(request, "InvalidArgument");
        }
    }

    std::vector<std::pair<std::string, json>> Readings() const {
        std::vector<std::pair<std::string, json>> readings;
        for (const auto& [name, parameter] : AnnouncedReadings(model)) {
            readings.emplace_back(name, resources.at(name).get(parameter, nullptr));
        }
        return readings;
    }

    Streamer::Work Poll(uint64_t nowUs) {
        std::lock_guard<std::mutex> lock(mutex);
        Streamer::Work work;
        work.due = model.acquisition.Due(nowUs);
        work.nextDueUs = model.acquisition.NextDue();
        work.rate = model.acquisition.Rate();
        work.capture = CaptureSettingsOf(model.settings);
        const json& output = model.settings.Get("ProcessInterfaces");
        if (output["enableUDPStreaming"].get<bool>()) {
            work.target.address = output["udpDestinationIP"];
            work.target.port = output["udpDestinationPort"].get<uint16_t>();
            for (const auto& id : model.settings.Get("UDPStreamData")["enabledDataIDs"]) {
                work.target.dataIds.push_back(id.get<uint8_t>());
            }
        }
        return work;
    }

    const VirtualSensorOptions options;
    const uint64_t startUs;  // its clock's start: this host's wall time
    mutable std::mutex mutex;
    std::mutex logMutex;
    SensorModel model;
    ResourceTable resources;
    Faults faults;
    std::unique_ptr<Streamer> streamer;
    std::unique_ptr<SensorServer> server;
};

VirtualSensor::VirtualSensor(VirtualSensorOptions options)
    : impl(std::make_unique<Impl>(std::move(options))) {}

VirtualSensor::~VirtualSensor() = default;

void VirtualSensor::SetFaults(const FaultRates& faults) {
    impl->faults.SetRates(faults);
}

json VirtualSensor::Read(const std::string& resource) const {
    std::lock_guard<std::mutex> lock(impl->mutex);
    return impl->resources.at(resource).get(nullptr, nullptr);
}

Acquired VirtualSensor::Capture(uint64_t index, uint64_t timeUs) const {
    std::lock_guard<std::mutex> lock(impl->mutex);
    return impl->model.scene.Capture(index, timeUs, impl->model.acquisition.Rate(),
                                     CaptureSettingsOf(impl->model.settings));
}

Picture VirtualSensor::Photograph(uint64_t index, uint64_t timeUs) const {
    std::lock_guard<std::mutex> lock(impl->mutex);
    return impl->model.scene.Photograph(index, timeUs, CaptureSettingsOf(impl->model.settings));
}

uint64_t VirtualSensor::BlocksSent() const {
    return impl->streamer->BlocksSent();
}

InjectedFaults VirtualSensor::Injected() const {
    return impl->streamer->Injected();
}

std::size_t VirtualSensor::OpenConnections() const {
    return impl->server->OpenConnections();
}

bool VirtualSensor::WaitForOpenConnections(std::size_t count,
                                           std::chrono::milliseconds limit) const {
    return impl->server->WaitForOpenConnections(count, limit);
}

}  // namespace Varkon::QUILApi::Sim
