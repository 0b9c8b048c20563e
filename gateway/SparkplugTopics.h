// Topic names of the Sparkplug B namespace: spBv1.0/<group>/<message type>/<node>[/<device>].
#pragma once

#include <string>

namespace Varkon::QuilGateway {

enum class SparkplugMessage { NBIRTH, NDEATH, NDATA, NCMD, DBIRTH, DDATA, DDEATH, DCMD };

std::string SparkplugTopic(const std::string& group, SparkplugMessage type, const std::string& node,
                           const std::string& device = {});

/// The topic of a sensor's profile batches: quil/v1/<group>/<sensor>/profiles.
std::string ProfilesTopic(const std::string& group, const std::string& sensor);

}  // namespace Varkon::QuilGateway
