#pragma once

// Files of captured stream data: CSV, JSON Lines, and PLY point clouds.

#include "Plot.h"
#include "ProfileScale.h"

#include <quil/Quil.h>

#include <algorithm>
#include <memory>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

namespace QuilTool {

class CaptureWriter {
public:
    virtual ~CaptureWriter() = default;
    virtual void Write(const Varkon::QUILApi::UdpStreaming::StreamProfile& profile) = 0;
    virtual void Write(const Varkon::QUILApi::UdpStreaming::StreamMeasurement& measurement) = 0;
    /// Completes the file (a PLY file learns its point count only here).
    virtual void Finish() {}
};

/// Collects every profile as one row of points in lengths; a profile lost between two received
/// ones leaves an empty row, so that gaps stay visible.
class HeightMapCollector : public CaptureWriter {
public:
    /// `blockIdStep`: how far apart the block ids of consecutive profiles lie (the number of
    /// data ids streamed: the sensor numbers every data id's block).
    explicit HeightMapCollector(const ProfileScale& scale, uint32_t blockIdStep = 1)
        : scale(scale), blockIdStep(std::max(blockIdStep, 1u)) {}
    void Write(const Varkon::QUILApi::UdpStreaming::StreamProfile& profile) override;
    void Write(const Varkon::QUILApi::UdpStreaming::StreamMeasurement&) override {}

    HeightMap map;

private:
    ProfileScale scale;
    uint32_t blockIdStep;
    bool any = false;
    uint32_t lastBlockId = 0;
};

/// Hands every record to several writers.
class TeeWriter : public CaptureWriter {
public:
    explicit TeeWriter(std::vector<CaptureWriter*> writers) : writers(std::move(writers)) {}
    void Write(const Varkon::QUILApi::UdpStreaming::StreamProfile& profile) override {
        for (auto* writer : writers) {
            writer->Write(profile);
        }
    }
    void Write(const Varkon::QUILApi::UdpStreaming::StreamMeasurement& measurement) override {
        for (auto* writer : writers) {
            writer->Write(measurement);
        }
    }
    void Finish() override {
        for (auto* writer : writers) {
            writer->Finish();
        }
    }

private:
    std::vector<CaptureWriter*> writers;
};

/// The most profiles one gap in the block ids may stand for in a height map or a cloud; a larger
/// jump (a restarted sensor) is closed up.
inline constexpr uint32_t kLongestGap = 10000;

/// `format` is "csv", "jsonl" or "ply". CSV and JSON Lines hold the channels as sent. A PLY
/// cloud holds x (channel 1), y and z (channel 0) in one unit, the sensor's x unit: profiles are
/// `yStep` apart along y by their block ids, so that lost ones leave a gap; points without a
/// laser line (z 0) are left out. A profile without channel 1 cannot be placed in a cloud.
/// `blockIdStep` as for HeightMapCollector.
/// @throws UsageError for an unknown format.
std::unique_ptr<CaptureWriter> MakeCaptureWriter(const std::string& format, std::ostream& out,
                                                 const ProfileScale& scale, double yStep,
                                                 uint32_t blockIdStep = 1);

}  // namespace QuilTool
