// Process interfaces and UDP output: "ProcessInterfaces", "ProcessInterfacesMeta", "UDPMeta",
// "UDPStreamData".
#include "api/QuilApi.h"

namespace Varkon::QUILApi {
namespace ResourceFrame {

template <>
struct Schema<ProcessInterfaces> {
    static inline const auto fields = AllOptional<ProcessInterfaces>();
};

template <>
struct Schema<ProcessInterfacesMeta> {
    static inline const auto fields = Derived<ProcessInterfacesMeta>(
        OptionalListField("iolProcessDataLayouts", &ProcessInterfacesMeta::iolProcessDataLayouts));
};

}  // namespace ResourceFrame

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
    const nlohmann::json changes = WriteBody(
        ProcessInterfaces{enableModbus, enableOPCUA, realtimeProtocolID, enableUDPStreaming,
                          udpDestinationIP, udpDestinationPort, iolProcessDataLayout});
    // Read, modify, write: members this library does not know go back as the sensor sent them.
    // No other thread's request may come between the read and the write.
    const auto conversation = protocol->Converse();
    auto body = protocol->GetResource("ProcessInterfaces", nullptr);
    for (const auto& [key, value] : changes.items()) {
        (*body)[key] = value;
    }
    Write("ProcessInterfaces", *body);
}

UDPMeta QuilApi::GetUDPMeta() {
    return Read<UDPMeta>("UDPMeta");
}

UDPStreamData QuilApi::GetUDPStreamData() {
    return Read<UDPStreamData>("UDPStreamData");
}

void QuilApi::SetUDPStreamData(const UDPStreamData& udpStreamData) {
    Write("UDPStreamData", WriteBody(udpStreamData));
}

}  // namespace Varkon::QUILApi
