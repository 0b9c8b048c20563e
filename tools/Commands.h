#pragma once

// The subcommands of the tool. Each adds itself to the application.

#include "Context.h"
#include "Plot.h"
#include "StreamCapture.h"

#include <quil/Quil.h>

#include <string>

namespace CLI {
class App;
}

namespace QuilTool {

void AddInfoCommand(CLI::App& app, Context& context);
void AddSettingCommands(CLI::App& app, Context& context);  // get, set, config
void AddBackupCommands(CLI::App& app, Context& context);   // backup, restore
void AddSetupCommand(CLI::App& app, Context& context);
void AddLoginCommand(CLI::App& app, Context& context);
void AddDataCommands(CLI::App& app, Context& context);  // profile, image, measure
void AddStreamCommand(CLI::App& app, Context& context);
void AddRecordCommands(CLI::App& app, Context& context);  // record, replay
void AddPlotCommand(CLI::App& app, Context& context);
void AddDemoCommand(CLI::App& app, Context& context);
void AddDiscoverCommand(CLI::App& app, Context& context);
void AddViewCommand(CLI::App& app, Context& context);

// Shared by stream and record.
/// Adds --port, --data-ids, --count, --seconds and --allow-loss.
void AddCaptureOptions(CLI::App& command, CaptureRequest& request, Context& context);

// Shared by setup, backup and restore.
/// @throws InvalidValue "the setup number must be a whole number from 0 to <last>; got "<n>""
/// unless `number` names one of the sensor's setups.
void CheckSetupNumber(Varkon::QUILApi::Quil& quil, uint32_t number);

/// The WebSocket port of a virtual sensor the tool starts (demo, view --sim): 80 as root, 8077
/// for an ordinary user, who may not listen on port 80.
uint16_t VirtualSensorPort();

// Shared by plot and demo.
/// A height map by the file's suffix: ".png" or ".svg" a picture with axes, ".pgm" the bare
/// heights.
/// Returns where the map lies in the picture. @throws UsageError for another suffix.
MapArea WriteHeightMapFile(const std::string& path, const HeightMap& map,
                           const Varkon::QUILApi::ProfileCoordinates& coordinates, Palette palette);
/// A chart by the file's suffix, ".svg" or ".png". @throws UsageError for another suffix.
void WriteProfileFile(const std::string& path, const Varkon::QUILApi::Profile& profile,
                      const Varkon::QUILApi::ProfileCoordinates& coordinates);

}  // namespace QuilTool
