#pragma once

#include "api/ResourceFrame.h"
#include "udpstreaming/QuilStreamApi.h"
#include "udpstreaming/transport/IUdpTransport.h"
#include "websockets/Protocol.h"

#include <quil/Json.h>
#include <quil/Quil.h>

#include <nlohmann/json.hpp>

#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace Varkon::QUILApi {

/// The client: every operation reads or writes sensor resources through the frame below.
///
/// Requests are serialised by the channel's request lock, so that callers on several threads
/// each receive their own reply; an operation made of several requests holds it across all of
/// them with a conversation (Protocol::Converse).
class QuilApi : public Quil {
public:
    QuilApi(std::unique_ptr<WebSockets::Protocol> protocol,
            std::shared_ptr<UdpStreaming::Transport::IUdpTransport> transport);
    ~QuilApi() override;

    std::shared_ptr<UdpStreaming::QuilStream> GetStream() override;

    void Connect() override;
    void Disconnect() override;
    void Login(const std::string& role, const std::string& password) override;
    void Logout() override;

    SensorMetaData GetSensorMetaData() override;

    // Network and time server
    Network GetNetwork() override;
    void SetNetwork(const Network& network) override;
    void SetNetwork(const bool& useDHCP, const std::string& staticIP, const std::string& subnetMask,
                    const std::string& gateway) override;
    uint32_t GetTimeserverMeta() override;
    Timeserver GetTimeserver() override;
    void SetTimeserver(const Timeserver& timeserver) override;
    void SetTimeserver(const bool& useNTP, const std::vector<std::string>& ntpServers) override;

    // Process interfaces and UDP output
    ProcessInterfacesMeta GetProcessInterfacesMeta() override;
    ProcessInterfaces GetProcessInterfaces() override;
    void SetProcessInterfaces(const ProcessInterfaces& processInterfaces) override;
    void SetProcessInterfaces(const bool& enableModbus, const bool& enableOPCUA,
                              const uint32_t& realtimeProtocolID, const bool& enableUDPStreaming,
                              const std::string& udpDestinationIP,
                              const uint32_t& udpDestinationPort,
                              const uint32_t& iolProcessDataLayout) override;
    UDPMeta GetUDPMeta() override;
    UDPStreamData GetUDPStreamData() override;
    void SetUDPStreamData(const UDPStreamData& udpStreamData) override;

    // Laser power and exposure time
    double GetLaserPower() override;
    void SetLaserPower(const double& factor) override;
    LaserPowerMeta GetLaserPowerMeta() override;
    LaserPowerLimits GetLaserPowerLimits() override;
    uint32_t GetExposureTime() override;
    void SetExposureTime(const uint32_t& exposureTime) override;
    ExposureTimeLimits GetExposureTimeLimits() override;
    ExposureTimeMeta GetExposureTimeMeta() override;

    // Trigger
    void TriggerFire(const uint32_t& count) override;
    Trigger GetTrigger() override;
    void SetTrigger(const Trigger& trigger) override;
    void SetTrigger(const uint32_t& triggerMode, const uint32_t& modeOption,
                    const uint32_t& triggerTime, const uint32_t& encoderSteps) override;
    TriggerLimits GetTriggerLimits() override;
    TriggerMeta GetTriggerMeta() override;

    // Resolution, resampling and profile filter
    Resolution GetResolution() override;
    void SetResolution(const Resolution& resolution) override;
    void SetResolution(const uint32_t& xResolution, const uint32_t& zResolution) override;
    ResolutionLimits GetResolutionLimits() override;
    bool GetResamplingEnabled() override;
    Resampling GetResampling() override;
    void SetResampling(const Resampling& resampling) override;
    void SetResampling(const bool& enabled, const double& gridValue) override;
    ResamplingMeta GetResamplingMeta() override;
    ProfileFilter GetProfileFilter() override;
    void SetProfileFilter(const ProfileFilter& profileFilter) override;
    void SetProfileFilter(const bool& movingAverageEnabled,
                          const uint32_t& movingAverageLength) override;
    bool GetProfileFilterEnabled() override;
    ProfileFilterMeta GetProfileFilterMeta() override;

    // Profile algorithm
    uint32_t GetProfileAlgorithm() override;
    void SetProfileAlgorithm(const uint32_t& algorithmID) override;
    ProfileAlgorithmMeta GetProfileAlgorithmMeta() override;
    ProfileAlgorithmParamsLimits GetProfileAlgorithmParamsLimits(
        const uint32_t& algorithmID) override;
    ProfileAlgorithmParamsMeta GetProfileAlgorithmParamsMeta() override;
    ProfileAlgorithmParams GetProfileAlgorithmParams(const uint32_t& algorithmID) override;
    void SetProfileAlgorithmParams(const uint32_t& algorithmID,
                                   const ProfileAlgorithmParams& params) override;
    void SetProfileAlgorithmParams(const uint32_t& algorithmID, const uint32_t& minPeakHeight,
                                   const uint32_t& minPeakWidth, const uint32_t& thresholdValue,
                                   const uint32_t& thresholdTypeID) override;

