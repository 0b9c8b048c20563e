// Topic names of the Sparkplug B namespace: spBv1.0/<group>/<message type>/<node>[/<device>].
#pragma once

#include <string>

namespace Varkon::QuilGateway {

enum class SparkplugMessage { NBIRTH, NDEATH, NDATA, NCMD, DBIRTH, DDATA, DDEATH, DCMD };

std::string SparkplugTopic(const std::string& group, SparkplugMessage type, const std::string& node,
                           const std::string& device = {});
/// The device level of a Sparkplug topic; empty for a topic of the node itself.
std::string SparkplugDevice(const std::string& topic);

/// Every message goes out with QoS 1: only the broker's acknowledgement tells that it arrived.
inline constexpr int kPublishQos = 1;

/// The topic of a sensor's profile batches: quil/v1/<group>/<sensor>/profiles.
std::string ProfilesTopic(const std::string& group, const std::string& sensor);

}  // namespace Varkon::QuilGateway
