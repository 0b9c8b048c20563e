#pragma once

// What one sensor's stream looks like on the page, one frame at a time: the latest profile in
// millimetres, the height map's new rows (a row per profile, fewer when the stream is faster
// than the map can show; an empty row for each lost profile that would have been shown), the
// latest measurement values, and the stream's health.

#include <quil/view/SensorFeed.h>

#include <nlohmann/json.hpp>

#include <chrono>
#include <optional>
#include <string>
#include <vector>

namespace Varkon::QUILApi::View {

class FrameBuilder {
public:
    /// Height map rows are `columns` wide across the field of view.
    FrameBuilder(const SensorFeed& feed, std::size_t columns);

    /// Cheap: keeps the profile, and turns it into a height map row when it is one to show.
    void Add(UdpStreaming::StreamProfile&& profile);
    /// As above, keeping a copy in storage that the next profiles reuse.
    void Add(const UdpStreaming::StreamProfile& profile);
    void Add(const UdpStreaming::StreamMeasurement& measurement);
    /// Takes the next profile as the first: no empty rows for what came before it.
    void Forget();

    /// What came since the last frame, as the page's "frame" message.
    nlohmann::json Take(const UdpStreaming::StreamStatistics& statistics,
                        std::chrono::steady_clock::time_point now);

    /// How the page draws this sensor: ranges, axis names, measurement names, map width.
    nlohmann::json Describe() const;

    /// Rows per second the height map aims at; a faster stream shows every n-th profile.
    static constexpr double kRowsPerSecond = 250;

    /// The step n for a stream of `profileRate` profiles a second when it was `current`: kept
    /// while it gives within a tenth of kRowsPerSecond rows (or a smaller step would give more
    /// than nine tenths of it), so that a rate that wavers does not make the map's rows and axis
    /// jump between two steps.
    static uint64_t RowStep(double profileRate, uint64_t current);

private:
    void AddRows(const UdpStreaming::StreamProfile& profile);
    void AddRow(uint32_t blockId, const UdpStreaming::StreamProfile* profile);
    std::string EncodeRow(const UdpStreaming::StreamProfile& profile);

    const SensorFeed& feed;
    std::size_t columns;
    UdpStreaming::StreamProfile latest;
    bool hasLatest = false;
    std::optional<UdpStreaming::StreamMeasurement> measurement;
    nlohmann::json rows = nlohmann::json::array();
    bool anyProfile = false;
    uint64_t lastSequence = 0;  // the last profile's block id over the step
    uint64_t profiles = 0;      // since the start
    uint64_t profilesSinceRate = 0;
    uint64_t measurementsSinceRate = 0;
    std::chrono::steady_clock::time_point rateSince{};
    double profileRate = 0;
    double measurementRate = 0;
    uint64_t every = 1;  // a row for every n-th profile
    std::vector<double> x, z;
};

}  // namespace Varkon::QUILApi::View
