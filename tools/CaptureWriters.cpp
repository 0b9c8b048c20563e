#include "CaptureWriters.h"

#include "Failure.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace QuilTool {
namespace {

using Varkon::QUILApi::UdpStreaming::StreamMeasurement;
using Varkon::QUILApi::UdpStreaming::StreamProfile;

uint16_t At(const std::vector<uint16_t>& channel, std::size_t i) {
    return i < channel.size() ? channel[i] : 0;
}

class CsvWriter : public CaptureWriter {
public:
    explicit CsvWriter(std::ostream& out) : out(out) {}

    void Write(const StreamProfile& profile) override {
        if (!profileHeader) {
            out << "kind,blockId,timestamp,point,channel0,channel1,channel2\n";
            profileHeader = true;
        }
        for (std::size_t i = 0; i < profile.pointCount; ++i) {
            out << "profile," << profile.blockId << "," << profile.timestamp << "," << i << ","
                << At(profile.channel0, i) << ",";
            if (profile.hasChannel1) {
                out << At(profile.channel1, i);
            }
            out << ",";
            if (profile.hasChannel2) {
                out << At(profile.channel2, i);
            }
            out << "\n";
        }
    }

    void Write(const StreamMeasurement& m) override {
        if (!measurementHeader) {
            out << "kind,blockId,timestamp,qualityID,encoder,measrate,value0,value1,value2,value3,"
                   "value4,value5,value6\n";
            measurementHeader = true;
        }
        out << "measurement," << m.blockId << "," << m.timestamp << "," << m.qualityID << ","
            << m.EncoderValue << "," << m.measrate;
        for (double value : m.values) {
            out << "," << value;
        }
        out << "\n";
    }

private:
    std::ostream& out;
    bool profileHeader = false;
    bool measurementHeader = false;
};

class JsonLinesWriter : public CaptureWriter {
public:
    explicit JsonLinesWriter(std::ostream& out) : out(out) {}

    void Write(const StreamProfile& p) override {
        nlohmann::json line = {{"kind", "profile"},          {"blockId", p.blockId},
                               {"timestamp", p.timestamp},   {"qualityID", p.qualityID},
                               {"pointCount", p.pointCount}, {"channel0", p.channel0}};
        if (p.hasChannel1) {
            line["channel1"] = p.channel1;
        }
        if (p.hasChannel2) {
            line["channel2"] = p.channel2;
        }
        out << line.dump() << "\n";
    }

    void Write(const StreamMeasurement& m) override {
        out << nlohmann::json{{"kind", "measurement"},     {"blockId", m.blockId},
                              {"timestamp", m.timestamp},  {"qualityID", m.qualityID},
                              {"encoder", m.EncoderValue}, {"measrate", m.measrate},
                              {"flags", m.flags},          {"values", m.values}}
                   .dump()
            << "\n";
    }

private:
    std::ostream& out;
};

// The row of a profile: how many rows its block id lies beyond the previous one, when the ids
// of consecutive profiles lie `step` apart (one block per data id streamed).
uint32_t RowsAhead(bool any, uint32_t last, uint32_t blockId, uint32_t step) {
    const uint32_t ahead = (blockId - last + step - 1) / step;
    return !any || ahead == 0 || ahead > kLongestGap ? 1 : ahead;
}

// Points are buffered because the header, written first, holds their count.
class PlyWriter : public CaptureWriter {
public:
    PlyWriter(std::ostream& out, const ProfileScale& scale, double yStep, uint32_t blockIdStep)
        : out(out), scale(scale), yStep(yStep), blockIdStep(blockIdStep) {}

    void Write(const StreamProfile& profile) override {
        if (!profile.hasChannel1) {
            throw UsageError("a PLY cloud needs x: stream data id 1 or 3 (--data-ids 1)");
        }
        row += any ? RowsAhead(any, lastBlockId, profile.blockId, blockIdStep) : 0;
        any = true;
        lastBlockId = profile.blockId;
        const double y = static_cast<double>(row) * yStep;
        for (std::size_t i = 0; i < profile.pointCount; ++i) {
            const uint16_t z = At(profile.channel0, i);
            if (z == 0) {
                continue;
            }
            points << scale.X(At(profile.channel1, i)) << " " << y << " " << scale.Z(z) << "\n";
            ++pointCount;
        }
    }

    void Write(const StreamMeasurement&) override {}

    void Finish() override {
        out << "ply\nformat ascii 1.0\ncomment captured with quil stream\ncomment units: x, y "
               "and z in "
            << scale.xUnit << "; profiles " << yStep << " " << scale.xUnit
            << " apart along y by block id\nelement vertex " << pointCount
            << "\nproperty float x\nproperty float y\nproperty float z\nend_header\n"
            << points.str();
    }

private:
    std::ostream& out;
    ProfileScale scale;
    double yStep;
    uint32_t blockIdStep;
    bool any = false;
    uint32_t lastBlockId = 0;
    uint64_t row = 0;
    std::size_t pointCount = 0;
    std::ostringstream points;
};

}  // namespace

void HeightMapCollector::Write(const StreamProfile& profile) {
    const uint32_t ahead = RowsAhead(any, lastBlockId, profile.blockId, blockIdStep);
    any = true;
    lastBlockId = profile.blockId;
    map.rows.resize(map.rows.size() + ahead - 1);  // the lost ones stay empty
    map.hasX = profile.hasChannel1;
    map.pointsPerProfile = std::max<std::size_t>(map.pointsPerProfile, profile.pointCount);
    auto& row = map.rows.emplace_back();
    row.received = true;
    for (std::size_t i = 0; i < profile.pointCount; ++i) {
        const uint16_t z = At(profile.channel0, i);
        if (z != 0) {
            row.points.push_back(
                {profile.hasChannel1 ? scale.X(At(profile.channel1, i)) : static_cast<double>(i),
                 scale.Z(z)});
        }
    }
}

std::unique_ptr<CaptureWriter> MakeCaptureWriter(const std::string& format, std::ostream& out,
                                                 const ProfileScale& scale, double yStep,
                                                 uint32_t blockIdStep) {
    if (format == "csv") {
        return std::make_unique<CsvWriter>(out);
    }
    if (format == "jsonl") {
        return std::make_unique<JsonLinesWriter>(out);
    }
    if (format == "ply") {
        return std::make_unique<PlyWriter>(out, scale, yStep, std::max(blockIdStep, 1u));
    }
    throw UsageError("unknown format \"" + format + "\" (csv, jsonl or ply)");
}

}  // namespace QuilTool
