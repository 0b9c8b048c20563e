#include "quil/Quil.h"

namespace Varkon::QUILApi::UdpStreaming {

QuilStream::~QuilStream() = default;

}  // namespace Varkon::QUILApi::UdpStreaming
