// The commands a host sends: NCMD to the node, DCMD to a sensor's device. A payload larger than
// kCommandBytes is refused before it is read, and one of more than kCommandMetrics metrics once
// read. Every command is answered once: a keep that reaches a black box by the device's
// "Black Box/Last Kept" (BlackBox.h); a rebirth by the births; anything else refused by the
// node's "Node Control/Last Command".
#pragma once

#include "BlackBox.h"

#include <cstddef>
#include <functional>
#include <string>

namespace Varkon::QuilGateway {

inline constexpr std::size_t kCommandBytes = 4096;
inline constexpr std::size_t kCommandMetrics = 16;

/// What commands act on.
struct CommandTargets {
    std::function<void()> rebirth;
    /// Keeps the black box of `sensor` as `name`; the black box answers but for NoBlackBox
    /// (there is no such sensor, or it has none).
    std::function<KeepAnswer(const std::string& sensor, const std::string& name)> keep;
    /// Tells the node's answer to a command (its line and "Node Control/Last Command").
    std::function<void(const std::string& text)> answer;
};

/// A command as it came: its topic and its payload, which is left out when larger than
/// kCommandBytes (its size is kept).
struct ReceivedCommand {
    std::string topic;
    std::string payload;
    std::size_t bytes = 0;
};

ReceivedCommand ReceiveCommand(const char* topic, const void* payload, std::size_t bytes);

/// Acts on `command` of the node `node` in `group` and answers it; a topic of another node is
/// left alone.
void HandleCommand(const ReceivedCommand& command, const std::string& group,
                   const std::string& node, const CommandTargets& targets);

}  // namespace Varkon::QuilGateway
