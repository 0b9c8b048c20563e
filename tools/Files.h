#pragma once

// Files the tool reads and writes; a failure names the file.

#include <functional>
#include <ostream>
#include <string>
#include <vector>

namespace QuilTool {

/// Creates or truncates `path` and lets `write` fill it (binary, no newline translation).
/// @throws std::runtime_error "cannot write <path>: <why>" when opening, writing or closing
/// fails.
void WriteFile(const std::string& path, const std::function<void(std::ostream&)>& write);

/// The file name's suffix with its dot (".png"); empty when it has none.
std::string Suffix(const std::string& path);

/// @throws UsageError "cannot write <path>: unsupported image type "<suffix>" (use <uses>)"
/// unless the suffix of `path` is one of `suffixes`.
void CheckImageType(const std::string& path, const std::vector<std::string>& suffixes,
                    const std::string& uses);

/// The whole content of `path`.
/// @throws std::runtime_error "cannot read <path>: <why>".
std::string ReadFile(const std::string& path);

/// ": <why>" `path` cannot be written, as far as looking at it tells (no such directory, a
/// directory, no permission), else that the write itself failed.
std::string WhyNotWritable(const std::string& path);

}  // namespace QuilTool
