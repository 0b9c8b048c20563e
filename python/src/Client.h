// The Python side of a client and of its stream.
#pragma once

#include "Common.h"

#include <memory>
#include <stdexcept>
#include <string>
#include <vector>

namespace QuilPython {

/// A request that close() cut off while it waited for the sensor: quil.ConnectionClosedError.
struct ClosedDuringRequest : std::runtime_error {
    using std::runtime_error::runtime_error;
};

/// A client of one sensor as Python holds it. The library's client is shared with the stream
/// sessions opened from it, so that a session can put the sensor's output back even when the
/// Python client object is gone first. Close (the end of a `with` block) disconnects and lets
/// go of the library's client; any later use raises StateError.
class Client {
public:
    Client(const std::string& host, unsigned short port)
        : quil(Quil::Create(host, port)), host(host) {}

    Quil& Get() const { return *Shared(); }

    std::shared_ptr<Quil> Shared() const {
        if (!quil) {
            throw std::logic_error("The client of " + host +
                                   " is closed: its 'with' block has ended. Connect again with "
                                   "quil.connect().");
        }
        return quil;
    }

    void Close() {
        if (quil) {
            std::shared_ptr<Quil> closing = std::move(quil);
            WithoutGil([&] { closing->Disconnect(); });
        }
    }

    bool Closed() const { return !quil; }

    /// Calls `call` on the library's client without the GIL (called with it). The call holds its
    /// own reference, so that close() on another thread cannot destroy the client under it.
    /// @throws ClosedDuringRequest when it failed because close() came while it waited; what it
    /// throws otherwise.
    template <class Call>
    auto Request(Call&& call) const {
        const std::shared_ptr<Quil> held = Shared();
        try {
            return WithoutGil([&] { return call(*held); });
        } catch (const std::exception&) {  // the GIL is held again here, as Close() holds it
            if (Closed()) {
                throw ClosedDuringRequest("The request to " + host +
                                          " was cut off: the client was closed while it waited "
                                          "for the answer.");
            }
            throw;
        }
    }

private:
    std::shared_ptr<Quil> quil;
    std::string host;
};

/// The library's stream as Python holds it: the stream, and what keeps its source alive.
class Stream {
public:
    explicit Stream(std::shared_ptr<QuilStream> stream) : stream(std::move(stream)) {}
    virtual ~Stream() = default;

    QuilStream& Get() const { return *stream; }
    const std::shared_ptr<QuilStream>& Shared() const { return stream; }

private:
    std::shared_ptr<QuilStream> stream;
};

}  // namespace QuilPython
