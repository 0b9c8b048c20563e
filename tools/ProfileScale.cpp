#include "ProfileScale.h"

#include <algorithm>

namespace QuilTool {

ProfileScale ProfileScale::Read(Varkon::QUILApi::Quil& quil) {
    ProfileScale scale;
    const auto units = quil.GetProfileMeta();
    scale.xUnit = units.xUnit;
    scale.zUnit = units.zUnit;
    // The field of view's precisions: decimal places of the coordinates.
    const auto meta = quil.GetFoVMeta();
    scale.xStep = std::pow(10.0, -static_cast<double>(meta.xPrec));
    scale.zStep = std::pow(10.0, -static_cast<double>(meta.zPrec));
    const auto fov = quil.GetFoVDistance();
    scale.xMin = fov.limitLeft;
    scale.xMax = fov.limitRight;
    // Definition 0 measures the distance from the sensor; the others a height above the far
    // limit, which spans the field of view's depth from 0.
    const uint32_t axis = quil.GetAxes();
    if (axis == 0) {
        scale.zMin = fov.near;
        scale.zMax = fov.far;
    } else {
        scale.zMin = 0;
        scale.zMax = fov.far - fov.near;
    }
    for (const auto& definition : quil.GetAxesMeta().zAxisDefinitions) {
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
