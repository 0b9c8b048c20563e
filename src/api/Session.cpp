// Session and roles: Connect, Disconnect, Login, Logout; how requests behave.
#include "api/QuilApi.h"

#include <stdexcept>

namespace Varkon::QUILApi {

namespace {
constexpr const char* kRoleResource = "myRole";
}

void QuilApi::Connect() {
    protocol->Connect();
}

void QuilApi::Disconnect() {
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

// Neither takes the request lock: they change the next request, not the one in progress.
void QuilApi::SetRequestTimeout(std::chrono::milliseconds timeout) {
    if (timeout.count() <= 0) {
        throw std::invalid_argument("Request timeout must be positive.");
    }
    protocol->SetResourceLimit(timeout);
}

void QuilApi::SetAutoReconnect(bool enabled) {
    protocol->SetAutoReconnect(enabled);
}

}  // namespace Varkon::QUILApi
