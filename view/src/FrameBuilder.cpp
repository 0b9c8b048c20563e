#include "FrameBuilder.h"

#include <algorithm>
#include <cmath>

namespace Varkon::QUILApi::View {
namespace {

// A height map cell: 0 to 254 across the z range, kNoHeight where no point fell.
constexpr uint8_t kNoHeight = 255;
// A long gap shows this many empty rows at most: a stall must not flood the page.
constexpr uint64_t kMostEmptyRows = 100;

std::string Base64(const std::vector<uint8_t>& bytes) {
    static const char kDigits[] =
        "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
    std::string text;
    text.reserve((bytes.size() + 2) / 3 * 4);
    for (std::size_t i = 0; i < bytes.size(); i += 3) {
        const uint32_t a = bytes[i];
        const uint32_t b = i + 1 < bytes.size() ? bytes[i + 1] : 0;
        const uint32_t c = i + 2 < bytes.size() ? bytes[i + 2] : 0;
        const uint32_t triple = (a << 16) | (b << 8) | c;
        text += kDigits[(triple >> 18) & 63];
        text += kDigits[(triple >> 12) & 63];
        text += i + 1 < bytes.size() ? kDigits[(triple >> 6) & 63] : '=';
        text += i + 2 < bytes.size() ? kDigits[triple & 63] : '=';
    }
    return text;
}

// Hundredths of a millimetre are the finest the stream carries; fewer digits, shorter frames.
nlohmann::json Rounded(const std::vector<double>& values) {
    nlohmann::json array = nlohmann::json::array();
    for (double value : values) {
        if (std::isnan(value)) {
            array.push_back(nullptr);
        } else {
            array.push_back(std::round(value * 100.0) / 100.0);
        }
    }
    return array;
}

}  // namespace

FrameBuilder::FrameBuilder(const SensorFeed& feed, std::size_t columns)
    : feed(feed), columns(columns) {}

void FrameBuilder::Add(UdpStreaming::StreamProfile&& profile) {
    AddRows(profile);
    latest = std::move(profile);
    hasLatest = true;
}

void FrameBuilder::Add(const UdpStreaming::StreamProfile& profile) {
    AddRows(profile);
    latest = profile;
    hasLatest = true;
}

void FrameBuilder::Forget() {
    anyProfile = false;
}

void FrameBuilder::AddRows(const UdpStreaming::StreamProfile& profile) {
    ++profiles;
    ++profilesSinceRate;
    const uint64_t sequence = profile.blockId / std::max<uint32_t>(feed.blockIdStep, 1);
    if (anyProfile && sequence > lastSequence + 1) {
        uint64_t shown = 0;
        for (uint64_t missing = lastSequence + 1; missing < sequence && shown < kMostEmptyRows;
             ++missing) {
            if (missing % every == 0) {
                AddRow(static_cast<uint32_t>(missing * feed.blockIdStep), nullptr);
                ++shown;
            }
        }
    }
    if (!anyProfile || sequence != lastSequence) {
        if (sequence % every == 0) {
            AddRow(profile.blockId, &profile);
        }
    }
    anyProfile = true;
    lastSequence = sequence;
}

void FrameBuilder::Add(const UdpStreaming::StreamMeasurement& value) {
    ++measurementsSinceRate;
    measurement = value;
}

void FrameBuilder::AddRow(uint32_t blockId, const UdpStreaming::StreamProfile* profile) {
    if (profile == nullptr) {
        rows.push_back({blockId, nullptr});
    } else {
        rows.push_back({blockId, EncodeRow(*profile)});
    }
}

std::string FrameBuilder::EncodeRow(const UdpStreaming::StreamProfile& profile) {
    std::vector<uint8_t> cells(columns, kNoHeight);
    x.assign(profile.pointCount, 0.0);
    z.assign(profile.pointCount, 0.0);
    feed.coordinates.Convert(profile, x.data(), z.data(), nullptr);
    const auto xRange = feed.coordinates.XRange();
    const auto zRange = feed.coordinates.ZRange();
    const double xSpan = std::max(xRange.high - xRange.low, 1e-9);
    const double zSpan = std::max(zRange.high - zRange.low, 1e-9);
    for (std::size_t i = 0; i < profile.pointCount; ++i) {
        if (std::isnan(z[i])) {
            continue;
        }
        // Without channel 1 the points are spread evenly across the field of view.
        const double at = profile.hasChannel1 ? (x[i] - xRange.low) / xSpan
                                              : (static_cast<double>(i) + 0.5) / profile.pointCount;
        if (at < 0 || at >= 1) {
            continue;
        }
        const auto column = static_cast<std::size_t>(at * static_cast<double>(columns));
        const double level = std::clamp((z[i] - zRange.low) / zSpan, 0.0, 1.0);
        const auto cell = static_cast<uint8_t>(std::lround(level * 254.0));
        if (cells[column] == kNoHeight || cell > cells[column]) {
            cells[column] = cell;
        }
    }
    return Base64(cells);
}

uint64_t FrameBuilder::RowStep(double profileRate, uint64_t current) {
    current = std::max<uint64_t>(current, 1);
    const bool tooMany = profileRate / static_cast<double>(current) > kRowsPerSecond * 1.1;
    const bool tooFew =
        current > 1 && profileRate / static_cast<double>(current - 1) < kRowsPerSecond * 0.9;
    if (!tooMany && !tooFew) {
        return current;
    }
    return std::max<uint64_t>(1, static_cast<uint64_t>(std::ceil(profileRate / kRowsPerSecond)));
}

nlohmann::json FrameBuilder::Take(const UdpStreaming::StreamStatistics& statistics,
                                  std::chrono::steady_clock::time_point now) {
    if (rateSince == std::chrono::steady_clock::time_point{}) {
        rateSince = now;
    }
    const double seconds = std::chrono::duration<double>(now - rateSince).count();
    if (seconds >= 1.0) {
        profileRate = static_cast<double>(profilesSinceRate) / seconds;
        measurementRate = static_cast<double>(measurementsSinceRate) / seconds;
        profilesSinceRate = 0;
        measurementsSinceRate = 0;
        rateSince = now;
        every = RowStep(profileRate, every);
    }
    nlohmann::json frame = {{"type", "frame"}, {"rows", std::move(rows)}};
    rows = nlohmann::json::array();
    if (hasLatest) {
        const ProfilePoints points = feed.coordinates.Convert(latest);
        frame["profile"] = {{"block", latest.blockId},
                            {"x", Rounded(points.x)},
                            {"z", Rounded(points.z)},
                            {"brightness", Rounded(points.brightness)}};
        hasLatest = false;
    }
    if (measurement) {
        nlohmann::json values = nlohmann::json::array();
        for (double value : measurement->values) {
            values.push_back(std::isnan(value) ? nlohmann::json(nullptr) : nlohmann::json(value));
        }
        frame["measurement"] = {{"block", measurement->blockId}, {"values", values}};
        measurement.reset();
    }
    frame["health"] = {
        {"profiles", profiles},
        {"profileRate", profileRate},
        {"measurementRate", measurementRate},
        {"rowEvery", every},
        {"blocksLost", statistics.blocksLost},
        {"kernelDrops", statistics.kernelDrops},
        {"queueDrops", statistics.profilesDropped + statistics.measurementsDropped},
        {"receiveBufferRequested", statistics.receiveBufferRequested},
        {"receiveBufferGranted", statistics.receiveBufferGranted},
        {"receiveBufferCapped", statistics.ReceiveBufferCapped()},
    };
    return frame;
}

nlohmann::json FrameBuilder::Describe() const {
    const auto xRange = feed.coordinates.XRange();
    const auto zRange = feed.coordinates.ZRange();
    nlohmann::json names = nlohmann::json::array();
    for (const auto& measurementName : feed.measurements) {
        names.push_back({{"name", measurementName.name}, {"unit", measurementName.unit}});
    }
    return {{"name", feed.name},
            {"identity", feed.identity},
            {"kind", feed.kind},
            {"x", {xRange.low, xRange.high}},
            {"z", {zRange.low, zRange.high}},
            {"zAxis", feed.coordinates.ZAxisName()},
            {"measurements", names},
            {"canRecord", feed.recording.has_value()},
            {"columns", columns},
            {"away", feed.away ? nlohmann::json{{"since", feed.away->sinceMicroseconds / 1000},
                                                {"reason", feed.away->reason}}
                               : nlohmann::json()}};
}

}  // namespace Varkon::QUILApi::View
