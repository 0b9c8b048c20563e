#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/asio/spawn.hpp>
#include <boost/asio/strand.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/websocket/stream.hpp>

#include <atomic>
#include <chrono>
#include <deque>
#include <functional>
#include <future>
#include <memory>
#include <string>
#include <string_view>

namespace Varkon::QUILApi::WebSockets {

/// The client end of one WebSocket connection to the sensor's HTTP service.
///
/// Threads: Connect, Close, IsOpen, Send and the setters are called from the owner's threads.
/// Everything that touches the stream runs where the I/O context runs, one thread at a time (the
/// owner decides which: see VarkonWebsocketApi, where a request runs it while it waits for its
/// reply, and the channel's own thread otherwise): the connection coroutine, the read loop (and
/// thus the message callback), the writes and the close. Connect, Close and Send post their work
/// to `strand`; SendFromIo starts the write on the thread that runs the I/O. Writes are queued,
/// so only one is ever in flight, and a close never races a read.
class WebSocket : public std::enable_shared_from_this<WebSocket> {
public:
    /// Told each received text; the text lives only for the call.
    using MessageHandler = std::function<void(std::string_view)>;
    using CloseHandler = std::function<void()>;
    using LostHandler = std::function<void()>;

    /// How long Close waits for the sensor to answer the close before it drops the connection.
    static constexpr std::chrono::milliseconds kCloseLimit{1000};

    WebSocket(boost::asio::io_context& ioContext, const std::string& host,
              const std::string& subprotocol);
    virtual ~WebSocket();

    WebSocket(const WebSocket&) = delete;
    WebSocket& operator=(const WebSocket&) = delete;

    /// Resolves, connects and performs the handshake; starts the read loop. The connection and
    /// the handshake each take at most `limit` (the defaults: 10 s and 30 s).
    /// @throws std::runtime_error "WebSocket::Connect Error: " + reason.
    virtual void Connect();
    void Connect(std::chrono::milliseconds limit);
    /// Closes the connection normally (code 1000) and calls the close callback. A sensor that
    /// does not answer the close within kCloseLimit has the connection dropped.
    /// @throws std::runtime_error "WebSocket::Close Error: " + reason.
    virtual void Close();
    virtual bool IsOpen() const;
    /// Whether the connection ended other than by Close: the sensor closed or dropped it, or it
    /// broke. Any thread.
    bool IsLost() const { return lost; }
    /// Queues `text` as one text message; returns without waiting for the write.
    virtual void Send(std::string text);
    /// As Send, but starts the write on the calling thread instead of posting it to the I/O. Only
    /// for the thread that runs the I/O while no other thread runs it.
    void SendFromIo(std::string text);
    virtual void SetOnMessage(MessageHandler handler);
    virtual void SetOnClose(CloseHandler handler);
    /// Called once where the I/O runs when the connection is lost (see IsLost). Set before
    /// Connect.
    void SetOnLost(LostHandler handler);

    /// Closes the connection without calling the close callback and drops the message callback.
    /// Waits at most `limit` for the close handshake. Used when the owner goes away.
    void Shutdown(std::chrono::milliseconds limit);

private:
    using Stream = boost::beast::websocket::stream<boost::beast::tcp_stream>;

    void RunConnection(boost::asio::yield_context yield, std::chrono::milliseconds limit,
                       boost::system::error_code& result);
    void StartRead();
    void OnRead(boost::beast::error_code error, std::size_t bytes);
    void StartWrite();
    void OnWrite(boost::beast::error_code error, std::size_t bytes);
    /// Starts a normal close on the strand; the future yields its outcome.
    std::future<boost::system::error_code> StartClose();

    /// Runs `work` on the strand and waits for its result. Only for the caller's thread.
    template <class Work>
    auto RunOnStrand(Work work) const -> decltype(work());

    boost::asio::strand<boost::asio::io_context::executor_type> strand;
    boost::asio::ip::tcp::resolver resolver;
    Stream wsStream;
    std::string address;  // as given: "host" or "host:port"
    std::string host;
    std::string subprotocol;
    std::string port;
    std::deque<std::string> outgoing;  // front() is being written; the rest wait their turn
    MessageHandler onMessage;
    CloseHandler onClose;
    LostHandler onLost;
    std::atomic<bool> closing{false};  // our own Close or Shutdown has begun
    std::atomic<bool> lost{false};
    boost::beast::flat_buffer readBuffer;
};

}  // namespace Varkon::QUILApi::WebSockets
