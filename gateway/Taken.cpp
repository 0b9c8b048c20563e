#include "Taken.h"

#include "Clock.h"

#include <atomic>

namespace Varkon::QuilGateway {

Taken Taken::Now() {
    static std::atomic<uint64_t> next{1};
    return {NowMs(), next.fetch_add(1)};
}

}  // namespace Varkon::QuilGateway
