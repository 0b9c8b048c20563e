#pragma once

// Files of captured stream data: CSV, JSON Lines, and PLY point clouds.

#include "Plot.h"

#include <quil/Quil.h>

#include <memory>
#include <ostream>
#include <string>

namespace QuilTool {

class CaptureWriter {
public:
    virtual ~CaptureWriter() = default;
    virtual void Write(const Varkon::QUILApi::UdpStreaming::StreamProfile& profile) = 0;
    virtual void Write(const Varkon::QUILApi::UdpStreaming::StreamMeasurement& measurement) = 0;
    /// Completes the file (a PLY file learns its point count only here).
    virtual void Finish() {}
};

/// Collects the heights of every profile (channel 1, or channel 0 without it) as one row.
class HeightMapCollector : public CaptureWriter {
public:
    void Write(const Varkon::QUILApi::UdpStreaming::StreamProfile& profile) override {
        map.rows.push_back(profile.hasChannel1 ? profile.channel1 : profile.channel0);
    }
    void Write(const Varkon::QUILApi::UdpStreaming::StreamMeasurement&) override {}

    HeightMap map;
};

/// `format` is "csv", "jsonl" or "ply". Consecutive profiles of a PLY cloud are stacked along y,
/// `yStep` apart; x is channel 0 and z channel 1 (channel 0 when there is no channel 1).
/// @throws std::invalid_argument for an unknown format.
std::unique_ptr<CaptureWriter> MakeCaptureWriter(const std::string& format, std::ostream& out,
                                                 double yStep);

}  // namespace QuilTool
