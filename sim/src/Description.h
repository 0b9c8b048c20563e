#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <string>
#include <vector>

namespace Varkon::QUILApi::Sim {

/// The fixed facts of the virtual device: every read-only resource (identity, meta and limit
/// resources), keyed by resource name. Limits that writes are checked against are read from
/// here, so that what the limit resources say and what the sensor accepts always agree.
nlohmann::json DeviceDescription(uint32_t pointsPerProfile);

/// The settings after a reset, keyed by resource name, for a profile rate in profiles per second.
nlohmann::json FactoryDefaults(double profileRate);

/// The resources that a parameter setup stores (the catalogue's settings of that scope).
const std::vector<std::string>& SetupResources();
/// The settings of the device itself, outside any setup (the catalogue's of that scope).
const std::vector<std::string>& DeviceResources();

/// Geometry of the virtual device, in millimetres, shared by the description and the scene.
struct Geometry {
    static constexpr double maxXMinus = 100.0;     // field of view reaches x = -maxXMinus
    static constexpr double maxXPlus = 100.0;      // ... and x = maxXPlus
    static constexpr double minDistance = 100.0;   // nearest distance the camera sees
    static constexpr double maxDistance = 400.0;   // farthest distance the camera sees
    static constexpr double beltDistance = 350.0;  // the conveyor belt's surface
    static constexpr double beltSpeed = 200.0;     // conveyor speed in mm/s
    static constexpr double countsPerMm = 10.0;    // encoder counts per mm of belt travel
    static constexpr uint32_t sensorHeight = 480;  // camera rows
    static constexpr uint32_t precision = 2;       // coordinates are sent in 1/100 mm
};

}  // namespace Varkon::QUILApi::Sim
