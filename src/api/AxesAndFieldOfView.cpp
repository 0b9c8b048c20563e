// Axes and field of view: "AxesMeta", "Axes", "FoV", "FoVDistance", "FoVLimits", "FoVMeta".
#include "api/QuilApi.h"

namespace Varkon::QUILApi {
namespace Frame {

template <>
struct Schema<AxesMeta> {
    static inline const auto fields =
        std::make_tuple(ListField("zAxisDefinitions", &AxesMeta::zAxisDefinitions));
};

template <>
struct Schema<FoV> {
    static inline const auto fields =
        std::make_tuple(Field("limitLeft", &FoV::limitLeft), Field("limitRight", &FoV::limitRight),
                        Field("offset", &FoV::offset), Field("height", &FoV::height));
};

template <>
struct Schema<FoVDistance> {
    static inline const auto fields = std::make_tuple(
        Field("limitLeft", &FoVDistance::limitLeft), Field("limitRight", &FoVDistance::limitRight),
        Field("near", &FoVDistance::near), Field("far", &FoVDistance::far));
};

template <>
struct Schema<FoVLimits> {
    static inline const auto fields = std::make_tuple(
        Field("maxXMinus", &FoVLimits::maxXMinus), Field("maxXPlus", &FoVLimits::maxXPlus),
        Field("minWidth", &FoVLimits::minWidth), Field("minHeight", &FoVLimits::minHeight),
        Field("maxHeight", &FoVLimits::maxHeight), Field("minDistance", &FoVLimits::minDistance),
        Field("maxDistance", &FoVLimits::maxDistance));
};

template <>
struct Schema<FoVMeta> {
    static inline const auto fields =
        std::make_tuple(Field("xUnit", &FoVMeta::xUnit), Field("zUnit", &FoVMeta::zUnit),
                        Field("xPrec", &FoVMeta::xPrec), Field("zPrec", &FoVMeta::zPrec));
};

}  // namespace Frame

AxesMeta QuilApi::GetAxesMeta() {
    return Read<AxesMeta>("AxesMeta");
}

uint32_t QuilApi::GetAxes() {
    return ReadField<uint32_t>("Axes", "zAxisDefinitionID");
}

void QuilApi::SetAxes(const uint32_t& zAxisDefinitionID) {
    Write("Axes", Frame::Object({{"zAxisDefinitionID", zAxisDefinitionID}}));
}

FoV QuilApi::GetFoV() {
    return Read<FoV>("FoV");
}

void QuilApi::SetFoV(const FoV& fov) {
    SetFoV(fov.limitLeft, fov.limitRight, fov.offset, fov.height);
}

void QuilApi::SetFoV(const double& limitLeft, const double& limitRight, const double& offset,
                     const double& height) {
    Write("FoV", Frame::Object({{"limitLeft", limitLeft},
                                {"limitRight", limitRight},
                                {"offset", offset},
                                {"height", height}}));
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
    Write(
        "FoVDistance",
        Frame::Object(
            {{"limitLeft", limitLeft}, {"limitRight", limitRight}, {"near", near}, {"far", far}}));
}

FoVLimits QuilApi::GetFoVLimits() {
    return Read<FoVLimits>("FoVLimits");
}

FoVMeta QuilApi::GetFoVMeta() {
    return Read<FoVMeta>("FoVMeta");
}

}  // namespace Varkon::QUILApi
