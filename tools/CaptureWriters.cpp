#include "CaptureWriters.h"

#include <nlohmann/json.hpp>

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

// Points are buffered because the header, written first, holds their count.
class PlyWriter : public CaptureWriter {
public:
    PlyWriter(std::ostream& out, double yStep) : out(out), yStep(yStep) {}

    void Write(const StreamProfile& profile) override {
        const double y = static_cast<double>(profiles++) * yStep;
        for (std::size_t i = 0; i < profile.pointCount; ++i) {
            const std::size_t x = profile.hasChannel1 ? At(profile.channel1, i) : i;
            points << x << " " << y << " " << At(profile.channel0, i) << "\n";
            ++pointCount;
        }
    }

    void Write(const StreamMeasurement&) override {}

    void Finish() override {
        out << "ply\nformat ascii 1.0\ncomment captured with quil stream\nelement vertex "
            << pointCount << "\nproperty float x\nproperty float y\nproperty float z\nend_header\n"
            << points.str();
    }

private:
    std::ostream& out;
    double yStep;
    std::size_t profiles = 0;
    std::size_t pointCount = 0;
    std::ostringstream points;
};

}  // namespace

std::unique_ptr<CaptureWriter> MakeCaptureWriter(const std::string& format, std::ostream& out,
                                                 double yStep) {
    if (format == "csv") {
        return std::make_unique<CsvWriter>(out);
    }
    if (format == "jsonl") {
        return std::make_unique<JsonLinesWriter>(out);
    }
    if (format == "ply") {
        return std::make_unique<PlyWriter>(out, yStep);
    }
    throw std::invalid_argument("unknown format \"" + format + "\" (csv, jsonl or ply)");
}

}  // namespace QuilTool