    // Axes and field of view
    AxesMeta GetAxesMeta() override;
    uint32_t GetAxes() override;
    void SetAxes(const uint32_t& zAxisDefinitionID) override;
    FoV GetFoV() override;
    void SetFoV(const FoV& fov) override;
    void SetFoV(const double& limitLeft, const double& limitRight, const double& offset,
                const double& height) override;
    FoVDistance GetFoVDistance() override;
    void SetFoVDistance(const FoVDistance& fovDistance) override;
    void SetFoVDistance(const double& limitLeft, const double& limitRight, const double& near,
                        const double& far) override;
    FoVLimits GetFoVLimits() override;
    FoVMeta GetFoVMeta() override;

    // Settings backup and restore
    std::string ReadAllSettings() override;
    std::string ReadSingleSetting(const uint32_t& numSetup) override;
    void WriteAllSettings(const std::string& blob) override;
    void WriteSingleSetting(const std::string& blob, const uint32_t& numSetup) override;

    // Parameter setups
    uint32_t GetStartupSetup() override;
    void SetStartupSetup(const uint32_t& numSetup) override;
    void SetActiveSetup(const uint32_t& active) override;
    void StoreToSetup(const uint32_t& numSetup) override;
    void AllSettingsReset() override;
    std::string GetParameterSetup(const uint32_t& numSetup) override;
    uint32_t GetParameterSetupMeta() override;
    ActiveSetup GetActiveSetup() override;

    // Measurement values
    MeasurementValues GetMeasurementValues() override;
    MeasurementMeta GetMeasurementMeta() override;
    MeasurementValuesMeta GetMeasurementValuesMeta() override;

    // Profiles and images
    Profile GetProfile() override;
    ProfileMeta GetProfileMeta() override;
    AugmentedProfile GetAugmentedProfile() override;
    Image GetImage() override;
    ImageMeta GetImageMeta() override;

    // Image file export
    void SaveImage(const std::string& fileName, const Image& image) override;

    std::string GetHost() override;
    unsigned short GetStreamPort() override;
    std::vector<std::string> DiagnoseStream() override;

    void SetRequestTimeout(std::chrono::milliseconds timeout) override;
    std::chrono::milliseconds GetRequestTimeout() const { return protocol->ResourceLimit(); }
    void SetAutoReconnect(bool enabled) override;

    /// @throws std::out_of_range "Field <key> missing in response."
    void CheckField(const nlohmann::json& data, const std::string& key) const;

    /// The body of `resource` as the sensor sent it.
    nlohmann::json ReadResource(const std::string& resource) { return *ReadData(resource); }

private:
    /// GET of `resource`; the data is never empty.
    /// @throws std::invalid_argument "No response received (is null)."
    std::unique_ptr<nlohmann::json> ReadData(const std::string& resource,
                                             const nlohmann::json& param = nullptr);

    /// Reads a whole record (one with a ResourceFrame::Schema).
    template <class Record>
    Record Read(const std::string& resource, const nlohmann::json& param = nullptr) {
        return ResourceFrame::FromJson<Record>(*ReadData(resource, param));
    }

    /// Reads the single field `key` of `resource`.
    template <class T>
    T ReadField(const std::string& resource, const std::string& key,
                const nlohmann::json& param = nullptr) {
        const auto data = ReadData(resource, param);
        CheckField(*data, key);
        return WebSockets::GetChecked<T>(data->at(key), key);
    }

    /// SET of `resource`; `value` is an object, or null for a write without arguments.
    void Write(const std::string& resource, const nlohmann::json& value);

    // The settings write conversation: the limit query, the announcement and the
    // numbered blocks, exactly the last one marked. `numSetup` empty writes the whole settings
    // (StartSettingWrite without a value); a setup number is sent as it is, whatever its size.
    void WriteSettings(const std::string& blob, std::optional<uint32_t> numSetup);
    uint32_t WriteSettingsBlockLimits();
    void StartSettingWrite(std::optional<uint32_t> numSetup);
    void WriteSettingsBlock(uint32_t num, bool isLastBlock, const std::string& block);

    std::unique_ptr<WebSockets::Protocol> protocol;
    std::shared_ptr<UdpStreaming::Transport::IUdpTransport> transport;
    std::shared_ptr<UdpStreaming::QuilStreamApi> stream;
    std::mutex streamMutex;
};

}  // namespace Varkon::QUILApi
