#include "Roles.h"

#include "Refusal.h"

namespace Varkon::QUILApi::Sim {

namespace {

constexpr Role kRoles[] = {Role::Observer, Role::Operator, Role::Maintenance};

}  // namespace

const char* RoleName(Role role) {
    switch (role) {
        case Role::Observer:
            return "observer";
        case Role::Operator:
            return "operator";
        case Role::Maintenance:
            return "maintenance";
    }
    return "";
}

Sessions::Sessions(const std::map<std::string, std::string>& given)
    : passwords(DefaultPasswords()) {
    for (const auto& [role, password] : given) {
        passwords[role] = password;
    }
}

const std::map<std::string, std::string>& Sessions::DefaultPasswords() {
    static const std::map<std::string, std::string> defaults = {{"operator", "operator"},
                                                                {"maintenance", "maintenance"}};
    return defaults;
}

void Sessions::Open(ConnectionId connection, std::string peer) {
    clients[connection].peer = std::move(peer);
}

void Sessions::Close(ConnectionId connection) {
    clients.erase(connection);
}

uint32_t Sessions::Connect(ConnectionId connection) {
    Client& client = clients[connection];
    client.sessionId = nextSessionId++;
    client.role = Role::Observer;
    return client.sessionId;
}

void Sessions::Disconnect(ConnectionId connection) {
    clients[connection].role = Role::Observer;
}

void Sessions::Login(ConnectionId connection, const std::string& name,
                     const std::string& password) {
    const Role* role = nullptr;
    for (const Role& candidate : kRoles) {
        if (name == RoleName(candidate)) {
            role = &candidate;
        }
    }
    if (role == nullptr) {
        throw Refusal::InvalidArgument();
    }
    if (*role != Role::Observer && password != passwords.at(name)) {
        throw Refusal{"PasswordWrong", nullptr};
    }
    if (*role != Role::Observer) {
        for (const auto& [key, other] : clients) {
            if (key != connection && other.role == *role) {
                throw Refusal{"RoleTaken", {{"takenBy", Describe(key)}}};
            }
        }
    }
    clients[connection].role = *role;
}

Role Sessions::RoleOf(ConnectionId connection) const {
    const auto found = clients.find(connection);
    return found == clients.end() ? Role::Observer : found->second.role;
}

std::string Sessions::Describe(ConnectionId connection) const {
    const auto found = clients.find(connection);
    if (found == clients.end()) {
        return "unknown session";
    }
    std::string text = "session " + std::to_string(found->second.sessionId);
    if (!found->second.peer.empty()) {
        text += " (" + found->second.peer + ")";
    }
    return text;
}

}  // namespace Varkon::QUILApi::Sim
