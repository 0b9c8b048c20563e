// quil plot: a profile as a chart, or a capture of profiles as a height map.
#include "Commands.h"
#include "Counted.h"
#include "Files.h"
#include "NamedSettings.h"
#include "Plot.h"
#include "StreamCapture.h"

#include <CLI/CLI.hpp>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <memory>
#include <ostream>
#include <vector>

namespace QuilTool {
namespace {

const std::vector<std::string> kHeightMapTypes = {".png", ".svg", ".pgm"};
const char* const kHeightMapUses =
    ".png or .svg for a picture with axes, .pgm for the bare heights";
const std::vector<std::string> kProfileTypes = {".svg", ".png"};
const char* const kProfileUses = ".svg or .png";

PictureType PictureTypeOf(const std::string& path) {
    return Suffix(path) == ".svg" ? PictureType::Svg : PictureType::Png;
}

struct HeightMapOptions {
    std::string path;
    uint16_t port = 5000;
    std::size_t count = 200;  // from the sensor; a recording is read to its end
    double seconds = 0;
    std::string palette = "colour";
    std::string from;  // a recording to read instead of the sensor
};

}  // namespace

MapArea WriteHeightMapFile(const std::string& path, const HeightMap& map,
                           const Varkon::QUILApi::ProfileCoordinates& coordinates,
                           Palette palette) {
    CheckImageType(path, kHeightMapTypes, kHeightMapUses);
    const std::string suffix = Suffix(path);
    const HeightGrid grid = MakeGrid(map, coordinates);
    const Span measured = grid.Measured();
    const Span z = ZSpan(measured.low, measured.high, coordinates);
    MapArea area;
    WriteFile(path, [&](std::ostream& out) {
        if (suffix == ".pgm") {
            WriteGreyImage(out, HeightGridGreys(grid, z), GreyFormat::Pgm);
            area = {0, 0, grid.columns, grid.rows};
            return;
        }
        DrawHeightMap(grid, coordinates, z, palette, &area).Write(out, PictureTypeOf(path));
    });
    return area;
}

void WriteProfileFile(const std::string& path, const Varkon::QUILApi::Profile& profile,
                      const Varkon::QUILApi::ProfileCoordinates& coordinates) {
    CheckImageType(path, kProfileTypes, kProfileUses);
    auto [x, z, brightness] = coordinates.Convert(profile);
    x.resize(std::min(x.size(), z.size()));
    z.resize(x.size());
    WriteFile(path, [&](std::ostream& out) {
        DrawProfile(x, z, coordinates,
                    "profile at " + FormatNumber(profile.timestamp / 1000000.0) + " s, " +
                        std::to_string(x.size()) + " points")
            .Write(out, PictureTypeOf(path));
    });
}

void AddPlotCommand(CLI::App& app, Context& context) {
    static std::string profilePath;
    static HeightMapOptions options;

    auto* plot = app.add_subcommand("plot",
                                    "Draw a profile (SVG or PNG) or a height map of many "
                                    "profiles (PNG, SVG or PGM)");
    plot->require_subcommand(1);
    SetExamples(*plot, {"quil plot profile profile.svg"});

    auto* profile = plot->add_subcommand("profile",
                                         "Read one profile and draw it as a chart with axes in "
                                         "millimetres, SVG or PNG by the file's "
                                         "suffix");
    SetExamples(*profile, {"quil plot profile profile.svg"});
    AddCommonOptions(*profile, context);
    profile->add_option("file", profilePath, "SVG or PNG file to write")->required();
    profile->callback([&context] {
        CheckImageType(profilePath, kProfileTypes, kProfileUses);
        auto quil = context.Connect();
        const auto read = quil->GetProfile();
        WriteProfileFile(profilePath, read, Varkon::QUILApi::ProfileCoordinates::Read(*quil));
        context.Print({{"file", profilePath}, {"points", read.xValues.size()}},
                      "drew the profile into " + profilePath + "\n");
    });

    auto* heightmap = plot->add_subcommand(
        "heightmap",
        "Capture profiles from the stream and draw them as a height map, one row per profile: "
        "a PNG or SVG picture with axes and a colour scale, or the bare heights as PGM; lost "
        "profiles "
        "leave white rows");
    SetExamples(*heightmap, {"quil plot heightmap map.png --count 200 --role maintenance",
                             "quil plot heightmap map.png --from line.pcap"});
    AddCommonOptions(*heightmap, context);
    AddStreamOptions(*heightmap, context);
    heightmap->add_option("file", options.path, "PNG, SVG or PGM file to write")->required();
    auto* count = heightmap
                      ->add_option("--count", options.count,
                                   "Profiles to capture (a recording: all unless given)")
                      ->capture_default_str();
    heightmap
        ->add_option("--seconds", options.seconds,
                     "Capture this many seconds of the sensor's time instead of a count")
        ->check(CLI::NonNegativeNumber);
    context
        .FallBackOnEnvironment(
            *heightmap,
            heightmap->add_option("--port", options.port, "Local UDP port to receive on"),
            "QUIL_PORT")
        ->capture_default_str();
    heightmap->add_option("--colours", options.palette, "colour (perceptual) or grey")
        ->check(CLI::IsMember({"colour", "grey"}))
        ->capture_default_str();
    heightmap->add_option("--from", options.from,
                          "Draw the profiles of a recording (see record) instead of the sensor's");
    heightmap->callback([&context, count] {
        CheckImageType(options.path, kHeightMapTypes, kHeightMapUses);
        CaptureLimits limits;
        const bool counted = count->count() != 0 || (options.from.empty() && options.seconds <= 0);
        limits.count = counted ? options.count : 0;
        limits.duration = std::chrono::milliseconds(std::llround(options.seconds * 1000));
        std::unique_ptr<RecordingSource> recording;
        std::unique_ptr<Varkon::QUILApi::Quil> quil;
        if (!options.from.empty()) {
            recording = std::make_unique<RecordingSource>(options.from);
        } else {
            quil = context.Connect(options.port);
        }
        const auto coordinates =
            recording ? recording->Coordinates() : Varkon::QUILApi::ProfileCoordinates::Read(*quil);
        HeightMapCollector collector(coordinates, recording ? recording->BlockIdStep() : 1);
        CaptureCounts counts;
        if (recording) {
            counts = recording->Capture(limits, collector, [](const CaptureCounts&) {});
        } else {
            CaptureTarget target;
            target.port = options.port;
            CaptureFromSensor(context, *quil, target, limits, collector,
                              [](const CaptureCounts&) {});
            quil->Disconnect();
        }
        const HeightMap& map = collector.map;
        const MapArea area =
            WriteHeightMapFile(options.path, map, coordinates,
                               options.palette == "grey" ? Palette::Grey : Palette::Perceptual);
        nlohmann::json damage;
        std::string damageText;
        if (!counts.damage.empty()) {
            damage = {{"afterRecord", counts.damagedAfterRecord}, {"error", counts.damage}};
            damageText = "; the recording is damaged after record " +
                         std::to_string(counts.damagedAfterRecord);
        }
        context.Print({{"file", options.path},
                       {"profiles", map.rows.size()},
                       {"lost", map.Lost()},
                       {"damage", damage},
                       {"map",
                        {{"left", area.left},
                         {"top", area.top},
                         {"width", area.width},
                         {"height", area.height}}}},
                      "drew " + Counted(map.rows.size(), "profile") + " (" +
                          std::to_string(map.Lost()) + " lost) into " + options.path + damageText +
                          "\n");
        ThrowIfDamaged(counts);
    });
}

}  // namespace QuilTool
