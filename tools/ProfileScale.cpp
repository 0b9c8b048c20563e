#include "ProfileScale.h"

#include <quil/Json.h>

#include <algorithm>

namespace QuilTool {

ProfileScale ProfileScale::Read(Varkon::QUILApi::Quil& quil) {
    return From(quil.GetProfileMeta(), quil.GetFoVMeta(), quil.GetFoVDistance(), quil.GetAxes(),
                quil.GetAxesMeta());
}

ProfileScale ProfileScale::FromDescription(const std::string& descriptionText) {
    const auto description = nlohmann::json::parse(descriptionText, nullptr, false);
    try {
        namespace Api = Varkon::QUILApi;
        const auto& sensor = description.at("sensor");
        return From(Api::FromPlainJson<Api::ProfileMeta>(sensor.at("ProfileMeta")),
                    Api::FromPlainJson<Api::FoVMeta>(sensor.at("FoVMeta")),
                    Api::FromPlainJson<Api::FoVDistance>(sensor.at("FoVDistance")),
                    sensor.at("Axes").at("zAxisDefinitionID").get<uint32_t>(),
                    Api::FromPlainJson<Api::AxesMeta>(sensor.at("AxesMeta")));
    } catch (const nlohmann::json::exception&) {
        return {};  // no description, or one without the sensor's descriptions
    }
}

ProfileScale ProfileScale::From(const Varkon::QUILApi::ProfileMeta& units,
                                const Varkon::QUILApi::FoVMeta& meta,
                                const Varkon::QUILApi::FoVDistance& fov, uint32_t axis,
                                const Varkon::QUILApi::AxesMeta& axes) {
    ProfileScale scale;
    scale.xUnit = units.xUnit;
    scale.zUnit = units.zUnit;
    // The field of view's precisions: decimal places of the coordinates.
    scale.xStep = std::pow(10.0, -static_cast<double>(meta.xPrec));
    scale.zStep = std::pow(10.0, -static_cast<double>(meta.zPrec));
    scale.xMin = fov.limitLeft;
    scale.xMax = fov.limitRight;
    // Definition 0 measures the distance from the sensor; the others a height above the far
    // limit, which spans the field of view's depth from 0.
    if (axis == 0) {
        scale.zMin = fov.near;
        scale.zMax = fov.far;
    } else {
        scale.zMin = 0;
        scale.zMax = fov.far - fov.near;
    }
    for (const auto& definition : axes.zAxisDefinitions) {
        if (definition.id == axis) {
            scale.zName = definition.name;
        }
    }
    if (scale.xMax <= scale.xMin) {
        std::swap(scale.xMin, scale.xMax);
    }
    return scale;
}

}  // namespace QuilTool
