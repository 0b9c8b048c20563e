// A sensor's settings document, as `quil config save` writes it, applied as `quil config load`
// applies one (catalogue/Document.h), but for the output settings, which the gateway aims itself.
#pragma once

#include <quil/Quil.h>

#include <nlohmann/json.hpp>

#include <cstddef>

namespace Varkon::QuilGateway {

/// Applies `document` but for the output settings (process-interfaces, udp-stream-data).
/// @return how many settings were written.
/// @throws what Catalogue::ApplyDocument throws.
std::size_t ApplySettingsDocument(Varkon::QUILApi::Quil& quil, const nlohmann::json& document);

}  // namespace Varkon::QuilGateway
