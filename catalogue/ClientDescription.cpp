#include "ClientDescription.h"

#include <quil/Json.h>

#include <functional>
#include <map>
#include <stdexcept>

namespace Varkon::QUILApi::Catalogue {
namespace {

using nlohmann::json;

template <class T>
std::function<json(Quil&)> Read(T (Quil::*read)()) {
    return [read](Quil& quil) { return json((quil.*read)()); };
}

// A number the API returns bare, in the object the sensor sends it in.
std::function<json(Quil&)> ReadAs(const char* key, uint32_t (Quil::*read)()) {
    return [key, read](Quil& quil) { return json{{key, (quil.*read)()}}; };
}

// The limits of one algorithm as the sensor sends them: each range as the array [min, max].
json AlgorithmLimits(Quil& quil, uint32_t id) {
    json limits = quil.GetProfileAlgorithmParamsLimits(id);
    for (auto& value : limits["limits"]) {
        if (value.is_object()) {
            value = json::array({value["min"], value["max"]});
        }
    }
    return limits;
}

// The description resources a rule may point into, by name.
const std::map<std::string, std::function<json(Quil&)>>& Readers() {
    using Q = Quil;
    static const std::map<std::string, std::function<json(Quil&)>> readers = {
        {"ExposureTimeLimits", Read(&Q::GetExposureTimeLimits)},
        {"ExposureTimeMeta", Read(&Q::GetExposureTimeMeta)},
        {"LaserPowerLimits", Read(&Q::GetLaserPowerLimits)},
        {"LaserPowerMeta", Read(&Q::GetLaserPowerMeta)},
        {"TriggerLimits", Read(&Q::GetTriggerLimits)},
        {"TriggerMeta", Read(&Q::GetTriggerMeta)},
        {"ResolutionLimits", Read(&Q::GetResolutionLimits)},
        {"ResamplingMeta", Read(&Q::GetResamplingMeta)},
        {"ProfileFilterMeta", Read(&Q::GetProfileFilterMeta)},
        {"ProfileAlgorithmMeta", Read(&Q::GetProfileAlgorithmMeta)},
        {"ProfileAlgorithmParamsMeta", Read(&Q::GetProfileAlgorithmParamsMeta)},
        {"AxesMeta", Read(&Q::GetAxesMeta)},
        {"FoVLimits", Read(&Q::GetFoVLimits)},
        {"FoVMeta", Read(&Q::GetFoVMeta)},
        {"TimeserverMeta", ReadAs("numServers", &Q::GetTimeserverMeta)},
        {"ProcessInterfacesMeta", Read(&Q::GetProcessInterfacesMeta)},
        {"UDPMeta", Read(&Q::GetUDPMeta)},
        {"ParameterSetupMeta", ReadAs("numStorages", &Q::GetParameterSetupMeta)},
    };
    return readers;
}

}  // namespace

const json& ClientDescription::At(const std::string& pointer) {
    const json::json_pointer path(pointer);
    if (!document.contains(path)) {
        const std::string resource = pointer.substr(1, pointer.find('/', 1) - 1);
        if (resource == "ProfileAlgorithmParamsLimits") {
            // Read for one algorithm at a time: "/ProfileAlgorithmParamsLimits/<id>/...".
            const auto start = resource.size() + 2;
            const std::string id = pointer.substr(start, pointer.find('/', start) - start);
            document[resource][id] = AlgorithmLimits(quil, std::stoul(id));
        } else {
            const auto reader = Readers().find(resource);
            if (reader == Readers().end()) {
                throw std::out_of_range("no client operation reads " + resource);
            }
            document[resource] = reader->second(quil);
        }
    }
    return document.at(path);
}

}  // namespace Varkon::QUILApi::Catalogue
