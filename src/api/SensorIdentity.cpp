// Sensor identity: "SensorMetaData".
#include "api/QuilApi.h"

namespace Varkon::QUILApi {

namespace {

constexpr const char* kMissingVersion = "-";

// The text under `key`, or null when it is missing or not a string. Versions are often absent:
// looked up instead of caught, since an exception per missing version costs more than the rest
// of the reply's handling.
const std::string* TextOf(const nlohmann::json& data, const char* key) {
    const auto found = data.find(key);
    return found != data.end() && found->is_string() ? found->get_ptr<const std::string*>()
                                                     : nullptr;
}

}  // namespace

SensorMetaData QuilApi::GetSensorMetaData() {
    const auto data = ReadData("SensorMetaData");
    for (const char* key : {"vendorName", "sensorType", "serialNumber"}) {
        CheckField(*data, key);
    }

    // Versions are optional. The three controller versions are read as one group that stops
    // at the first one missing or not a string.
    const std::string* aggregate = TextOf(*data, "aggregateVersion");
    std::string controllers[] = {kMissingVersion, kMissingVersion, kMissingVersion};
    const char* controllerKeys[] = {"ifaceCtrlVersion", "measCtrlVersion", "lasCtrlVersion"};
    for (std::size_t i = 0; i < 3; ++i) {
        const std::string* version = TextOf(*data, controllerKeys[i]);
        if (!version) {
            break;
        }
        controllers[i] = *version;
    }

    SensorMetaData result;
    result.sensorType = data->at("sensorType").get<std::string>();
    result.serialNumber = data->at("serialNumber").get<std::string>();
    result.vendorName = data->at("vendorName").get<std::string>();
    result.aggregateVersion = aggregate ? *aggregate : kMissingVersion;
    result.controllerVersions =
        "I:" + controllers[0] + ",M:" + controllers[1] + ",L:" + controllers[2];
    return result;
}

}  // namespace Varkon::QUILApi
