#pragma once

// Files of captured stream data: CSV, JSON Lines, and PLY and PCD point clouds.

#include "Plot.h"

#include <quil/ProfileCoordinates.h>
#include <quil/Quil.h>

#include <algorithm>
#include <memory>
#include <optional>
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

/// Collects every profile as one row of points in millimetres; a profile lost between two
/// received ones leaves an empty row, so that gaps stay visible.
class HeightMapCollector : public CaptureWriter {
public:
    /// `blockIdStep`: how far apart the block ids of consecutive profiles lie (the number of
    /// data ids streamed: the sensor numbers every data id's block).
    explicit HeightMapCollector(const Varkon::QUILApi::ProfileCoordinates& coordinates,
                                uint32_t blockIdStep = 1)
        : coordinates(coordinates), blockIdStep(std::max(blockIdStep, 1u)) {}
    void Write(const Varkon::QUILApi::UdpStreaming::StreamProfile& profile) override;
    void Write(const Varkon::QUILApi::UdpStreaming::StreamMeasurement&) override {}

    HeightMap map;

private:
    Varkon::QUILApi::ProfileCoordinates coordinates;
    uint32_t blockIdStep;
    bool any = false;
    uint32_t lastBlockId = 0;
    Varkon::QUILApi::ProfilePoints points;
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

/// The formats a capture is written in, each also the suffix of its files.
inline const std::vector<std::string> kCaptureFormats = {"csv", "jsonl", "ply", "pcd"};

/// How a capture is written.
struct CaptureFormat {
    std::string format = "csv";  // one of kCaptureFormats
    /// CSV and JSON Lines: the channels as the sensor's 16-bit words instead of millimetres.
    bool raw = false;
    bool ascii = false;  // PLY: text instead of binary little-endian
    double yStep = 1.0;  // PLY: millimetres between consecutive profiles along y
    /// How far apart the block ids of consecutive profiles lie (see HeightMapCollector).
    uint32_t blockIdStep = 1;
    /// The data ids streamed: they choose a CSV table's columns.
    std::vector<uint32_t> dataIds{1};
    /// The sensor's identity, for a PLY file's header.
    std::optional<Varkon::QUILApi::SensorMetaData> sensor;
};

/// Where a capture goes. CSV holds one table per file: profiles go to `profiles`, measurements
/// to `measurements` (the same stream when only one kind is captured). JSON Lines and the clouds
/// use `profiles` only.
struct CaptureOutputs {
    std::ostream* profiles = nullptr;
    std::ostream* measurements = nullptr;
};

/// Whether `ids` hold a profile data id (1 to 3) and the measurement data id (0) both.
bool CarriesBothKinds(const std::vector<uint32_t>& ids);

/// A writer of `format.format`. CSV and JSON Lines hold x, z and brightness in millimetres (z
/// "NaN" in CSV and null in JSON where the laser line gave no point), or the channels as sent
/// with `raw`; both name each row's data id, acquisition index and encoder count. A PLY cloud
/// holds x, y and z in millimetres: profiles are `yStep` apart along y by their block ids, so
/// that lost ones leave a gap; points without a laser line are left out. A PCD cloud holds the
/// same points, binary, with the brightness as their intensity (0 when it is not streamed). A
/// profile without channel 1 cannot be placed in a cloud.
/// @throws UsageError for an unknown format.
std::unique_ptr<CaptureWriter> MakeCaptureWriter(
    const CaptureFormat& format, const Varkon::QUILApi::ProfileCoordinates& coordinates,
    const CaptureOutputs& outputs);
/// The same with one output for everything.
inline std::unique_ptr<CaptureWriter> MakeCaptureWriter(
    const CaptureFormat& format, const Varkon::QUILApi::ProfileCoordinates& coordinates,
    std::ostream& out) {
    return MakeCaptureWriter(format, coordinates, CaptureOutputs{&out, &out});
}

}  // namespace QuilTool
