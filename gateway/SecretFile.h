// Credentials come from files only, so that they never show in a process list or a shell history.
#pragma once

#include <cstddef>
#include <string>

namespace Varkon::QuilGateway {

/// The most bytes a password file may hold.
constexpr std::size_t kMaxSecretFileBytes = 4096;

/// The contents of the file at `path` without its trailing line breaks.
/// @throws UnreadableFile (SmallFile.h) "cannot read <path>: <reason>".
std::string ReadSecretFile(const std::string& path);

}  // namespace Varkon::QuilGateway
