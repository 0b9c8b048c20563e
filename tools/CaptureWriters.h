#pragma once

// Files of captured stream data: CSV, JSON Lines, and PLY point clouds.

#include "Plot.h"

#include <quil/Quil.h>

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

/// Collects the heights (channel 0) of every profile as one row.
class HeightMapCollector : public CaptureWriter {
public:
    void Write(const Varkon::QUILApi::UdpStreaming::StreamProfile& profile) override {
        map.rows.push_back(profile.channel0);
    }
    void Write(const Varkon::QUILApi::UdpStreaming::StreamMeasurement&) override {}

    HeightMap map;
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

/// `format` is "csv", "jsonl" or "ply". Consecutive profiles of a PLY cloud are stacked along y,
/// `yStep` apart; z is channel 0 and x channel 1 (the point's index when there is no channel 1).
/// @throws std::invalid_argument for an unknown format.
std::unique_ptr<CaptureWriter> MakeCaptureWriter(const std::string& format, std::ostream& out,
                                                 double yStep);

}  // namespace QuilTool
