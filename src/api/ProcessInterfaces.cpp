// Process interfaces and UDP output: "ProcessInterfaces", "ProcessInterfacesMeta", "UDPMeta",
// "UDPStreamData".
#include "api/QuilApi.h"

namespace Varkon::QUILApi {
namespace Frame {

template <>
struct Schema<ProcessInterfaces> {
    using R = ProcessInterfaces;
    static inline const auto fields =
        std::make_tuple(OptionalField("enableModbus", &R::enableModbus, false),
                        OptionalField("enableOPCUA", &R::enableOPCUA, false),
                        OptionalField("realtimeProtocolID", &R::realtimeProtocolID, 0u),
                        OptionalField("enableUDPStreaming", &R::enableUDPStreaming, false),
                        OptionalField("udpDestinationIP", &R::udpDestinationIP, ""),
                        OptionalField("udpDestinationPort", &R::udpDestinationPort, 0u),
                        OptionalField("iolProcessDataLayout", &R::iolProcessDataLayout, 0u));
};

template <>
struct Schema<ProcessInterfacesMeta> {
    using R = ProcessInterfacesMeta;
    static inline const auto fields =
        std::make_tuple(ListField("availableRTEthProtocols", &R::availableRTEthProtocols),
                        OptionalListField("iolProcessDataLayouts", &R::iolProcessDataLayouts));
};

template <>
struct Schema<UDPMeta> {
    static inline const auto fields = std::make_tuple(ListField("data", &UDPMeta::data));
};

template <>
struct Schema<UDPStreamData> {
    static inline const auto fields =
        std::make_tuple(Field("enabledDataIDs", &UDPStreamData::enabledDataIDs));
};

}  // namespace Frame

ProcessInterfacesMeta QuilApi::GetProcessInterfacesMeta() {
    return Read<ProcessInterfacesMeta>("ProcessInterfacesMeta");
}

ProcessInterfaces QuilApi::GetProcessInterfaces() {
    return Read<ProcessInterfaces>("ProcessInterfaces");
}

void QuilApi::SetProcessInterfaces(const ProcessInterfaces& processInterfaces) {
    const auto& p = processInterfaces;
    SetProcessInterfaces(p.enableModbus, p.enableOPCUA, p.realtimeProtocolID, p.enableUDPStreaming,
                         p.udpDestinationIP, p.udpDestinationPort, p.iolProcessDataLayout);
}

void QuilApi::SetProcessInterfaces(const bool& enableModbus, const bool& enableOPCUA,
                                   const uint32_t& realtimeProtocolID,
                                   const bool& enableUDPStreaming,
                                   const std::string& udpDestinationIP,
                                   const uint32_t& udpDestinationPort,
                                   const uint32_t& iolProcessDataLayout) {
    // Read, modify, write: members this library does not know go back as the sensor sent them.
    // The lock keeps another thread's request from running between the read and the write.
    std::lock_guard<std::recursive_mutex> lock(requestMutex);
    auto body = protocol->GetResource("ProcessInterfaces", nullptr);
    (*body)["enableModbus"] = enableModbus;
    (*body)["enableOPCUA"] = enableOPCUA;
    (*body)["realtimeProtocolID"] = realtimeProtocolID;
    (*body)["enableUDPStreaming"] = enableUDPStreaming;
    (*body)["udpDestinationIP"] = udpDestinationIP;
    (*body)["udpDestinationPort"] = udpDestinationPort;
    (*body)["iolProcessDataLayout"] = iolProcessDataLayout;
    Write("ProcessInterfaces", *body);
}

UDPMeta QuilApi::GetUDPMeta() {
    return Read<UDPMeta>("UDPMeta");
}

UDPStreamData QuilApi::GetUDPStreamData() {
    return Read<UDPStreamData>("UDPStreamData");
}

void QuilApi::SetUDPStreamData(const UDPStreamData& udpStreamData) {
    Write("UDPStreamData", Frame::Object({{"enabledDataIDs", udpStreamData.enabledDataIDs}}));
}

}  // namespace Varkon::QUILApi
