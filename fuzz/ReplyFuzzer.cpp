// Replies through the path a received text takes: the channel's inbox (parsing, nesting limit,
// matching), the protocol and the read frame of one of the client's operations.
//
// Input: the operation's name (see Operations.h), then the reply texts, each after a NUL byte;
// each request the operation makes is answered with the next text. Invariant: whatever the texts,
// the operation returns or throws a standard exception, and never crashes, leaks or hangs.
#include "Operations.h"

#include "api/QuilApi.h"
#include "websockets/Inbox.h"
#include "websockets/Protocol.h"

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace Varkon::QUILApi::Fuzzing {
namespace {

// A request channel whose received texts are given in advance.
class ReplayChannel : public WebSockets::IVarkonWebsocketApi {
public:
    explicit ReplayChannel(std::vector<std::string> texts) : texts(std::move(texts)) {}

    void Connect() override {}
    void Close() override {}
    std::unique_ptr<nlohmann::json> SendAndWait(const nlohmann::json& request, unsigned) override {
        inbox.Expect(WebSockets::MessageId(request));
        if (next < texts.size()) {
            try {
                inbox.Offer(texts[next++]);
            } catch (const std::exception&) {
                // Dropped, as the connection's read loop drops a text its owner refuses.
            }
        }
        return inbox.Take();
    }

private:
    std::vector<std::string> texts;
    std::size_t next = 0;
    WebSockets::Inbox inbox;
};

std::vector<std::string> SplitAtNul(const uint8_t* data, std::size_t size) {
    std::vector<std::string> texts(1);
    for (std::size_t i = 0; i < size; ++i) {
        if (data[i] == 0) {
            texts.emplace_back();
        } else {
            texts.back().push_back(static_cast<char>(data[i]));
        }
    }
    return texts;
}

}  // namespace
}  // namespace Varkon::QUILApi::Fuzzing

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using namespace Varkon::QUILApi;
    auto texts = Fuzzing::SplitAtNul(data, size);
    const Fuzzing::Operation* operation = Fuzzing::FindOperation(texts.front());
    if (!operation) {
        return 0;
    }
    texts.erase(texts.begin());
    auto channel = std::make_shared<Fuzzing::ReplayChannel>(std::move(texts));
    QuilApi client(std::make_unique<WebSockets::Protocol>(channel), nullptr);
    try {
        operation->run(client);
    } catch (const std::exception&) {
        // Every failure the client reports is a standard exception.
    }
    return 0;
}
