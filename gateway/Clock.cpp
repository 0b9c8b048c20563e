#include "Clock.h"

#include <chrono>

namespace Varkon::QuilGateway {
namespace {

template <class Unit>
uint64_t SinceEpoch() {
    return static_cast<uint64_t>(
        std::chrono::duration_cast<Unit>(std::chrono::system_clock::now().time_since_epoch())
            .count());
}

}  // namespace

uint64_t NowMs() {
    return SinceEpoch<std::chrono::milliseconds>();
}

uint64_t ArrivalUs(int64_t receiveStamp) {
    return receiveStamp > 0 ? static_cast<uint64_t>(receiveStamp)
                            : SinceEpoch<std::chrono::microseconds>();
}

}  // namespace Varkon::QuilGateway
