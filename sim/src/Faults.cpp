#include <quil/sim/Faults.h>

namespace Varkon::QUILApi::Sim {

Faults::Faults(uint64_t seed, FaultRates rates)
    : rates(rates), replies(seed ^ 0x5265706C79ull), datagrams(seed ^ 0x44617461ull) {}

void Faults::SetRates(const FaultRates& given) {
    std::lock_guard<std::mutex> lock(mutex);
    rates = given;
}

FaultRates Faults::Rates() const {
    std::lock_guard<std::mutex> lock(mutex);
    return rates;
}

bool Faults::Draw(std::mt19937_64& generator, double rate) {
    if (rate <= 0.0) {
        return false;
    }
    return std::uniform_real_distribution<double>(0.0, 1.0)(generator) < rate;
}

Faults::Reply Faults::NextReply() {
    std::lock_guard<std::mutex> lock(mutex);
    if (Draw(replies, rates.connectionDrop)) {
        return Reply::Drop;
    }
    if (Draw(replies, rates.replyMissing)) {
        return Reply::Miss;
    }
    if (Draw(replies, rates.replyDelay)) {
        return Reply::Delay;
    }
    return Reply::Answer;
}

Faults::Datagram Faults::NextDatagram() {
    std::lock_guard<std::mutex> lock(mutex);
    if (Draw(datagrams, rates.datagramLoss)) {
        return Datagram::Lose;
    }
    if (Draw(datagrams, rates.datagramTruncate)) {
        return Datagram::Truncate;
    }
    if (Draw(datagrams, rates.datagramDuplicate)) {
        return Datagram::Duplicate;
    }
    if (Draw(datagrams, rates.datagramReorder)) {
        return Datagram::Reorder;
    }
    return Datagram::Send;
}

std::size_t Faults::TruncatedLength(std::size_t size) {
    std::lock_guard<std::mutex> lock(mutex);
    if (size == 0) {
        return 0;
    }
    return std::uniform_int_distribution<std::size_t>(0, size - 1)(datagrams);
}

}  // namespace Varkon::QUILApi::Sim
