// quil.sim: the virtual sensor, running in this process, for tests of Python code without
// hardware.
#include "Common.h"

#include <quil/sim/VirtualSensor.h>

#include <boost/system/system_error.hpp>

#include <map>
#include <memory>
#include <optional>

namespace QuilPython {
namespace {

namespace Sim = Varkon::QUILApi::Sim;

/// A virtual sensor as Python holds it; Close (the end of a `with` block) stops it.
class VirtualSensor {
public:
    explicit VirtualSensor(Sim::VirtualSensorOptions options) : address(options.address) {
        const uint16_t port = options.webSocketPort;
        try {
            sensor = WithoutGil(
                [&] { return std::make_unique<Sim::VirtualSensor>(std::move(options)); });
        } catch (const boost::system::system_error& e) {
            if (e.code() != boost::system::errc::permission_denied) {
                throw;
            }
            // As quil-sim says it, with the keyword for its option.
            const std::string interpreter = py::str(py::module_::import("os").attr("path").attr(
                "realpath")(py::module_::import("sys").attr("executable")));
            throw std::runtime_error(
                "The virtual sensor may not listen on port " + std::to_string(port) + " of " +
                address +
                ": give ws_port=8080 (any port from 1024 on), run as root, or allow it with "
                "'setcap cap_net_bind_service=+ep " +
                interpreter + "'.");
        }
    }

    Sim::VirtualSensor& Get() const {
        if (!sensor) {
            throw std::logic_error("The virtual sensor at " + address + " is stopped.");
        }
        return *sensor;
    }

    void Close() {
        std::unique_ptr<Sim::VirtualSensor> stopping = std::move(sensor);
        WithoutGil([&] { stopping.reset(); });
    }

    const std::string address;

private:
    std::unique_ptr<Sim::VirtualSensor> sensor;
};

Sim::FaultRates Faults(const py::kwargs& rates) {
    Sim::FaultRates faults;
    const std::pair<const char*, double Sim::FaultRates::*> fields[] = {
        {"reply_delay", &Sim::FaultRates::replyDelay},
        {"reply_missing", &Sim::FaultRates::replyMissing},
        {"connection_drop", &Sim::FaultRates::connectionDrop},
        {"datagram_loss", &Sim::FaultRates::datagramLoss},
        {"datagram_duplicate", &Sim::FaultRates::datagramDuplicate},
        {"datagram_reorder", &Sim::FaultRates::datagramReorder},
        {"datagram_truncate", &Sim::FaultRates::datagramTruncate},
    };
    std::size_t used = 0;
    for (const auto& [name, member] : fields) {
        if (rates.contains(name)) {
            faults.*member = rates[name].cast<double>();
            ++used;
        }
    }
    if (used != rates.size()) {
        throw py::type_error(
            "unknown fault rate; known: reply_delay, reply_missing, "
            "connection_drop, datagram_loss, datagram_duplicate, "
            "datagram_reorder, datagram_truncate");
    }
    return faults;
}

}  // namespace

void BindSim(py::module_& m) {
    using py::arg;
    py::class_<VirtualSensor>(m, "VirtualSensor")
        .def(py::init([](const std::string& address, uint64_t seed, double profileRate,
                         uint32_t pointsPerProfile,
                         std::optional<std::map<std::string, std::string>> passwords,
                         uint16_t wsPort) {
                 Sim::VirtualSensorOptions options;
                 options.address = address;
                 options.webSocketPort = wsPort;
                 options.seed = seed;
                 options.profileRate = profileRate;
                 options.pointsPerProfile = pointsPerProfile;
                 options.passwords = passwords.value_or(std::map<std::string, std::string>{});
                 return std::make_unique<VirtualSensor>(std::move(options));
             }),
             arg("address") = "127.0.0.1", arg("seed") = 1, arg("profile_rate") = 100.0,
             arg("points_per_profile") = 640, arg("passwords") = py::none(), arg("ws_port") = 80)
        .def("__enter__", [](py::object self) { return self; })
        .def("__exit__", [](VirtualSensor& s, py::args) { s.Close(); })
        .def("close", &VirtualSensor::Close)
        .def_readonly("address", &VirtualSensor::address)
        .def("set_faults",
             [](VirtualSensor& s, const py::kwargs& rates) { s.Get().SetFaults(Faults(rates)); })
        .def(
            "read",
            [](VirtualSensor& s, const std::string& resource) {
                const std::string text = s.Get().Read(resource).dump();
                return py::module_::import("json").attr("loads")(text);
            },
            arg("resource"))
        .def("blocks_sent", [](VirtualSensor& s) { return s.Get().BlocksSent(); })
        .def("open_connections", [](VirtualSensor& s) { return s.Get().OpenConnections(); })
        .def(
            "wait_for_open_connections",
            [](VirtualSensor& s, std::size_t count, double timeout) {
                return WaitInSlices(timeout, [&](std::chrono::milliseconds limit) {
                    return s.Get().WaitForOpenConnections(count, limit);
                });
            },
            arg("count"), arg("timeout"));
}

}  // namespace QuilPython
