#include "Validation.h"

#include "Refusal.h"

#include <quil/Quil.h>

#include <boost/asio/ip/address_v4.hpp>

#include <cmath>
#include <functional>
#include <map>
#include <set>
#include <type_traits>
#include <vector>

namespace Varkon::QUILApi::Sim {

using nlohmann::json;

namespace {

enum class Kind { Bool, Unsigned, Number, Text, Address, TextList, UnsignedList, OfRecord };

// One member of a writable resource. Limits are numbers or JSON pointers into the device
// description; a list of choices is a pointer to an array of ids or of objects with an id.
struct FieldRule {
    const char* key;
    json min = nullptr;
    json max = nullptr;
    const char* oneOf = nullptr;
    Kind kind = Kind::OfRecord;  // the kind the record's member has, unless named
    bool readOnly = false;
};

template <class T>
constexpr Kind KindOf() {
    if constexpr (std::is_same_v<T, bool>) {
        return Kind::Bool;
    } else if constexpr (std::is_same_v<T, uint32_t>) {
        return Kind::Unsigned;
    } else if constexpr (std::is_same_v<T, double>) {
        return Kind::Number;
    } else if constexpr (std::is_same_v<T, std::string>) {
        return Kind::Text;
    } else if constexpr (std::is_same_v<T, std::vector<std::string>>) {
        return Kind::TextList;
    } else {
        static_assert(std::is_same_v<T, std::vector<uint32_t>>, "a member kind to check");
        return Kind::UnsignedList;
    }
}

// The rules of a resource that a record describes: every field of the record, with the kind
// its member has and the read-only mark it carries, and the limits and choices of `rules`.
template <class Record>
std::vector<FieldRule> RecordRules(std::initializer_list<FieldRule> rules = {}) {
    std::vector<FieldRule> fields;
    VisitFields<Record>([&](const auto& field) {
        using Type = typename std::decay_t<decltype(field)>::Type;
        FieldRule rule{field.key};
        for (const FieldRule& given : rules) {
            if (std::string(given.key) == field.key) {
                rule = given;
            }
        }
        if (rule.kind == Kind::OfRecord) {
            rule.kind = KindOf<Type>();
        }
        rule.readOnly = field.readOnly;
        fields.push_back(rule);
    });
    return fields;
}

using CrossCheck = std::function<bool(const json& body, const json& description)>;

struct ResourceRules {
    ResourceRules(std::vector<FieldRule> fields, CrossCheck check = {})
        : fields(std::move(fields)), check(std::move(check)) {}

