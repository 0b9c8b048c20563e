// Measurement values: "MeasurementValues", "MeasurementMeta", "MeasurementValuesMeta".
#include "api/MeasurementConversions.h"
#include "api/QuilApi.h"

namespace Varkon::QUILApi {
namespace {

// "values": numbers, or "INF", "-INF" and other text; walked before the other keys are read.
void ReadValues(const nlohmann::json& values, MeasurementValues& record) {
    Measurement::AppendEach(values, record.values, Measurement::ToMeasurementValue);
}

}  // namespace

namespace Frame {

template <>
struct Schema<MeasurementValues> {
    using R = MeasurementValues;
    static inline const auto fields =
        std::make_tuple(Field("qualityID", &R::qualityID), Field("configmode", &R::configmode),
                        Field("valuesAreValid", &R::valuesAreValid), Field("alarm", &R::alarm),
                        Field("digitalOuts", &R::digitalOuts),
                        Field("EncoderValue", &R::EncoderValue), Field("measrate", &R::measrate),
                        ConvertedField("timestamp", &R::timestamp, Measurement::ToTimestamp),
                        WalkedField<R>("values", ReadValues));
};

template <>
struct Schema<MeasurementMeta> {
    using R = MeasurementMeta;
    static inline const auto fields = std::make_tuple(
        Field("timestampUnits", &R::timestampUnits), ListField("qualityValues", &R::qualityValues),
        Field("measrateUnit", &R::measrateUnit), Field("measratePrec", &R::measratePrec));
};

template <>
struct Schema<MeasurementTypeEntry> {
    using R = MeasurementTypeEntry;
    static inline const auto fields =
        std::make_tuple(Field("toolID", &R::toolID), Field("modeName", &R::modeName),
                        Field("toolName", &R::toolName),
                        Field("userDefinedName", &R::userDefinedName), Field("unit", &R::unit),
                        Field("prec", &R::prec), Field("min", &R::min), Field("max", &R::max));
};

template <>
struct Schema<MeasurementValuesMeta> {
    static inline const auto fields =
        std::make_tuple(ListField("types", &MeasurementValuesMeta::types));
};

}  // namespace Frame

MeasurementValues QuilApi::GetMeasurementValues() {
    return Read<MeasurementValues>("MeasurementValues");
}

MeasurementMeta QuilApi::GetMeasurementMeta() {
    return Read<MeasurementMeta>("MeasurementMeta");
}

MeasurementValuesMeta QuilApi::GetMeasurementValuesMeta() {
    return Read<MeasurementValuesMeta>("MeasurementValuesMeta");
}

}  // namespace Varkon::QUILApi
