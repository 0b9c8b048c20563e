// quil discover: which addresses of a subnet answer as a sensor does.
#include "Commands.h"

#include <CLI/CLI.hpp>

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <net/if.h>
#include <netinet/in.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

namespace QuilTool {
namespace {

using Varkon::QUILApi::Quil;
using Varkon::QUILApi::SensorMetaData;

// The largest subnet searched: 4,094 addresses.
constexpr int kWidestPrefix = 20;
// Addresses tried at the same time.
constexpr std::size_t kParallel = 64;

struct Subnet {
    uint32_t network;  // host byte order
    int prefix;

    std::string Text() const {
        in_addr address{htonl(network)};
        return std::string(inet_ntoa(address)) + "/" + std::to_string(prefix);
    }
    // Its addresses for hosts: all but the network's and the broadcast address, unless there
    // are no others (a /31 or /32).
    std::vector<uint32_t> Hosts() const {
        const uint64_t size = uint64_t{1} << (32 - prefix);
        std::vector<uint32_t> hosts;
        const uint64_t first = size > 2 ? 1 : 0;
        const uint64_t end = size > 2 ? size - 1 : size;
        for (uint64_t i = first; i < end; ++i) {
            hosts.push_back(network + static_cast<uint32_t>(i));
        }
        return hosts;
    }
};

std::string AddressText(uint32_t address) {
    in_addr raw{htonl(address)};
    return inet_ntoa(raw);
}

Subnet ParseSubnet(const std::string& text) {
    const auto slash = text.find('/');
    in_addr address{};
    int prefix = -1;
    try {
        std::size_t used = 0;
        prefix = slash == std::string::npos ? -1 : std::stoi(text.substr(slash + 1), &used);
        if (slash != std::string::npos && used != text.size() - slash - 1) {
            prefix = -1;
        }
    } catch (const std::exception&) {
        prefix = -1;
    }
    if (prefix < 0 || prefix > 32 ||
        inet_pton(AF_INET, text.substr(0, slash).c_str(), &address) != 1) {
        throw UsageError("\"" + text +
                         "\" is no subnet; write it as address/prefix, e.g. 192.168.0.0/24");
    }
    if (prefix < kWidestPrefix) {
        throw UsageError("the subnet " + text + " is too large to search; give one of at most /" +
                         std::to_string(kWidestPrefix) + " (4094 addresses)");
    }
    const uint32_t mask = prefix == 0 ? 0 : ~uint32_t{0} << (32 - prefix);
    return {ntohl(address.s_addr) & mask, prefix};
}

// The networks of this host's IPv4 interfaces that are up, other than loopback, each narrowed
// to the /24 around the host's own address when it is wider.
std::vector<Subnet> LocalSubnets() {
    std::vector<Subnet> subnets;
    ifaddrs* interfaces = nullptr;
    if (getifaddrs(&interfaces) != 0) {
        return subnets;
    }
    for (const ifaddrs* at = interfaces; at != nullptr; at = at->ifa_next) {
        if (at->ifa_addr == nullptr || at->ifa_netmask == nullptr ||
            at->ifa_addr->sa_family != AF_INET || (at->ifa_flags & IFF_UP) == 0 ||
            (at->ifa_flags & IFF_LOOPBACK) != 0) {
            continue;
        }
        const uint32_t address =
            ntohl(reinterpret_cast<const sockaddr_in*>(at->ifa_addr)->sin_addr.s_addr);
        const uint32_t mask =
            ntohl(reinterpret_cast<const sockaddr_in*>(at->ifa_netmask)->sin_addr.s_addr);
        int prefix = 0;
        for (uint32_t bits = mask; (bits & 0x80000000u) != 0; bits <<= 1) {
            ++prefix;
        }
        prefix = std::max(prefix, 24);
        const uint32_t narrowed = ~uint32_t{0} << (32 - prefix);
        subnets.push_back({address & narrowed, prefix});
    }
    freeifaddrs(interfaces);
    return subnets;
}

struct Found {
    uint32_t address;
    SensorMetaData identity;
};

// Tries every address, kParallel at a time, each within `limit`. A try that overruns its limit
// (a host that accepts connections but never completes the handshake) is left behind; it ends
// with the program.
std::vector<Found> Probe(const std::vector<uint32_t>& addresses, std::chrono::milliseconds limit) {
    struct Shared {
        std::mutex mutex;
        std::condition_variable done;
        std::vector<Found> found;
        std::size_t finished = 0;
    };
    auto shared = std::make_shared<Shared>();
    for (std::size_t start = 0; start < addresses.size(); start += kParallel) {
        const std::size_t end = std::min(addresses.size(), start + kParallel);
        const auto deadline = std::chrono::steady_clock::now() + limit;
        {
            std::lock_guard<std::mutex> lock(shared->mutex);
            shared->finished = 0;
        }
        for (std::size_t i = start; i < end; ++i) {
            std::thread([shared, address = addresses[i], limit] {
                std::optional<Found> found;
                try {
                    auto quil = Quil::Create(AddressText(address), 0);
                    quil->SetRequestTimeout(limit);
                    quil->Connect();
                    found = Found{address, quil->GetSensorMetaData()};
                    quil->Disconnect();
                } catch (const std::exception&) {
                }
                std::lock_guard<std::mutex> lock(shared->mutex);
                if (found) {
                    shared->found.push_back(*found);
                }
                ++shared->finished;
                shared->done.notify_all();
            }).detach();
        }
        std::unique_lock<std::mutex> lock(shared->mutex);
        shared->done.wait_until(lock, deadline, [&] { return shared->finished == end - start; });
    }
    std::lock_guard<std::mutex> lock(shared->mutex);
    auto found = shared->found;
    std::sort(found.begin(), found.end(),
              [](const Found& a, const Found& b) { return a.address < b.address; });
    found.erase(std::unique(found.begin(), found.end(),
                            [](const Found& a, const Found& b) { return a.address == b.address; }),
                found.end());
    return found;
}

std::string Padded(std::string text, std::size_t width) {
    text.resize(std::max(text.size() + 1, width), ' ');
    return text;
}

}  // namespace

void AddDiscoverCommand(CLI::App& app, Context& context) {
    static std::vector<std::string> subnets;
    static double seconds = 1;
    auto* command = app.add_subcommand(
        "discover",
        "Find sensors: try the sensor's connection and ask for its identity on every address of "
        "a subnet, many at a time; lists address, type, serial number and firmware");
    SetExamples(*command, {"quil discover --subnet 192.168.0.0/24"});
    command->add_option("--subnet", subnets,
                        "Subnet to search, as address/prefix (at most /20); may be given more "
                        "than once (default: the networks of this host's interfaces, each at "
                        "most the /24 around this host)");
    command->add_option("--timeout", seconds, "Seconds each address may take to answer")
        ->check(CLI::Range(0.05, 60.0))
        ->capture_default_str();
    command->add_flag("--json", context.json, "Print the result as one JSON document");
    command->callback([&context] {
        std::vector<Subnet> searched;
        for (const auto& text : subnets) {
            searched.push_back(ParseSubnet(text));
        }
        if (subnets.empty()) {
            searched = LocalSubnets();
        }
        std::vector<uint32_t> addresses;
        std::string names;
        for (const auto& subnet : searched) {
            const auto hosts = subnet.Hosts();
            addresses.insert(addresses.end(), hosts.begin(), hosts.end());
            names += (names.empty() ? "" : ", ") + subnet.Text();
        }
        if (addresses.empty()) {
            throw std::runtime_error("this host has no network to search; give --subnet");
        }
        const auto found =
            Probe(addresses, std::chrono::milliseconds(static_cast<long long>(seconds * 1000)));
        if (found.empty()) {
            throw std::runtime_error("no sensor answered in " + names);
        }
        nlohmann::json list = nlohmann::json::array();
        std::string text =
            Padded("address", 16) + Padded("type", 20) + Padded("serial", 16) + "firmware\n";
        for (const auto& sensor : found) {
            const std::string address = AddressText(sensor.address);
            list.push_back({{"address", address},
                            {"sensorType", sensor.identity.sensorType},
                            {"serialNumber", sensor.identity.serialNumber},
                            {"aggregateVersion", sensor.identity.aggregateVersion}});
            text += Padded(address, 16) + Padded(sensor.identity.sensorType, 20) +
                    Padded(sensor.identity.serialNumber, 16) + sensor.identity.aggregateVersion +
                    "\n";
        }
        context.Print({{"sensors", list}}, text);
    });
}

}  // namespace QuilTool
