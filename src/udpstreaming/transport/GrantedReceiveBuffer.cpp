#include "udpstreaming/transport/GrantedReceiveBuffer.h"

#include <fstream>

namespace Varkon::QUILApi::UdpStreaming::Transport {

int GrantedReceiveBuffer(int requested, int reported) {
    int limit = requested;
#if defined(__linux__)
    std::ifstream file("/proc/sys/net/core/rmem_max");
    long long rmemMax = 0;
    if (file >> rmemMax && rmemMax > 0 && rmemMax < limit) {
        limit = static_cast<int>(rmemMax);
    }
    if (static_cast<long long>(reported) >= 2LL * limit) {
        return reported / 2;
    }
#else
    (void)requested;
#endif
    return reported;
}

}  // namespace Varkon::QUILApi::UdpStreaming::Transport
