#include "api/ResourceFrame.h"

#include <stdexcept>

namespace Varkon::QUILApi::ResourceFrame {

void CheckField(const nlohmann::json& data, const std::string& key) {
    if (!data.is_object() || !data.contains(key)) {
        throw std::out_of_range("Field " + key + " missing in response.");
    }
}

void CheckNotEmpty(const nlohmann::json& data) {
    if (data.empty()) {
        throw std::invalid_argument("No response received (is null).");
    }
}

nlohmann::json Object(Members members) {
    nlohmann::json object = nlohmann::json::object();
    for (const auto& [key, value] : members) {
        object[key] = value;
    }
    return object;
}

}  // namespace Varkon::QUILApi::ResourceFrame
