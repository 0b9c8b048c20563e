// Settings backup and restore: "ReadAllSettings", "ReadSingleSetting" and the settings write
// conversation "WriteSettingsBlockLimits", "StartSettingWrite", "WriteSettingsBlock".
#include "api/QuilApi.h"
#include "api/SettingsBlocks.h"

#include <stdexcept>

namespace Varkon::QUILApi {

std::string QuilApi::ReadAllSettings() {
    return ReadField<std::string>("ReadAllSettings", "blob");
}

std::string QuilApi::ReadSingleSetting(const uint32_t& numSetup) {
    return ReadField<std::string>("ReadSingleSetting", "blob",
                                  ResourceFrame::Object({{"numSetup", numSetup}}));
}

void QuilApi::WriteAllSettings(const std::string& blob) {
    WriteSettings(blob, std::nullopt);
}

void QuilApi::WriteSingleSetting(const std::string& blob, const uint32_t& numSetup) {
    WriteSettings(blob, numSetup);
}

void QuilApi::WriteSettings(const std::string& blob, std::optional<uint32_t> numSetup) {
    // No other thread's request may come between the requests of the write.
    const auto conversation = protocol->Converse();

    // Everything that the client itself can refuse is refused before the write is announced,
    // so that the sensor is never left with a half-written sequence by the client's doing.
    SettingsBlocks::CheckUtf8(blob);
    const uint32_t limit = WriteSettingsBlockLimits();
    if (limit == 0) {
        throw std::invalid_argument("Received invalid settings block length.");
    }
    const auto blocks = SettingsBlocks::CutBlocks(blob, limit);

    StartSettingWrite(numSetup);
    for (std::size_t num = 0; num < blocks.size(); ++num) {
        WriteSettingsBlock(static_cast<uint32_t>(num), num + 1 == blocks.size(),
                           std::string(blocks[num]));
    }
}

uint32_t QuilApi::WriteSettingsBlockLimits() {
    return ReadField<uint32_t>("WriteSettingsBlockLimits", "maxLength");
}

void QuilApi::StartSettingWrite(std::optional<uint32_t> numSetup) {
    Write("StartSettingWrite",
          numSetup ? ResourceFrame::Object({{"numSetup", *numSetup}}) : nlohmann::json(nullptr));
}

void QuilApi::WriteSettingsBlock(uint32_t num, bool isLastBlock, const std::string& block) {
    Write("WriteSettingsBlock",
          ResourceFrame::Object({{"num", num}, {"isLastBlock", isLastBlock}, {"block", block}}));
}

}  // namespace Varkon::QUILApi
