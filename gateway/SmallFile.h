// Every file the gateway reads (its configuration, passwords, settings documents) is read through
// here: only a regular file, never more than a cap, and never waiting, so that a FIFO, a device
// or a directory named by mistake (or on purpose) cannot wedge or exhaust the gateway.
#pragma once

#include <cstddef>
#include <stdexcept>
#include <string>

namespace Varkon::QuilGateway {

/// A file that could not be read: what() is "cannot read <path>: <reason>".
class UnreadableFile : public std::runtime_error {
public:
    UnreadableFile(const std::string& path, const std::string& reason)
        : std::runtime_error("cannot read " + path + ": " + reason), reason(reason) {}
    /// Why, such as "No such file or directory" or "not a regular file".
    const std::string& Reason() const { return reason; }

private:
    std::string reason;
};

/// The whole content of the regular file at `path`, at most `maxBytes` of it.
/// @throws UnreadableFile when it cannot be opened, is not a regular file or is larger.
std::string ReadSmallFile(const std::string& path, std::size_t maxBytes);

/// Throws as ReadSmallFile when `path` cannot be opened or is not a regular file; reads nothing.
void CheckSmallFile(const std::string& path);

}  // namespace Varkon::QuilGateway
