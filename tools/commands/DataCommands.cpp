// quil profile, quil image, quil measure: what the sensor measures, on request.
#include "Commands.h"
#include "RecordJson.h"

#include <CLI/CLI.hpp>

#include <cmath>
#include <ostream>

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

template <class P>
void PrintProfile(std::ostream& out, const P& profile, const std::vector<int32_t>* brightness,
                  bool asJson) {
    if (asJson) {
        json result = {{"qualityID", profile.qualityID},
                       {"timestamp", profile.timestamp},
                       {"prec", profile.prec},
                       {"xStart", profile.xStart},
                       {"length", profile.length},
                       {"x", profile.xValues},
                       {"z", profile.zValues}};
        if (brightness) {
            result["brightness"] = *brightness;
        }
        out << result.dump() << "\n";
        return;
    }
    out << (brightness ? "x,z,brightness\n" : "x,z\n");
    for (std::size_t i = 0; i < profile.xValues.size(); ++i) {
        out << profile.xValues[i] << "," << (i < profile.zValues.size() ? profile.zValues[i] : 0);
        if (brightness) {
            out << "," << (i < brightness->size() ? (*brightness)[i] : 0);
        }
        out << "\n";
    }
}

}  // namespace

void AddDataCommands(CLI::App& app, Context& context) {
    static bool augmented = false;
    static std::string path;

    auto* profile = app.add_subcommand("profile", "Read one profile and print it as CSV (x,z)");
    AddCommonOptions(*profile, context, true);
    profile->add_flag("--augmented", augmented, "With brightness values (x,z,brightness)");
    profile->callback([&context] {
        auto quil = context.Connect();
        if (augmented) {
            const auto read = quil->GetAugmentedProfile();
            PrintProfile(*context.out, read, &read.brightness, context.json);
        } else {
            PrintProfile(*context.out, quil->GetProfile(), nullptr, context.json);
        }
    });

    auto* image = app.add_subcommand("image", "Save the camera image as a PGM file");
    AddCommonOptions(*image, context, false);
    image->add_option("file", path, "PGM file to write")->required();
    image->callback([&context] {
        auto quil = context.Connect();
        const auto read = quil->GetImage();
        quil->SaveImage(path, read);
        *context.out << "saved a " << read.roiWidth / read.colBinning << "x"
                     << read.roiHeight / read.rowBinning << " image to " << path << "\n";
    });

    auto* measure = app.add_subcommand("measure",
                                       "Show the latest measurement values with "
                                       "their names and units");
    AddCommonOptions(*measure, context, true);
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
        if (context.json) {
            *context.out << json{{"timestamp", values.timestamp},
                                 {"quality", quality},
                                 {"valid", values.valuesAreValid},
                                 {"alarm", values.alarm},
                                 {"measrate", values.measrate},
                                 {"measrateUnit", meta.measrateUnit},
                                 {"values", named}}
                                .dump()
                         << "\n";
            return;
        }
        auto& out = *context.out;
        out << "timestamp: " << values.timestamp << "\nquality:   " << quality
            << "\nvalid:     " << (values.valuesAreValid ? "yes" : "no")
            << "\nalarm:     " << (values.alarm ? "yes" : "no")
            << "\nrate:      " << values.measrate << " " << meta.measrateUnit << "\n";
        for (const auto& entry : named) {
            out << "  " << entry.value("name", std::string("value")) << ": "
                << (entry["value"].is_string() ? entry["value"].get<std::string>()
                                               : entry["value"].dump())
                << " " << entry.value("unit", std::string()) << "\n";
        }
    });
}

}  // namespace QuilTool
