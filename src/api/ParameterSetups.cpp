// Parameter setups: "StartupSetup", "ActiveSetup", "StoreToSetup", "AllSettingsReset",
// "ParameterSetup", "ParameterSetupMeta".
#include "api/QuilApi.h"

namespace Varkon::QUILApi {
uint32_t QuilApi::GetStartupSetup() {
    return ReadField<uint32_t>("StartupSetup", "numSetup");
}

void QuilApi::SetStartupSetup(const uint32_t& numSetup) {
    Write("StartupSetup", ResourceFrame::Object({{"numSetup", numSetup}}));
}

void QuilApi::SetActiveSetup(const uint32_t& active) {
    Write("ActiveSetup", ResourceFrame::Object({{"active", active}}));
}

void QuilApi::StoreToSetup(const uint32_t& numSetup) {
    Write("StoreToSetup", ResourceFrame::Object({{"numSetup", numSetup}}));
}

void QuilApi::AllSettingsReset() {
    Write("AllSettingsReset", nullptr);  // "msgData" holds only the resource name
}

std::string QuilApi::GetParameterSetup(const uint32_t& numSetup) {
    // Compact, keys in ascending order, UTF-8 unescaped; invalid UTF-8 is the library's error.
    return ReadData("ParameterSetup", ResourceFrame::Object({{"numSetup", numSetup}}))->dump();
}

uint32_t QuilApi::GetParameterSetupMeta() {
    return ReadField<uint32_t>("ParameterSetupMeta", "numStorages");
}

ActiveSetup QuilApi::GetActiveSetup() {
    return Read<ActiveSetup>("ActiveSetup");
}

}  // namespace Varkon::QUILApi
