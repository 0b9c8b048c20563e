// Trigger: "TriggerFire", "Trigger", "TriggerLimits", "TriggerMeta".
#include "api/QuilApi.h"

namespace Varkon::QUILApi {
namespace Frame {

template <>
struct Schema<Trigger> {
    using R = Trigger;
    static inline const auto fields = std::make_tuple(
        Field("triggerMode", &R::triggerMode), Field("modeOption", &R::modeOption),
        Field("triggerTime", &R::triggerTime), OptionalField("encoderSteps", &R::encoderSteps, 0u));
};

template <>
struct Schema<TriggerLimits> {
    using R = TriggerLimits;
    static inline const auto fields = std::make_tuple(
        Field("minTime", &R::minTime), Field("maxTime", &R::maxTime),
        OptionalField("minSteps", &R::minSteps, 0u), OptionalField("maxSteps", &R::maxSteps, 0u));
};

template <>
struct Schema<TriggerModeEntry> {
    using R = TriggerModeEntry;
    static inline const auto fields = std::make_tuple(Field("id", &R::id), Field("name", &R::name),
                                                      Field("options", &R::options));
};

template <>
struct Schema<TriggerMeta> {
    using R = TriggerMeta;
    static inline const auto fields = std::make_tuple(Field("timeUnit", &R::timeUnit),
                                                      ListField("triggerModes", &R::triggerModes),
                                                      ListField("options", &R::options));
};

}  // namespace Frame

void QuilApi::TriggerFire(const uint32_t& count) {
    Write("TriggerFire", Frame::Object({{"count", count}}));
}

Trigger QuilApi::GetTrigger() {
    return Read<Trigger>("Trigger");
}

void QuilApi::SetTrigger(const Trigger& trigger) {
    SetTrigger(trigger.triggerMode, trigger.modeOption, trigger.triggerTime, trigger.encoderSteps);
}

void QuilApi::SetTrigger(const uint32_t& triggerMode, const uint32_t& modeOption,
                         const uint32_t& triggerTime, const uint32_t& encoderSteps) {
    Write("Trigger", Frame::Object({{"triggerMode", triggerMode},
                                    {"modeOption", modeOption},
                                    {"triggerTime", triggerTime},
                                    {"encoderSteps", encoderSteps}}));
}

TriggerLimits QuilApi::GetTriggerLimits() {
    return Read<TriggerLimits>("TriggerLimits");
}

TriggerMeta QuilApi::GetTriggerMeta() {
    return Read<TriggerMeta>("TriggerMeta");
}

}  // namespace Varkon::QUILApi
