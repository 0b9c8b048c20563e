// A sensor's settings document, as `quil config save` writes it (every setting by the tool's
// name), applied as `quil config load` applies one: every value checked against the sensor's
// limits before anything is written, and what was written put back when the sensor refuses one.
#pragma once

#include <quil/Quil.h>

#include <nlohmann/json.hpp>

#include <string>

namespace Varkon::QuilGateway {

/// What is wrong with `document` before any sensor sees it: not an object, a name that is no
/// setting, or a setting that is not part of a settings document; empty when nothing is.
std::string SettingsDocumentProblem(const nlohmann::json& document);

/// Checks every setting of `document`, then writes those whose value differs from the sensor's,
/// in the order the settings depend on each other. The output settings (process-interfaces,
/// udp-stream-data) are left out: the gateway aims the output itself.
/// @return how many settings were written.
/// @throws std::runtime_error "<name> must be ...; got ..." when a check fails (nothing is
///         written), or "the sensor refused <name> = <value>: <reason>" followed by "; put back:
///         <names>" and "; putting back <name> failed too: <reason>"; what reading the sensor's
///         settings and limits throws.
std::size_t ApplySettingsDocument(Varkon::QUILApi::Quil& quil, const nlohmann::json& document);

}  // namespace Varkon::QuilGateway
