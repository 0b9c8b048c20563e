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
    using Key = const void*;  // identifies a connection

    /// Passwords by role name; roles missing here keep their default password.
    explicit Sessions(const std::map<std::string, std::string>& passwords);

    static const std::map<std::string, std::string>& DefaultPasswords();

    void Open(Key connection, std::string peer);
    void Close(Key connection);
    /// A new session id for the connection; its role goes back to "observer".
    uint32_t Connect(Key connection);
    /// Gives the connection's role back.
    void Disconnect(Key connection);

    /// Takes `role`. An empty `password` counts as none.
    /// @throws Refusal "InvalidArgument" (unknown role), "PasswordWrong", "RoleTaken" with
    ///         "takenBy" naming the holder.
    void Login(Key connection, const std::string& role, const std::string& password);

    Role RoleOf(Key connection) const;
    /// "session <id> (<peer>)".
    std::string Describe(Key connection) const;

private:
    struct Client {
        std::string peer;
        uint32_t sessionId = 0;
        Role role = Role::Observer;
    };

    std::map<std::string, std::string> passwords;
    std::map<Key, Client> clients;
    uint32_t nextSessionId = 1;
};

}  // namespace Varkon::QUILApi::Sim
