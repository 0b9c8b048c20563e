#include "Commands.h"

#include "Log.h"
#include "SparkplugPayloads.h"
#include "SparkplugTopics.h"
#include "sparkplug_b.pb.h"

#include <optional>

namespace Varkon::QuilGateway {
namespace {

using org::eclipse::tahu::protobuf::Payload;

std::optional<std::string> Refusal(const Payload::Metric& metric, bool toNode) {
    const std::string& name = metric.name();
    if (toNode && name == kRebirthMetric) {
        if (metric.value_case() != Payload::Metric::kBooleanValue) {
            return std::string(kRebirthMetric) + " expects a Boolean";
        }
        if (!metric.boolean_value()) {
            return std::string(kRebirthMetric) + " is false: nothing to do";
        }
        return std::nullopt;
    }
    if (!toNode && name == kKeepBlackBoxMetric) {
        if (metric.value_case() != Payload::Metric::kStringValue) {
            return std::string(kKeepBlackBoxMetric) + " expects a String, the recording's name";
        }
        return std::nullopt;
    }
    return "unknown metric " + Quoted(name);
}

}  // namespace

ReceivedCommand ReceiveCommand(const char* topic, const void* payload, std::size_t bytes) {
    ReceivedCommand command{topic != nullptr ? topic : "", {}, bytes};
    if (bytes <= kCommandBytes && payload != nullptr) {
        command.payload.assign(static_cast<const char*>(payload), bytes);
    }
    return command;
}

void HandleCommand(const ReceivedCommand& command, const std::string& group,
                   const std::string& node, const CommandTargets& targets) {
    const std::string devicePrefix = SparkplugTopic(group, SparkplugMessage::DCMD, node) + "/";
    const bool toNode = command.topic == SparkplugTopic(group, SparkplugMessage::NCMD, node);
    if (!toNode && command.topic.rfind(devicePrefix, 0) != 0) {
        return;
    }
    const std::string device = toNode ? "" : command.topic.substr(devicePrefix.size());
    const std::string what = toNode ? "NCMD" : "DCMD to " + Quoted(device);
    const auto refuse = [&](const std::string& why) {
        if (targets.answer) {
            targets.answer(what + " refused: " + why);
        }
    };
    if (command.bytes > kCommandBytes) {
        refuse(std::to_string(command.bytes) + " bytes, more than " +
               std::to_string(kCommandBytes));
        return;
    }
    Payload payload;
    if (!payload.ParseFromString(command.payload)) {
        refuse("not a Sparkplug B payload");
        return;
    }
    if (payload.metrics_size() == 0 ||
        static_cast<std::size_t>(payload.metrics_size()) > kCommandMetrics) {
        refuse(std::to_string(payload.metrics_size()) + " metrics, expected 1 to " +
               std::to_string(kCommandMetrics));
        return;
    }
    for (const auto& metric : payload.metrics()) {
        if (auto why = Refusal(metric, toNode)) {
            refuse(*why);
        } else if (toNode) {
            if (targets.rebirth) {
                targets.rebirth();
            }
        } else {
            const KeepAnswer answer = targets.keep
                                          ? targets.keep(device, metric.string_value())
                                          : KeepAnswer{KeepAnswer::Outcome::NoBlackBox,
                                                       "there is no sensor " + Quoted(device)};
            if (answer.outcome == KeepAnswer::Outcome::NoBlackBox) {
                refuse(std::string(kKeepBlackBoxMetric) + ": " + answer.text);
            }
        }
    }
}

}  // namespace Varkon::QuilGateway
