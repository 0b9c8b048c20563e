#include "SparkplugTopics.h"

namespace Varkon::QuilGateway {
namespace {

const char* Name(SparkplugMessage type) {
    switch (type) {
        case SparkplugMessage::NBIRTH:
            return "NBIRTH";
        case SparkplugMessage::NDEATH:
            return "NDEATH";
        case SparkplugMessage::NDATA:
            return "NDATA";
        case SparkplugMessage::NCMD:
            return "NCMD";
        case SparkplugMessage::DBIRTH:
            return "DBIRTH";
        case SparkplugMessage::DDATA:
            return "DDATA";
        case SparkplugMessage::DDEATH:
            return "DDEATH";
        case SparkplugMessage::DCMD:
            return "DCMD";
    }
    return "";
}

}  // namespace

std::string SparkplugTopic(const std::string& group, SparkplugMessage type, const std::string& node,
                           const std::string& device) {
    std::string topic = "spBv1.0/" + group + "/" + Name(type) + "/" + node;
    if (!device.empty()) {
        topic += "/" + device;
    }
    return topic;
}

std::string SparkplugDevice(const std::string& topic) {
    // spBv1.0/<group>/<type>/<node>/<device>: the device follows the fourth '/'.
    std::size_t from = 0;
    for (int level = 0; level < 4; ++level) {
        const std::size_t at = topic.find('/', from);
        if (at == std::string::npos) {
            return {};
        }
        from = at + 1;
    }
    return topic.substr(from);
}

std::string ProfilesTopic(const std::string& group, const std::string& sensor) {
    return "quil/v1/" + group + "/" + sensor + "/profiles";
}

}  // namespace Varkon::QuilGateway
