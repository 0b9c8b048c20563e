#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <mutex>
#include <random>

namespace Varkon::QUILApi::Sim {

/// How often the virtual sensor misbehaves. Rates are probabilities from 0 to 1, drawn per
/// reply or per datagram.
struct FaultRates {
    double replyDelay = 0.0;                        ///< a reply is sent late, after replyDelayTime
    std::chrono::milliseconds replyDelayTime{200};  ///< how late a delayed reply comes
    double replyMissing = 0.0;                      ///< a request is never answered
    double connectionDrop = 0.0;     ///< the connection is dropped instead of answering
    double datagramLoss = 0.0;       ///< a datagram is not sent
    double datagramDuplicate = 0.0;  ///< a datagram is sent twice
    double datagramReorder = 0.0;    ///< a datagram is held back and sent after the next one
    double datagramTruncate = 0.0;   ///< a datagram is cut short at a random length
};

/// Datagram faults the stream has carried out so far.
struct InjectedFaults {
    uint64_t lost = 0;        ///< datagrams not sent
    uint64_t duplicated = 0;  ///< datagrams sent twice
    uint64_t reordered = 0;   ///< held back and sent after the next datagram
    uint64_t truncated = 0;   ///< datagrams cut short
};

/// Draws the faults, from a generator seeded once, so that a seed repeats them. Thread-safe.
class Faults {
public:
    /// What happens to the next reply: answered, answered late, never answered, or the
    /// connection dropped instead.
    enum class Reply { Answer, Delay, Miss, Drop };
    /// What happens to the next datagram: sent, lost, sent twice, held back, or cut short.
    enum class Datagram { Send, Lose, Duplicate, Reorder, Truncate };

    /// Seeds the generators with `seed`; `rates` until SetRates.
    Faults(uint64_t seed, FaultRates rates);

    /// Replaces the rates for later draws.
    void SetRates(const FaultRates& rates);
    /// The current rates.
    FaultRates Rates() const;

    /// Draws the fate of the next reply.
    Reply NextReply();
    /// Draws the fate of the next datagram.
    Datagram NextDatagram();
    /// A length below `size` for a truncated datagram.
    std::size_t TruncatedLength(std::size_t size);

private:
    bool Draw(std::mt19937_64& generator, double rate);

    mutable std::mutex mutex;
    FaultRates rates;
    std::mt19937_64 replies;
    std::mt19937_64 datagrams;
};

}  // namespace Varkon::QUILApi::Sim
