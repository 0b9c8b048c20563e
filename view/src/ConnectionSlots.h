#pragma once

// A bound on the server's connections, so that browsers and scanners can never take the file
// descriptors that the program's sensors, recordings and reconnections need. On the server's
// one I/O thread. A connection beyond the bound closes another: the oldest that waits for a
// request, else the oldest that is still sending one; a browser that watches is never closed
// for a newcomer, which is turned away instead.

#include <cstdint>
#include <list>
#include <memory>

namespace Varkon::QUILApi::View {

class Connection {
public:
    virtual ~Connection() = default;
    /// Whether the connection waits for a request, with nothing of one received yet.
    virtual bool Idle() const = 0;
    /// Whether it shows the page's live data (a WebSocket).
    virtual bool Watching() const = 0;
    /// Closes the socket now; the connection's handlers end it.
    virtual void Close() = 0;
};

class ConnectionSlots {
public:
    explicit ConnectionSlots(std::size_t capacity) : capacity(capacity < 1 ? 1 : capacity) {}

    /// Makes room for one more connection; false when every slot holds a watching browser.
    bool MakeRoom();
    /// Counts `connection` until it ends.
    void Add(const std::shared_ptr<Connection>& connection);
    /// Connections open now.
    std::size_t Open();

    uint64_t Evicted() const { return evicted; }
    uint64_t Refused() const { return refused; }

private:
    void Prune();

    std::size_t capacity;
    std::list<std::weak_ptr<Connection>> connections;  // oldest first
    uint64_t evicted = 0;
    uint64_t refused = 0;
};

}  // namespace Varkon::QUILApi::View
