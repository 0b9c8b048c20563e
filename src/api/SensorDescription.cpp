#include <quil/Quil.h>

#include <chrono>
#include <stdexcept>

#include <nlohmann/json.hpp>

#include "api/QuilApi.h"

namespace Varkon::QUILApi {

namespace {

// The resources that tell what a recording's datagrams mean, as the sensor sends them.
const char* const kDescribingResources[] = {
    "SensorMetaData",
    "ProcessInterfaces",
    "UDPStreamData",
    "UDPMeta",
    "ProfileMeta",
    "ImageMeta",
    "MeasurementMeta",
    "MeasurementValuesMeta",
    "AxesMeta",
    "Axes",
    "FoV",
    "FoVDistance",
    "FoVMeta",
};

constexpr int kLimitsBeforeLastRequest = 2;

}  // namespace

std::string DescribeSensorForRecording(Quil& client, const std::string& settings) {
    nlohmann::json description = nlohmann::json::object();
    if (!settings.empty()) {
        auto parsed = nlohmann::json::parse(settings, nullptr, false);
        if (parsed.is_discarded() || !parsed.is_object()) {
            throw std::invalid_argument("Settings are not a JSON object.");
        }
        description["settings"] = std::move(parsed);
    }
    auto* api = dynamic_cast<QuilApi*>(&client);
    // A sensor that does not answer costs a request limit per resource; no new request starts
    // after two limits, so that the whole takes three at most.
    using Clock = std::chrono::steady_clock;
    const auto lastStart = api == nullptr
                               ? Clock::now()
                               : Clock::now() + kLimitsBeforeLastRequest * api->GetRequestTimeout();
    nlohmann::json unreadable = nlohmann::json::array();
    for (const char* resource : kDescribingResources) {
        try {
            if (api == nullptr) {
                throw std::invalid_argument("not a client of this library");
            }
            if (Clock::now() > lastStart) {
                throw std::runtime_error("out of time");
            }
            description[resource] = api->ReadResource(resource);
        } catch (const std::exception&) {
            unreadable.push_back(resource);
        }
    }
    if (!unreadable.empty()) {
        description["unreadable"] = unreadable;
    }
    return description.dump();
}

}  // namespace Varkon::QUILApi
