// Sensor identity: "SensorMetaData".
#include "api/QuilApi.h"

namespace Varkon::QUILApi {

namespace {
constexpr const char* kMissingVersion = "-";
}

SensorMetaData QuilApi::GetSensorMetaData() {
    const auto data = ReadData("SensorMetaData");
    for (const char* key : {"vendorName", "sensorType", "serialNumber"}) {
        CheckField(*data, key);
    }

    // Versions are optional. The three controller versions are read as one group that stops
    // at the first one missing or not a string.
    std::string aggregate = kMissingVersion;
    std::string iface = kMissingVersion;
    std::string measurement = kMissingVersion;
    std::string laser = kMissingVersion;
    try {
        aggregate = data->at("aggregateVersion").get<std::string>();
    } catch (const std::exception&) {
    }
    try {
        iface = data->at("ifaceCtrlVersion").get<std::string>();
        measurement = data->at("measCtrlVersion").get<std::string>();
        laser = data->at("lasCtrlVersion").get<std::string>();
    } catch (const std::exception&) {
    }

    SensorMetaData result;
    result.sensorType = data->at("sensorType").get<std::string>();
    result.serialNumber = data->at("serialNumber").get<std::string>();
    result.vendorName = data->at("vendorName").get<std::string>();
    result.aggregateVersion = aggregate;
    result.controllerVersions = "I:" + iface + ",M:" + measurement + ",L:" + laser;
    return result;
}

}  // namespace Varkon::QUILApi
