#include <quil/Quil.h>

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
    nlohmann::json unreadable = nlohmann::json::array();
    for (const char* resource : kDescribingResources) {
        try {
            if (api == nullptr) {
                throw std::invalid_argument("not a client of this library");
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
