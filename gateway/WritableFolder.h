// Whether the gateway can write in a folder that it would make when it first needs it (a black
// box's), found out without making it.
#pragma once

#include <string>

namespace Varkon::QuilGateway {

/// Empty when `folder` is a folder this process may write in, or one it could make (its nearest
/// existing parent is such a folder); else why not: "<path> is not a folder" or
/// "cannot write in <path>: <reason>", naming the existing path that is in the way.
std::string WhyNotWritableFolder(const std::string& folder);

}  // namespace Varkon::QuilGateway
