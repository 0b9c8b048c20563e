#pragma once

#include <cstdint>
#include <map>
#include <string>

namespace Varkon::QUILApi::Sim {

/// The roles of the virtual sensor, each allowed everything that the ones before it may do.
enum class Role { Observer = 0, Operator = 1, Maintenance = 2 };

const char* RoleName(Role role);

/// The sessions of the connected clients and the roles they hold.
///
/// Every connection is a session that starts as "observer"; "CONNECT" gives it a new session
/// id. "operator" and "maintenance" need their password and are held by one connection at a
/// time. Not thread-safe: the caller serialises.
class Sessions {
public:
    using ConnectionId = const void*;

    /// Passwords by role name; roles missing here keep their default password.
    explicit Sessions(const std::map<std::string, std::string>& passwords);

    static const std::map<std::string, std::string>& DefaultPasswords();

    void Open(ConnectionId connection, std::string peer);
    void Close(ConnectionId connection);
    /// A new session id for the connection; its role goes back to "observer".
    uint32_t Connect(ConnectionId connection);
    /// Gives the connection's role back.
    void Disconnect(ConnectionId connection);

    /// Takes `role`. An empty `password` counts as none.
    /// @throws Refusal "InvalidArgument" (unknown role), "PasswordWrong", "RoleTaken" with
    ///         "takenBy" naming the holder.
    void Login(ConnectionId connection, const std::string& role, const std::string& password);

    Role RoleOf(ConnectionId connection) const;
    /// "session <id> (<peer>)".
    std::string Describe(ConnectionId connection) const;

private:
    struct Client {
        std::string peer;
        uint32_t sessionId = 0;
        Role role = Role::Observer;
    };

    std::map<std::string, std::string> passwords;
    std::map<ConnectionId, Client> clients;
    uint32_t nextSessionId = 1;
};

}  // namespace Varkon::QUILApi::Sim
