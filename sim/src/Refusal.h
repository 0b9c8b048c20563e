#pragma once

#include <nlohmann/json.hpp>

#include <string>
#include <utility>

namespace Varkon::QUILApi::Sim {

/// A request that the virtual sensor refuses: becomes an "ERR" reply with `code` and, unless
/// null, `details`.
struct Refusal {
    std::string code;
    nlohmann::json details;

    static Refusal InvalidArgument() { return {"InvalidArgument", nullptr}; }
};

}  // namespace Varkon::QUILApi::Sim