    std::vector<FieldRule> fields;
    CrossCheck check;  // may be empty
};

const char* const kLimits = "/ProfileAlgorithmParamsLimits/{id}/limits/";

const std::map<std::string, ResourceRules>& Rules() {
    static const std::map<std::string, ResourceRules> rules = {
        {"Network",
         {RecordRules<Network>({{"staticIP", nullptr, nullptr, nullptr, Kind::Address},
                                {"subnetMask", nullptr, nullptr, nullptr, Kind::Address},
                                {"gateway", nullptr, nullptr, nullptr, Kind::Address}})}},
        {"Timeserver",
         {RecordRules<Timeserver>(),
          [](const json& body, const json& d) {
              return body["ntpServers"].size() <= d["TimeserverMeta"]["numServers"].get<size_t>();
          }}},
        {"ProcessInterfaces",
         {RecordRules<ProcessInterfaces>({{"realtimeProtocolID", nullptr, nullptr,
                                           "/ProcessInterfacesMeta/availableRTEthProtocols"},
                                          {"udpDestinationPort", 0, 65535},
                                          {"iolProcessDataLayout", nullptr, nullptr,
                                           "/ProcessInterfacesMeta/iolProcessDataLayouts"}}),
          // The virtual sensor serves this machine only: its stream goes to a loopback address.
          [](const json& body, const json&) {
              const std::string ip = body["udpDestinationIP"];
              if (!body["enableUDPStreaming"].get<bool>()) {
                  return ip.empty() || IsIPv4(ip);
              }
              return IsLoopbackIPv4(ip) && body["udpDestinationPort"].get<uint32_t>() > 0;
          }}},
        {"UDPStreamData",
         {RecordRules<UDPStreamData>({{"enabledDataIDs", nullptr, nullptr, "/UDPMeta/data"}}),
          [](const json& body, const json&) {
              const auto ids = body["enabledDataIDs"].get<std::vector<uint32_t>>();
              return std::set<uint32_t>(ids.begin(), ids.end()).size() == ids.size();
          }}},
        {"LaserPower",
         {{{"Factor", "/LaserPowerLimits/minFactor", "/LaserPowerLimits/maxFactor", nullptr,
            Kind::Number}}}},
        {"ExposureTime",
         {{{"ExposureTime", "/ExposureTimeLimits/minTime", "/ExposureTimeLimits/maxTime", nullptr,
            Kind::Unsigned}}}},
        {"Trigger",
         {RecordRules<Trigger>(
              {{"triggerMode", nullptr, nullptr, "/TriggerMeta/triggerModes"},
               {"modeOption", nullptr, nullptr, "/TriggerMeta/options"},
               {"triggerTime", "/TriggerLimits/minTime", "/TriggerLimits/maxTime"},
               {"encoderSteps", "/TriggerLimits/minSteps", "/TriggerLimits/maxSteps"}}),
          // The option must be one that the chosen mode lists.
          [](const json& body, const json& d) {
              for (const auto& mode : d["TriggerMeta"]["triggerModes"]) {
                  if (mode["id"] == body["triggerMode"]) {
                      for (const auto& option : mode["options"]) {
                          if (option == body["modeOption"]) {
                              return true;
                          }
                      }
                  }
              }
              return false;
          }}},
        {"Resolution",
         {RecordRules<Resolution>(
             {{"xResolution", nullptr, nullptr, "/ResolutionLimits/xResolution"},
              {"zResolution", nullptr, nullptr, "/ResolutionLimits/zResolution"}})}},
        {"Resampling",
         {RecordRules<Resampling>(
             {{"gridValue", "/ResamplingMeta/minGridValue", "/ResamplingMeta/maxGridValue"}})}},
        {"ProfileFilter",
         {RecordRules<ProfileFilter>(
             {{"movingAverageLength", "/ProfileFilterMeta/movingAverageMinimumLength",
               "/ProfileFilterMeta/movingAverageMaximumLength"}})}},
        {"ProfileAlgorithm",
         {{{"algorithmID", nullptr, nullptr, "/ProfileAlgorithmMeta/algorithms", Kind::Unsigned}}}},
        {"ProfileAlgorithmParams",
         {RecordRules<ProfileAlgorithmParams>(
             {{"minPeakHeight", std::string(kLimits) + "minPeakHeight/0",
               std::string(kLimits) + "minPeakHeight/1"},
              {"minPeakWidth", std::string(kLimits) + "minPeakWidth/0",
               std::string(kLimits) + "minPeakWidth/1"},
              {"thresholdValue", std::string(kLimits) + "thresholdValue/0",
               std::string(kLimits) + "thresholdValue/1"},
              {"thresholdTypeID", nullptr, nullptr,
               "/ProfileAlgorithmParamsLimits/{id}/limits/thresholdType"}})}},
        {"Axes",
         {{{"zAxisDefinitionID", nullptr, nullptr, "/AxesMeta/zAxisDefinitions", Kind::Unsigned}}}},
        // Only the types: a write is checked as the "FoVDistance" it amounts to.
        {"FoV", {RecordRules<FoV>()}},
        {"FoVDistance",
         {RecordRules<FoVDistance>(),
          [](const json& body, const json& d) {
              const json& limits = d["FoVLimits"];
              const double left = body["limitLeft"], right = body["limitRight"];
              const double nearest = body["near"], farthest = body["far"];
              constexpr double slack = 1e-9;
              return left >= -limits["maxXMinus"].get<double>() - slack &&
                     right <= limits["maxXPlus"].get<double>() + slack &&
                     right - left >= limits["minWidth"].get<double>() - slack &&
                     nearest >= limits["minDistance"].get<double>() - slack &&
                     farthest <= limits["maxDistance"].get<double>() + slack &&
                     farthest - nearest >= limits["minHeight"].get<double>() - slack &&
                     farthest - nearest <= limits["maxHeight"].get<double>() + slack;
          }}},
    };
    return rules;
}

std::string Scoped(std::string pointer, const std::string& scope) {
    const auto at = pointer.find("{id}");
    if (at != std::string::npos) {
        pointer.replace(at, 4, scope);
    }
    return pointer;
}

// A limit: a number, or the number that a pointer into the description names.
const json& Limit(const json& limit, const json& description, const std::string& scope) {
    if (limit.is_string()) {
        return description.at(json::json_pointer(Scoped(limit, scope)));
    }
    return limit;
}

bool IsUnsigned(const json& value) {
    return value.is_number_unsigned() || (value.is_number_integer() && value.get<int64_t>() >= 0 &&
                                          value.get<int64_t>() <= 0xFFFFFFFFll);
}

bool IsChoice(const json& value, const char* list, const json& description,
              const std::string& scope) {
    for (const auto& choice : description.at(json::json_pointer(Scoped(list, scope)))) {
        const json& id =
            choice.is_object() ? (choice.contains("id") ? choice["id"] : choice["typeID"]) : choice;
        if (id == value) {
            return true;
        }
    }
    return false;
}

bool ValueFits(const FieldRule& rule, const json& value, const json& description,
               const std::string& scope) {
    switch (rule.kind) {
        case Kind::Bool:
            return value.is_boolean();
        case Kind::Text:
            return value.is_string();
        case Kind::Address:
            return value.is_string() && IsIPv4(value.get<std::string>());
        case Kind::TextList:
            if (!value.is_array()) {
                return false;
            }
            for (const auto& element : value) {
                if (!element.is_string() || element.get<std::string>().empty()) {
                    return false;
                }
            }
            return true;
        case Kind::UnsignedList:
            if (!value.is_array()) {
                return false;
            }
            for (const auto& element : value) {
                if (!IsUnsigned(element) ||
                    (rule.oneOf && !IsChoice(element, rule.oneOf, description, scope))) {
                    return false;
                }
            }
            return true;
        case Kind::Unsigned:
        case Kind::Number:
        case Kind::OfRecord:
            break;
    }
    if (rule.kind == Kind::Unsigned ? !IsUnsigned(value) : !value.is_number()) {
        return false;
    }
    const double number = value.get<double>();
    constexpr double slack = 1e-9;
    if (!rule.min.is_null() && number < Limit(rule.min, description, scope).get<double>() - slack) {
        return false;
    }
    if (!rule.max.is_null() && number > Limit(rule.max, description, scope).get<double>() + slack) {
        return false;
    }
    return !rule.oneOf || IsChoice(value, rule.oneOf, description, scope);
}

}  // namespace

json CheckedUpdate(const std::string& resource, const json& current, const json& update,
                   const json& description, bool complete, const std::string& scope) {
    const auto found = Rules().find(resource);
    if (found == Rules().end() || !update.is_object()) {
        throw Refusal::InvalidArgument();
    }
    const ResourceRules& rules = found->second;
    json result = current.is_object() ? current : json::object();
    for (const auto& [key, value] : update.items()) {
        const auto rule = std::find_if(rules.fields.begin(), rules.fields.end(),
                                       [&key = key](const FieldRule& r) { return key == r.key; });
        if (rule == rules.fields.end()) {
            throw Refusal::InvalidArgument();
        }
        if (rule->readOnly) {
            continue;
        }
        if (!ValueFits(*rule, value, description, scope)) {
            throw Refusal::InvalidArgument();
        }
        result[key] = value;
    }
    for (const auto& rule : rules.fields) {
        if (!result.contains(rule.key) ||
            (complete && !rule.readOnly && !update.contains(rule.key))) {
            throw Refusal::InvalidArgument();
        }
    }
    if (rules.check && !rules.check(result, description)) {
        throw Refusal::InvalidArgument();
    }
    return result;
}

bool IsIPv4(const std::string& text) {
    boost::system::error_code error;
    boost::asio::ip::make_address_v4(text, error);
    // Only the plain dotted form with four parts is accepted.
    return !error && std::count(text.begin(), text.end(), '.') == 3;
}

bool IsLoopbackIPv4(const std::string& text) {
    boost::system::error_code error;
    const auto address = boost::asio::ip::make_address_v4(text, error);
    return !error && IsIPv4(text) && address.is_loopback();
}

}  // namespace Varkon::QUILApi::Sim
