// Placeholders of operations not built yet.
#include "api/QuilApi.h"

#include <stdexcept>

namespace Varkon::QUILApi {

void QuilApi::SaveImage(const std::string&, const Image&) {
    throw std::logic_error("SaveImage: not implemented yet");
}

}  // namespace Varkon::QUILApi
