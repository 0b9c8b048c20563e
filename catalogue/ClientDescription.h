#pragma once

#include "Check.h"

#include <quil/Quil.h>

#include <nlohmann/json.hpp>

#include <string>

namespace Varkon::QUILApi::Catalogue {

/// The description of a sensor that a client reaches: each limit or meta resource is read
/// through the public API when a rule first needs it, so a check asks the sensor only for what
/// it uses.
class ClientDescription : public Description {
public:
    explicit ClientDescription(Quil& quil) : quil(quil) {}
    /// @throws what the read of the resource throws; std::out_of_range for a resource that
    ///         no client operation reads.
    const nlohmann::json& At(const std::string& pointer) override;

private:
    Quil& quil;
    nlohmann::json document = nlohmann::json::object();
};

}  // namespace Varkon::QUILApi::Catalogue
