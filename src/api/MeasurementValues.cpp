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

namespace ResourceFrame {

template <>
struct Schema<MeasurementValues> {
    using R = MeasurementValues;
    static inline const auto fields =
        Derived<R>(ConvertedField("timestamp", &R::timestamp, Measurement::ToTimestamp),
                   WalkedField<R>("values", ReadValues));
};

}  // namespace ResourceFrame

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
