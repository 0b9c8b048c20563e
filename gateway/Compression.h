// zstd compression of profile batches.
#pragma once

#include <cstddef>
#include <string>

namespace Varkon::QuilGateway {

/// One zstd frame of `bytes`, its content size recorded in the frame.
std::string ZstdCompress(const std::string& bytes);
/// The most bytes ZstdDecompress gives unless told otherwise (what a frame declares is not
/// allocated beyond it).
constexpr std::size_t kMaxDecompressedBytes = 64 * 1024 * 1024;

/// The content of the zstd frame `frame`, at most `maxBytes`.
/// @throws std::runtime_error "not a zstd frame: <reason>".
std::string ZstdDecompress(const std::string& frame, std::size_t maxBytes = kMaxDecompressedBytes);

}  // namespace Varkon::QuilGateway
