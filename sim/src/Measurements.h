#pragma once

#include <quil/sim/Scene.h>

#include <nlohmann/json.hpp>

#include <string>
#include <vector>

namespace Varkon::QUILApi::Sim {

class SettingStore;

/// What of the current settings the scene needs.
CaptureSettings CaptureSettingsOf(const SettingStore& settings);

/// Resource bodies of measured data. Coordinates are sent in hundredths of a millimetre ("prec"
/// 2); only the positions where a laser line was found are listed.
nlohmann::json ProfileBody(const Acquired& acquired, bool withBrightness);
nlohmann::json MeasurementValuesBody(const Acquired& acquired);
nlohmann::json ImageBody(const Picture& picture);

/// Standard Base64 with padding.
std::string Base64Encode(const std::vector<uint8_t>& bytes);

/// A coordinate in mm as the integer the sensor sends, in hundredths of a millimetre.
int32_t Hundredths(double millimetres);

}  // namespace Varkon::QUILApi::Sim
