// zstd compression of profile batches.
#pragma once

#include <string>

namespace Varkon::QuilGateway {

/// One zstd frame of `bytes`, its content size recorded in the frame.
std::string ZstdCompress(const std::string& bytes);
/// The content of the zstd frame `frame`.
/// @throws std::runtime_error "not a zstd frame: <reason>".
std::string ZstdDecompress(const std::string& frame);

}  // namespace Varkon::QuilGateway
