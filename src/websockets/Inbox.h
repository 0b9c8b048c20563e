#pragma once

#include <nlohmann/json.hpp>

#include <memory>
#include <mutex>
#include <string_view>

namespace Varkon::QUILApi::WebSockets {

/// What the request channel keeps of the messages it receives: at most the one reply that the
/// waiting request is waiting for. Everything else, UPDATE messages, texts that are no message,
/// late replies to earlier requests and whatever arrives while no request waits, is dropped as
/// it arrives, so a peer that sends without being asked costs time but no memory.
///
/// Threads: Offer runs on whichever thread runs the connection's I/O at the time (the waiting
/// request's own thread, or the channel's I/O thread while no request waits); Expect, Settled
/// and Take run on the thread of the one request in progress; Abandon and Reopen on any thread.
/// All of them meet under the inbox's mutex.
class Inbox {
public:
    /// Starts waiting for the message whose "msgID" equals `id`, before the request is sent.
    void Expect(const nlohmann::json& id);
    /// Files a received text. It is kept when a request waits, no reply is kept yet, and the text
    /// is a JSON object (or null, taken as an object without a type) that is not an UPDATE and
    /// whose "msgID" equals the expected one; of two matching messages the earlier one wins.
    /// @throws what ParseMessage throws, for a text that is no message.
    void Offer(std::string_view text);
    /// Whether waiting can end: the expected reply is kept, or the connection is lost.
    bool Settled();
    /// Stops waiting. Returns the reply, or a null value when none came.
    std::unique_ptr<nlohmann::json> Take();
    /// The connection is lost: the waiting request and every later one are settled at once,
    /// until Reopen.
    void Abandon();
    /// A new connection is open: requests wait for their replies again.
    void Reopen();

private:
    std::mutex mutex;
    bool expecting = false;
    nlohmann::json expectedId;
    std::unique_ptr<nlohmann::json> reply;
    bool abandoned = false;
};

}  // namespace Varkon::QUILApi::WebSockets
