// Axes and field of view: "AxesMeta", "Axes", "FoV", "FoVDistance", "FoVLimits", "FoVMeta".
#include "api/QuilApi.h"

namespace Varkon::QUILApi {
AxesMeta QuilApi::GetAxesMeta() {
    return Read<AxesMeta>("AxesMeta");
}

uint32_t QuilApi::GetAxes() {
    return ReadField<uint32_t>("Axes", "zAxisDefinitionID");
}

void QuilApi::SetAxes(const uint32_t& zAxisDefinitionID) {
    Write("Axes", ResourceFrame::Object({{"zAxisDefinitionID", zAxisDefinitionID}}));
}

FoV QuilApi::GetFoV() {
    return Read<FoV>("FoV");
}

void QuilApi::SetFoV(const FoV& fov) {
    SetFoV(fov.limitLeft, fov.limitRight, fov.offset, fov.height);
}

void QuilApi::SetFoV(const double& limitLeft, const double& limitRight, const double& offset,
                     const double& height) {
    Write("FoV", WriteBody(FoV{limitLeft, limitRight, offset, height}));
}

FoVDistance QuilApi::GetFoVDistance() {
    return Read<FoVDistance>("FoVDistance");
}

void QuilApi::SetFoVDistance(const FoVDistance& fovDistance) {
    SetFoVDistance(fovDistance.limitLeft, fovDistance.limitRight, fovDistance.near,
                   fovDistance.far);
}

void QuilApi::SetFoVDistance(const double& limitLeft, const double& limitRight, const double& near,
                             const double& far) {
    Write("FoVDistance", WriteBody(FoVDistance{limitLeft, limitRight, near, far}));
}

FoVLimits QuilApi::GetFoVLimits() {
    return Read<FoVLimits>("FoVLimits");
}

FoVMeta QuilApi::GetFoVMeta() {
    return Read<FoVMeta>("FoVMeta");
}

}  // namespace Varkon::QUILApi
