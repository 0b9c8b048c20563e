// The library's version, passed in from the project's one version (project() in CMakeLists.txt).
#include <quil/Quil.h>

namespace Varkon::QUILApi {

std::string Quil::Version() {
    return QUIL_VERSION;
}

}  // namespace Varkon::QUILApi
