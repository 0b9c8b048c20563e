#pragma once

// The page and its scripts, built into the program from view/web/ (see EmbedWebAssets.cmake):
// the view works offline and fetches nothing.

#include <string_view>

namespace Varkon::QUILApi::View {

struct WebAsset {
    std::string_view path;  // as requested, "/index.html"
    std::string_view contentType;
    std::string_view body;
};

/// The asset served at `path` ("/" is "/index.html"); null when there is none.
const WebAsset* FindWebAsset(std::string_view path);

}  // namespace Varkon::QUILApi::View
