// quil plot: a profile as an SVG chart, or a capture of profiles as a height map.
#include "Commands.h"
#include "Files.h"
#include "Plot.h"
#include "StreamCapture.h"

#include <CLI/CLI.hpp>

#include <ostream>

namespace QuilTool {

void WriteHeightMapFile(const std::string& path, const HeightMap& map) {
    const bool png = path.size() >= 4 && path.compare(path.size() - 4, 4, ".png") == 0;
    WriteFile(path, [&](std::ostream& out) {
        png ? WriteHeightMapPng(out, map) : WriteHeightMapPgm(out, map);
    });
}

void WriteProfileFile(const std::string& path, const Varkon::QUILApi::Profile& profile) {
    WriteFile(path, [&](std::ostream& out) {
        WriteProfileSvg(out, std::vector<double>(profile.xValues.begin(), profile.xValues.end()),
                        std::vector<double>(profile.zValues.begin(), profile.zValues.end()),
                        "Profile, timestamp " + std::to_string(profile.timestamp) + " us");
    });
}

void AddPlotCommand(CLI::App& app, Context& context) {
    static std::string path;
    static uint16_t port = 5000;
    static std::size_t count = 200;

    auto* plot = app.add_subcommand("plot",
                                    "Draw a profile (SVG) or a height map of many "
                                    "profiles (PGM or PNG)");
    plot->require_subcommand(1);

    auto* profile = plot->add_subcommand("profile", "Read one profile and draw it as SVG");
    AddCommonOptions(*profile, context, false);
    profile->add_option("file", path, "SVG file to write")->required();
    profile->callback([&context] {
        WriteProfileFile(path, context.Connect()->GetProfile());
        *context.out << "drew the profile into " << path << "\n";
    });

    auto* heightmap = plot->add_subcommand(
        "heightmap",
        "Capture profiles from the stream and draw them as a height map, one row per "
        "profile (PNG when FILE ends in .png, else PGM)");
    AddCommonOptions(*heightmap, context, false);
    heightmap->add_option("file", path, "PGM or PNG file to write")->required();
    heightmap->add_option("--count", count, "Profiles to capture")->capture_default_str();
    heightmap->add_option("--port", port, "Local UDP port to receive on")->capture_default_str();
    heightmap->callback([&context] {
        auto quil = context.Connect(port);
        HeightMapCollector collector;
        CaptureLimits limits;
        limits.count = count;
        CaptureFromSensor(*quil, context.host, port, {1}, limits, collector,
                          [](const CaptureCounts&) {});
        quil->Disconnect();
        const HeightMap& map = collector.map;
        WriteHeightMapFile(path, map);
        *context.out << "drew " << map.rows.size() << " profiles into " << path << "\n";
    });
}

}  // namespace QuilTool
