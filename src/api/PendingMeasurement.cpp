// Placeholders of operations not built yet.
#include "api/QuilApi.h"

#include <stdexcept>

namespace Varkon::QUILApi {

std::string QuilApi::ReadAllSettings() {
    throw std::logic_error("ReadAllSettings: not implemented yet");
}

std::string QuilApi::ReadSingleSetting(const uint32_t&) {
    throw std::logic_error("ReadSingleSetting: not implemented yet");
}

void QuilApi::WriteAllSettings(const std::string&) {
    throw std::logic_error("WriteAllSettings: not implemented yet");
}

void QuilApi::WriteSingleSetting(const std::string&, const uint32_t&) {
    throw std::logic_error("WriteSingleSetting: not implemented yet");
}

uint32_t QuilApi::GetStartupSetup() {
    throw std::logic_error("GetStartupSetup: not implemented yet");
}

void QuilApi::SetStartupSetup(const uint32_t&) {
    throw std::logic_error("SetStartupSetup: not implemented yet");
}

void QuilApi::SetActiveSetup(const uint32_t&) {
    throw std::logic_error("SetActiveSetup: not implemented yet");
}

void QuilApi::StoreToSetup(const uint32_t&) {
    throw std::logic_error("StoreToSetup: not implemented yet");
}

void QuilApi::AllSettingsReset() {
    throw std::logic_error("AllSettingsReset: not implemented yet");
}

std::string QuilApi::GetParameterSetup(const uint32_t&) {
    throw std::logic_error("GetParameterSetup: not implemented yet");
}

uint32_t QuilApi::GetParameterSetupMeta() {
    throw std::logic_error("GetParameterSetupMeta: not implemented yet");
}

ActiveSetup QuilApi::GetActiveSetup() {
    throw std::logic_error("GetActiveSetup: not implemented yet");
}

void QuilApi::SaveImage(const std::string&, const Image&) {
    throw std::logic_error("SaveImage: not implemented yet");
}

}  // namespace Varkon::QUILApi
