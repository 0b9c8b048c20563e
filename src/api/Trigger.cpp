// Trigger: "TriggerFire", "Trigger", "TriggerLimits", "TriggerMeta".
#include "api/QuilApi.h"

namespace Varkon::QUILApi {
namespace ResourceFrame {

template <>
struct Schema<Trigger> {
    static inline const auto fields =
        Derived<Trigger>(OptionalField("encoderSteps", &Trigger::encoderSteps, 0u));
};

template <>
struct Schema<TriggerLimits> {
    using R = TriggerLimits;
    static inline const auto fields = Derived<R>(OptionalField("minSteps", &R::minSteps, 0u),
                                                 OptionalField("maxSteps", &R::maxSteps, 0u));
};

}  // namespace ResourceFrame

void QuilApi::TriggerFire(const uint32_t& count) {
    Write("TriggerFire", ResourceFrame::Object({{"count", count}}));
}

Trigger QuilApi::GetTrigger() {
    return Read<Trigger>("Trigger");
}

void QuilApi::SetTrigger(const Trigger& trigger) {
    SetTrigger(trigger.triggerMode, trigger.modeOption, trigger.triggerTime, trigger.encoderSteps);
}

void QuilApi::SetTrigger(const uint32_t& triggerMode, const uint32_t& modeOption,
                         const uint32_t& triggerTime, const uint32_t& encoderSteps) {
    Write("Trigger", WriteBody(Trigger{triggerMode, modeOption, triggerTime, encoderSteps}));
}

TriggerLimits QuilApi::GetTriggerLimits() {
    return Read<TriggerLimits>("TriggerLimits");
}

TriggerMeta QuilApi::GetTriggerMeta() {
    return Read<TriggerMeta>("TriggerMeta");
}

}  // namespace Varkon::QUILApi
