#include <quil/view/SensorFeed.h>

#include <algorithm>

namespace Varkon::QUILApi::View {

uint32_t BlockIdStep(const std::vector<uint32_t>& dataIds) {
    std::vector<uint32_t> distinct = dataIds;
    std::sort(distinct.begin(), distinct.end());
    distinct.erase(std::unique(distinct.begin(), distinct.end()), distinct.end());
    return std::max<uint32_t>(static_cast<uint32_t>(distinct.size()), 1);
}

std::string IdentityText(const SensorMetaData& sensor) {
    return sensor.vendorName + " " + sensor.sensorType + ", serial " + sensor.serialNumber +
           ", version " + sensor.aggregateVersion;
}

std::vector<MeasurementName> MeasurementNames(const std::vector<MeasurementTypeEntry>& types) {
    std::vector<MeasurementName> names;
    for (const auto& type : types) {
        names.push_back(
            {type.userDefinedName.empty() ? type.toolName : type.userDefinedName, type.unit});
    }
    return names;
}

}  // namespace Varkon::QUILApi::View
