#include "Measurements.h"

#include "Description.h"
#include "SettingStore.h"

#include <cmath>

namespace Varkon::QUILApi::Sim {

using nlohmann::json;

CaptureSettings CaptureSettingsOf(const SettingStore& settings) {
    CaptureSettings c;
    const json& fov = settings.Get("FoVDistance");
    c.limitLeft = fov["limitLeft"];
    c.limitRight = fov["limitRight"];
    c.nearest = fov["near"];
    c.farthest = fov["far"];
    c.xResolution = settings.Get("Resolution")["xResolution"];
    c.zResolution = settings.Get("Resolution")["zResolution"];
    c.resampling = settings.Get("Resampling")["enabled"];
    c.gridValue = settings.Get("Resampling")["gridValue"];
    c.filter = settings.Get("ProfileFilter")["movingAverageEnabled"];
    c.filterLength = settings.Get("ProfileFilter")["movingAverageLength"];
    c.heightAxis = settings.Get("Axes")["zAxisDefinitionID"] == 1;
    c.laserFactor = settings.Get("LaserPower")["Factor"];
    c.exposureTime = settings.Get("ExposureTime")["ExposureTime"];
    const uint32_t algorithm = settings.Get("ProfileAlgorithm")["algorithmID"];
    c.minPeakHeight = settings.AlgorithmParams(algorithm)["minPeakHeight"];
    return c;
}

int32_t Hundredths(double millimetres) {
    return static_cast<int32_t>(std::lround(millimetres * 100.0));
}

namespace {

json Timestamp(uint64_t timeUs) {
    return json::array({timeUs / 1000000, timeUs % 1000000});
}

}  // namespace

json ProfileBody(const Acquired& acquired, bool withBrightness) {
    json points = json::array();
    json brightness = json::array();
    int32_t xStart = 0;
    uint32_t length = 0;
    for (std::size_t i = 0; i < acquired.x.size(); ++i) {
        if (!acquired.valid[i]) {
            continue;
        }
        if (length++ == 0) {
            xStart = Hundredths(acquired.x[i]);
        }
        points.push_back(Hundredths(acquired.x[i]));
        points.push_back(Hundredths(acquired.z[i]));
        brightness.push_back(acquired.brightness[i]);
    }
    json body = {{"qualityID", acquired.quality},
                 {"timestamp", Timestamp(acquired.timeUs)},
                 {"prec", Geometry::precision},
                 {"xStart", xStart},
                 {"length", length},
                 {"points", std::move(points)}};
    if (withBrightness) {
        body["brightness"] = std::move(brightness);
    }
    return body;
}

json MeasurementValuesBody(const Acquired& acquired) {
    json values = json::array();
    for (double value : acquired.values) {
        if (std::isnan(value)) {
            values.push_back("NaN");
        } else {
            values.push_back(std::round(value * 100.0) / 100.0);
        }
    }
    return {{"qualityID", acquired.quality},
            {"configmode", false},
            {"valuesAreValid", acquired.quality != 2},
            {"alarm", acquired.alarm},
            {"digitalOuts", {acquired.objectPresent, acquired.alarm}},
            {"EncoderValue", acquired.encoder},
            {"measrate", acquired.rate},
            {"timestamp", Timestamp(acquired.timeUs)},
            {"values", std::move(values)}};
}

json ImageBody(const Picture& picture) {
    return {{"roiHeight", picture.roiHeight},
            {"roiWidth", picture.roiWidth},
            {"rowOffset", picture.rowOffset},
            {"columnOffset", picture.columnOffset},
            {"rowBinning", 1u},
            {"colBinning", 1u},
            {"pixels", Base64Encode(picture.pixels)}};
}

std::string Base64Encode(const std::vector<uint8_t>& bytes) {
    static const char alphabet[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    std::size_t i = 0;
    for (; i + 2 < bytes.size(); i += 3) {
        const uint32_t group = (bytes[i] << 16) | (bytes[i + 1] << 8) | bytes[i + 2];
        text += alphabet[(group >> 18) & 63];
        text += alphabet[(group >> 12) & 63];
        text += alphabet[(group >> 6) & 63];
        text += alphabet[group & 63];
    }
    if (i < bytes.size()) {
        const bool two = i + 1 < bytes.size();
        const uint32_t group = (bytes[i] << 16) | (two ? bytes[i + 1] << 8 : 0);
        text += alphabet[(group >> 18) & 63];
        text += alphabet[(group >> 12) & 63];
        text += two ? alphabet[(group >> 6) & 63] : '=';
        text += '=';
    }
    return text;
}

}  // namespace Varkon::QUILApi::Sim
