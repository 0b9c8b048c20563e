// Session and roles: Connect, Disconnect, Login, Logout.
#include "api/QuilApi.h"

namespace Varkon::QUILApi {

namespace {
constexpr const char* kRoleResource = "myRole";
}

void QuilApi::Connect() {
    std::lock_guard<std::recursive_mutex> lock(requestMutex);
    protocol->Connect();
}

void QuilApi::Disconnect() {
    std::lock_guard<std::recursive_mutex> lock(requestMutex);
    protocol->Disconnect();
}

void QuilApi::Login(const std::string& role, const std::string& password) {
    nlohmann::json body = ResourceFrame::Object({{"role", role}});
    if (!password.empty()) {
        body["password"] = password;
    }
    Write(kRoleResource, body);
}

void QuilApi::Logout() {
    Write(kRoleResource, ResourceFrame::Object({{"role", "observer"}}));
}

}  // namespace Varkon::QUILApi
