// Placeholders of operations not built yet.
#include "api/QuilApi.h"

#include <stdexcept>

namespace Varkon::QUILApi {

Network QuilApi::GetNetwork() {
    throw std::logic_error("GetNetwork: not implemented yet");
}

void QuilApi::SetNetwork(const Network&) {
    throw std::logic_error("SetNetwork: not implemented yet");
}

void QuilApi::SetNetwork(const bool&, const std::string&, const std::string&, const std::string&) {
    throw std::logic_error("SetNetwork: not implemented yet");
}

uint32_t QuilApi::GetTimeserverMeta() {
    throw std::logic_error("GetTimeserverMeta: not implemented yet");
}

Timeserver QuilApi::GetTimeserver() {
    throw std::logic_error("GetTimeserver: not implemented yet");
}

void QuilApi::SetTimeserver(const Timeserver&) {
    throw std::logic_error("SetTimeserver: not implemented yet");
}

void QuilApi::SetTimeserver(const bool&, const std::vector<std::string>&) {
    throw std::logic_error("SetTimeserver: not implemented yet");
}

ProcessInterfacesMeta QuilApi::GetProcessInterfacesMeta() {
    throw std::logic_error("GetProcessInterfacesMeta: not implemented yet");
}

ProcessInterfaces QuilApi::GetProcessInterfaces() {
    throw std::logic_error("GetProcessInterfaces: not implemented yet");
}

void QuilApi::SetProcessInterfaces(const ProcessInterfaces&) {
    throw std::logic_error("SetProcessInterfaces: not implemented yet");
}

void QuilApi::SetProcessInterfaces(const bool&, const bool&, const uint32_t&, const bool&,
                                   const std::string&, const uint32_t&, const uint32_t&) {
    throw std::logic_error("SetProcessInterfaces: not implemented yet");
}

UDPMeta QuilApi::GetUDPMeta() {
    throw std::logic_error("GetUDPMeta: not implemented yet");
}

UDPStreamData QuilApi::GetUDPStreamData() {
    throw std::logic_error("GetUDPStreamData: not implemented yet");
}

void QuilApi::SetUDPStreamData(const UDPStreamData&) {
    throw std::logic_error("SetUDPStreamData: not implemented yet");
}

double QuilApi::GetLaserPower() {
    throw std::logic_error("GetLaserPower: not implemented yet");
}

void QuilApi::SetLaserPower(const double&) {
    throw std::logic_error("SetLaserPower: not implemented yet");
}

LaserPowerMeta QuilApi::GetLaserPowerMeta() {
    throw std::logic_error("GetLaserPowerMeta: not implemented yet");
}

LaserPowerLimits QuilApi::GetLaserPowerLimits() {
    throw std::logic_error("GetLaserPowerLimits: not implemented yet");
}

uint32_t QuilApi::GetExposureTime() {
    throw std::logic_error("GetExposureTime: not implemented yet");
}

void QuilApi::SetExposureTime(const uint32_t&) {
    throw std::logic_error("SetExposureTime: not implemented yet");
}

ExposureTimeLimits QuilApi::GetExposureTimeLimits() {
    throw std::logic_error("GetExposureTimeLimits: not implemented yet");
}

ExposureTimeMeta QuilApi::GetExposureTimeMeta() {
    throw std::logic_error("GetExposureTimeMeta: not implemented yet");
}

Resolution QuilApi::GetResolution() {
    throw std::logic_error("GetResolution: not implemented yet");
}

void QuilApi::SetResolution(const Resolution&) {
    throw std::logic_error("SetResolution: not implemented yet");
}

void QuilApi::SetResolution(const uint32_t&, const uint32_t&) {
    throw std::logic_error("SetResolution: not implemented yet");
}

ResolutionLimits QuilApi::GetResolutionLimits() {
    throw std::logic_error("GetResolutionLimits: not implemented yet");
}

bool QuilApi::GetResamplingEnabled() {
    throw std::logic_error("GetResamplingEnabled: not implemented yet");
}

Resampling QuilApi::GetResampling() {
    throw std::logic_error("GetResampling: not implemented yet");
}

void QuilApi::SetResampling(const Resampling&) {
    throw std::logic_error("SetResampling: not implemented yet");
}

void QuilApi::SetResampling(const bool&, const double&) {
    throw std::logic_error("SetResampling: not implemented yet");
}

ResamplingMeta QuilApi::GetResamplingMeta() {
    throw std::logic_error("GetResamplingMeta: not implemented yet");
}

ProfileFilter QuilApi::GetProfileFilter() {
    throw std::logic_error("GetProfileFilter: not implemented yet");
}

void QuilApi::SetProfileFilter(const ProfileFilter&) {
    throw std::logic_error("SetProfileFilter: not implemented yet");
}

void QuilApi::SetProfileFilter(const bool&, const uint32_t&) {
    throw std::logic_error("SetProfileFilter: not implemented yet");
}

bool QuilApi::GetProfileFilterEnabled() {
    throw std::logic_error("GetProfileFilterEnabled: not implemented yet");
}

ProfileFilterMeta QuilApi::GetProfileFilterMeta() {
    throw std::logic_error("GetProfileFilterMeta: not implemented yet");
}

}  // namespace Varkon::QUILApi
