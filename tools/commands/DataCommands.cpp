// quil profile, quil image, quil measure: what the sensor measures, on request.
#include "Commands.h"
#include "Files.h"
#include "GreyImage.h"
#include "Interruption.h"

#include <quil/Json.h>

#include <quil/ProfileCoordinates.h>

#include <CLI/CLI.hpp>

#include <cmath>
#include <iomanip>
#include <optional>
#include <ostream>
#include <sstream>

namespace QuilTool {
namespace {

using nlohmann::json;

// Infinities and undefined values, which JSON numbers cannot hold, as the sensor writes them.
json MeasurementValue(double value) {
    if (std::isnan(value)) {
        return "NaN";
    }
    if (std::isinf(value)) {
        return value > 0 ? "INF" : "-INF";
    }
    return value;
}

// Lengths in millimetres, rounded to what the profile's precision can tell (three places more
// for units finer than a millimetre), so that 12345 hundredths print as 123.45.
std::vector<double> Rounded(const std::vector<double>& millimetres, uint32_t prec) {
    const double scale = std::pow(10.0, static_cast<double>(prec) + 3);
    std::vector<double> rounded;
    rounded.reserve(millimetres.size());
    for (double value : millimetres) {
        rounded.push_back(std::round(value * scale) / scale);
    }
    return rounded;
}

// One profile, in millimetres unless `raw` (the integers the sensor sends, in 10^-prec of its
// unit).
template <class P>
void PrintProfile(const Context& context, const P& profile, const std::vector<int32_t>* brightness,
                  bool raw, const Varkon::QUILApi::ProfileCoordinates* coordinates) {
    std::vector<double> x(profile.xValues.begin(), profile.xValues.end());
    std::vector<double> z(profile.zValues.begin(), profile.zValues.end());
    if (!raw) {
        const auto points = coordinates->Convert(profile);
        x = Rounded(points.x, profile.prec);
        z = Rounded(points.z, profile.prec);
    }
    json result = {{"qualityID", profile.qualityID},
                   {"timestamp", profile.timestamp},
                   {"prec", profile.prec},
                   {"xStart", profile.xStart},
                   {"length", profile.length},
                   {"unit", raw ? "sensor" : "mm"},
                   {"x", x},
                   {"z", z}};
    if (brightness) {
        result["brightness"] = *brightness;
    }
    std::ostringstream csv;
    csv << std::setprecision(15) << (brightness ? "x,z,brightness\n" : "x,z\n");
    for (std::size_t i = 0; i < x.size() && i < z.size(); ++i) {
        csv << x[i] << "," << z[i];
        if (brightness) {
            csv << "," << (i < brightness->size() ? (*brightness)[i] : 0);
        }
        csv << "\n";
    }
    context.Print(result, csv.str());
}

}  // namespace

void AddDataCommands(CLI::App& app, Context& context) {
    static bool augmented = false;
    static bool raw = false;
    static std::string path;

    auto* profile = app.add_subcommand(
        "profile",
        "Read one profile and print it as CSV in millimetres (x,z); --raw: the coordinates as "
        "the sensor sends them, see \"prec\" under --json");
    SetExamples(*profile, {"quil profile --augmented > profile.csv"});
    AddCommonOptions(*profile, context);
    profile->add_flag("--augmented", augmented, "With brightness values (x,z,brightness)");
    profile->add_flag("--raw", raw, "The sensor's integers instead of millimetres");
    profile->callback([&context] {
        namespace Api = Varkon::QUILApi;
        auto quil = context.Connect();
        std::optional<Api::ProfileCoordinates> coordinates;
        if (!raw) {
            coordinates = Api::ProfileCoordinates::Read(*quil);
        }
        const Api::ProfileCoordinates* converting = coordinates ? &*coordinates : nullptr;
        if (augmented) {
            const auto read = quil->GetAugmentedProfile();
            PrintProfile(context, read, &read.brightness, raw, converting);
        } else {
            PrintProfile(context, quil->GetProfile(), nullptr, raw, converting);
        }
    });

    auto* image = app.add_subcommand(
        "image",
        "Save the camera image as PGM or PNG by the file's suffix; - writes PGM to "
        "standard output");
    SetExamples(*image, {"quil image camera.png", "quil image - | pnmtopng > camera.png"});
    AddCommonOptions(*image, context);
    image->add_option("file", path, "PGM or PNG file to write, - for standard output")->required();
    image->callback([&context] {
        const bool toStandardOutput = path == "-";
        if (!toStandardOutput) {
            CheckImageType(path, {".pgm", ".png"}, ".pgm or .png, or - for PGM on standard output");
        }
        auto quil = context.Connect();
        const auto read = quil->GetImage();
        const uint32_t width = read.colBinning ? read.roiWidth / read.colBinning : 0;
        const uint32_t height = read.rowBinning ? read.roiHeight / read.rowBinning : 0;
        const std::string destination = toStandardOutput ? "standard output" : path;
        if (Suffix(path) == ".pgm") {
            quil->SaveImage(path, read);
        } else {
            const GreyImage grey{static_cast<int>(width), static_cast<int>(height), read.pixels};
            if (width == 0 || height == 0 || grey.pixels.size() < std::size_t{width} * height) {
                throw std::runtime_error("the sensor sent a camera image of " +
                                         std::to_string(grey.pixels.size()) + " bytes for " +
                                         std::to_string(width) + "x" + std::to_string(height) +
                                         " pixels");
            }
            if (toStandardOutput) {
                WriteGreyImage(*context.out, grey, GreyFormat::Pgm);
                if (!context.out->flush()) {
                    ThrowWriteFailure(destination);
                }
            } else {
                WriteFile(path,
                          [&](std::ostream& out) { WriteGreyImage(out, grey, GreyFormat::Png); });
            }
        }
        // With the image on standard output, what was saved is told on standard error.
        (toStandardOutput ? *context.err : *context.out)
            << context.Render({{"file", path}, {"width", width}, {"height", height}},
                              "saved a " + std::to_string(width) + "x" + std::to_string(height) +
                                  " image to " + destination + "\n");
    });

    auto* measure = app.add_subcommand("measure",
                                       "Show the latest measurement values with "
                                       "their names and units");
    SetExamples(*measure, {"quil measure"});
    AddCommonOptions(*measure, context);
    measure->callback([&context] {
        auto quil = context.Connect();
        const auto types = quil->GetMeasurementValuesMeta().types;
        const auto meta = quil->GetMeasurementMeta();
        const auto values = quil->GetMeasurementValues();
        json named = json::array();
        for (std::size_t i = 0; i < values.values.size(); ++i) {
            json entry = {{"value", MeasurementValue(values.values[i])}};
            if (i < types.size()) {
                const auto& type = types[i];
                entry["name"] = type.userDefinedName.empty() ? type.toolName : type.userDefinedName;
                entry["unit"] = type.unit;
            }
            named.push_back(entry);
        }
        std::string quality = std::to_string(values.qualityID);
        for (const auto& entry : meta.qualityValues) {
            if (entry.id == values.qualityID) {
                quality = entry.name;
            }
        }
        std::ostringstream text;
        text << "timestamp: " << values.timestamp << "\nquality:   " << quality
             << "\nvalid:     " << (values.valuesAreValid ? "yes" : "no")
             << "\nalarm:     " << (values.alarm ? "yes" : "no")
             << "\nrate:      " << values.measrate << " " << meta.measrateUnit << "\n";
        for (const auto& entry : named) {
            text << "  " << entry.value("name", std::string("value")) << ": "
                 << (entry["value"].is_string() ? entry["value"].get<std::string>()
                                                : entry["value"].dump())
                 << " " << entry.value("unit", std::string()) << "\n";
        }
        context.Print({{"timestamp", values.timestamp},
                       {"quality", quality},
                       {"valid", values.valuesAreValid},
                       {"alarm", values.alarm},
                       {"measrate", values.measrate},
                       {"measrateUnit", meta.measrateUnit},
                       {"values", named}},
                      text.str());
    });
}

}  // namespace QuilTool
