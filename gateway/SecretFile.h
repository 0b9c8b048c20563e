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

/// Where the credential `name` is when systemd hands the service its credentials
/// (LoadCredential=, in $CREDENTIALS_DIRECTORY): that folder's file `name`, if `name` is a
/// relative path and the file is there; else empty.
std::string CredentialPath(const std::string& name);

}  // namespace Varkon::QuilGateway
