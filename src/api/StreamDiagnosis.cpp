// Why a stream receives nothing: facts checked on the sensor, on this host and in the counters.
#include "api/LocalAddresses.h"
#include "api/QuilApi.h"

#include <exception>
#include <string>
#include <vector>

namespace Varkon::QUILApi {

namespace {

using UdpStreaming::StreamStatistics;

// "3 too short, 1 unknown" from the non-zero parts; empty when all are zero.
std::string Parts(std::initializer_list<std::pair<uint64_t, const char*>> parts) {
    std::string text;
    for (const auto& [count, what] : parts) {
        if (count != 0) {
            text += (text.empty() ? "" : ", ") + std::to_string(count) + " " + what;
        }
    }
    return text;
}

void CheckSettings(Quil& quil, unsigned short port, std::vector<std::string>& reasons) {
    const ProcessInterfaces output = quil.GetProcessInterfaces();
    if (!output.enableUDPStreaming) {
        reasons.push_back(
            "The sensor's UDP output is switched off (\"enableUDPStreaming\" of "
            "\"ProcessInterfaces\" is false).");
    }
    if (!IsLocalAddress(output.udpDestinationIP)) {
        std::string towards;
        try {
            towards =
                "; this host is " + LocalAddressTowards(quil.GetHost()) + " towards the sensor";
        } catch (const std::exception&) {
        }
        reasons.push_back("The sensor sends to " + output.udpDestinationIP +
                          ", which is not an address of this host (\"udpDestinationIP\" of "
                          "\"ProcessInterfaces\"" +
                          towards + ").");
    }
    if (output.udpDestinationPort != port) {
        reasons.push_back("The sensor sends to port " + std::to_string(output.udpDestinationPort) +
                          ", but the stream receives on port " + std::to_string(port) + ".");
    }
    if (quil.GetUDPStreamData().enabledDataIDs.empty()) {
        reasons.push_back(
            "No data ids are selected (\"enabledDataIDs\" of \"UDPStreamData\" is empty).");
    }
    // A sensor without trigger settings runs freely: nothing to report then.
    try {
        const uint32_t mode = quil.GetTrigger().triggerMode;
        if (mode != 0) {
            reasons.push_back(
                "The sensor waits for a trigger before each profile (\"triggerMode\" of "
                "\"Trigger\" is " +
                std::to_string(mode) +
                ", not 0 for continuous); it sends nothing until triggered.");
        }
    } catch (const std::exception&) {
    }
}

void CheckCounters(const StreamStatistics& counts, std::vector<std::string>& reasons) {
    const uint64_t rejected =
        counts.datagramsTooShort + counts.datagramsUnknownKind + counts.datagramsTooLong;
    if (rejected != 0) {
        reasons.push_back(std::to_string(rejected) + " datagrams arrived but were rejected (" +
                          Parts({{counts.datagramsTooShort, "shorter than the packet header"},
                                 {counts.datagramsUnknownKind, "of an unknown packet kind"},
                                 {counts.datagramsTooLong, "longer than 2048 bytes"}}) +
                          ").");
    }
    const uint64_t unusable = counts.blocksEmpty + counts.blocksUnknownDataId +
                              counts.decodeFailures + counts.fragmentedBlocksTimedOut;
    if (unusable != 0) {
        reasons.push_back(std::to_string(unusable) + " blocks arrived but could not be used (" +
                          Parts({{counts.blocksEmpty, "empty"},
                                 {counts.blocksUnknownDataId, "of an unknown data id"},
                                 {counts.decodeFailures, "undecodable"},
                                 {counts.fragmentedBlocksTimedOut, "incomplete fragmented"}}) +
                          ").");
    }
    if (counts.datagramsOtherSender != 0) {
        reasons.push_back(std::to_string(counts.datagramsOtherSender) +
                          " datagrams came from another address than the sensor's the stream "
                          "accepts (AcceptOnlyFrom) and were ignored.");
    }
    if (counts.kernelDrops != 0) {
        std::string reason = "The system dropped " + std::to_string(counts.kernelDrops) +
                             " datagrams because the receive buffer was full";
        if (counts.ReceiveBufferCapped()) {
            reason += "; it granted " + std::to_string(counts.receiveBufferGranted) + " of the " +
                      std::to_string(counts.receiveBufferRequested) +
                      " bytes asked for (raise the limit: sysctl -w net.core.rmem_max=" +
                      std::to_string(counts.receiveBufferRequested) + ")";
        }
        reasons.push_back(reason + ".");
    }
}

}  // namespace

std::string QuilApi::GetHost() {
    return transport ? transport->GetHost() : std::string();
}

unsigned short QuilApi::GetStreamPort() {
    return transport ? transport->GetPort() : 0;
}

std::vector<std::string> QuilApi::DiagnoseStream() {
    std::vector<std::string> reasons;
    std::shared_ptr<UdpStreaming::QuilStreamApi> current;
    {
        std::lock_guard<std::mutex> lock(streamMutex);
        current = stream;
    }
    if (!current) {
        reasons.push_back("The stream was never opened (GetStream, then Start).");
    } else if (!current->IsStarted()) {
        reasons.push_back("The stream is not started (Start), or was stopped or closed.");
    }
    try {
        CheckSettings(*this, GetStreamPort(), reasons);
    } catch (const std::exception& e) {
        reasons.push_back(std::string("The sensor's UDP output settings could not be read: ") +
                          e.what());
    }
    if (current) {
        CheckCounters(current->GetStatistics(), reasons);
    }
    return reasons;
}

}  // namespace Varkon::QUILApi
