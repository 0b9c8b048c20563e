#include "CaptureWriters.h"

#include "Failure.h"

#include <nlohmann/json.hpp>

#include <algorithm>
#include <charconv>
#include <cmath>
#include <cstring>
#include <initializer_list>
#include <stdexcept>
#include <vector>

namespace QuilTool {
namespace {

using Varkon::QUILApi::ProfileCoordinates;
using Varkon::QUILApi::ProfilePoints;
using Varkon::QUILApi::UdpStreaming::StreamMeasurement;
using Varkon::QUILApi::UdpStreaming::StreamProfile;

uint16_t At(const std::vector<uint16_t>& channel, std::size_t i) {
    return i < channel.size() ? channel[i] : 0;
}

uint32_t DataId(const StreamProfile& profile) {
    return profile.hasChannel1 && profile.hasChannel2 ? 3 : profile.hasChannel2 ? 2 : 1;
}

// `into` sized for the profile's points and converted: x and brightness only when carried.
void ConvertInto(const ProfileCoordinates& coordinates, const StreamProfile& profile,
                 ProfilePoints& into) {
    into.x.resize(profile.hasChannel1 ? profile.pointCount : 0);
    into.z.resize(profile.pointCount);
    into.brightness.resize(profile.hasChannel2 ? profile.pointCount : 0);
    coordinates.Convert(profile, into.x.data(), into.z.data(), into.brightness.data());
}

bool Has(const std::vector<uint32_t>& ids, std::initializer_list<uint32_t> wanted) {
    return std::any_of(ids.begin(), ids.end(), [&](uint32_t id) {
        return std::find(wanted.begin(), wanted.end(), id) != wanted.end();
    });
}

// Decimal places that show a length of resolution `step` mm in full.
int Decimals(double step) {
    return step > 0 ? std::clamp(static_cast<int>(std::ceil(-std::log10(step) - 1e-9)), 0, 12) : 6;
}

// Text of numbers, appended without a stream's locale and state.
struct Line {
    std::string text;

    Line& operator<<(const char* words) {
        text += words;
        return *this;
    }
    Line& operator<<(char c) {
        text += c;
        return *this;
    }
    template <class Integer, std::enable_if_t<std::is_integral_v<Integer>, int> = 0>
    Line& operator<<(Integer value) {
        char buffer[24];
        const auto end = std::to_chars(buffer, buffer + sizeof buffer, value).ptr;
        text.append(buffer, end);
        return *this;
    }
    // A length with `decimals` places; `missing` where it is NaN.
    void Length(double value, int decimals, const char* missing) {
        if (std::isnan(value)) {
            text += missing;
            return;
        }
        char buffer[64];
        const auto end =
            std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::fixed, decimals)
                .ptr;
        text.append(buffer, end);
    }
    // A value sent as a float: seven significant digits; "NaN", "INF" and "-INF" as the sensor
    // writes them.
    void Value(double value) {
        if (std::isnan(value) || std::isinf(value)) {
            text += std::isnan(value) ? "NaN" : value > 0 ? "INF" : "-INF";
            return;
        }
        char buffer[64];
        const auto end =
            std::to_chars(buffer, buffer + sizeof buffer, value, std::chars_format::general, 7).ptr;
        text.append(buffer, end);
    }
};

// The quantities of one profile: millimetres, or the sensor's words.
struct Quantity {
    const char* name;
    const std::vector<double>* millimetres;
    const std::vector<uint16_t>* words;
    int decimals;
};

class ProfileQuantities {
public:
    ProfileQuantities(const ProfileCoordinates& coordinates, bool raw)
        : coordinates(coordinates),
          raw(raw),
          xDecimals(Decimals(coordinates.StreamXStep())),
          zDecimals(Decimals(coordinates.StreamZStep())) {}

    // x, z and brightness, each only when the profile carries it.
    std::vector<Quantity> Of(const StreamProfile& profile) {
        std::vector<Quantity> quantities;
        if (raw) {
            quantities.push_back({"channel0", nullptr, &profile.channel0, 0});
            if (profile.hasChannel1) {
                quantities.push_back({"channel1", nullptr, &profile.channel1, 0});
            }
            if (profile.hasChannel2) {
                quantities.push_back({"channel2", nullptr, &profile.channel2, 0});
            }
            return quantities;
        }
        ConvertInto(coordinates, profile, points);
        if (profile.hasChannel1) {
            quantities.push_back({"x", &points.x, nullptr, xDecimals});
        }
        quantities.push_back({"z", &points.z, nullptr, zDecimals});
        if (profile.hasChannel2) {
            quantities.push_back({"brightness", &points.brightness, nullptr, 0});
        }
        return quantities;
    }

private:
    const ProfileCoordinates& coordinates;
    bool raw;
    int xDecimals;
    int zDecimals;
    ProfilePoints points;
};

class CsvWriter : public CaptureWriter {
public:
    CsvWriter(const CaptureFormat& format, const ProfileCoordinates& coordinates,
              const CaptureOutputs& outputs)
        : outputs(outputs), coordinates(coordinates), quantities(this->coordinates, format.raw) {
        // The columns follow the data ids streamed, so that every row fills every column
        // unless profiles of several kinds share the table.
        const bool withX = Has(format.dataIds, {1, 3});
        const bool withBrightness = Has(format.dataIds, {2, 3});
        columns =
            format.raw ? std::vector<const char*>{"channel0"} : std::vector<const char*>{"x", "z"};
        if (format.raw && withX) {
            columns.push_back("channel1");
        }
        if (!format.raw && !withX) {
            columns.erase(columns.begin());
        }
        if (withBrightness) {
            columns.push_back(format.raw ? "channel2" : "brightness");
        }
    }

    void Write(const StreamProfile& profile) override {
        Line line;
        if (!profileHeader) {
            line << "dataId,blockId,timestamp,acquisitionIndex,encoder,point";
            for (const char* column : columns) {
                line << ',' << column;
            }
            line << '\n';
            profileHeader = true;
        }
        // Each column's quantity; none ("NaN" in each row) where a kind of profile without it
        // shares the table.
        const auto carried = quantities.Of(profile);
        std::vector<const Quantity*> cells;
        for (const char* column : columns) {
            const auto found = std::find_if(carried.begin(), carried.end(), [&](const Quantity& q) {
                return std::strcmp(q.name, column) == 0;
            });
            cells.push_back(found == carried.end() ? nullptr : &*found);
        }
        for (std::size_t i = 0; i < profile.pointCount; ++i) {
            line << DataId(profile) << ',' << profile.blockId << ',' << profile.timestamp << ','
                 << profile.AcquisitionIndex() << ',' << profile.EncoderCount() << ',' << i;
            for (const Quantity* cell : cells) {
                line << ',';
                if (cell == nullptr) {
                    line << "NaN";
                    continue;
                }
                if (cell->words) {
                    line << At(*cell->words, i);
                } else {
                    line.Length((*cell->millimetres)[i], cell->decimals, "NaN");
                }
            }
            line << '\n';
        }
        outputs.profiles->write(line.text.data(), static_cast<std::streamsize>(line.text.size()));
    }

    void Write(const StreamMeasurement& m) override {
        if (outputs.measurements == nullptr) {
            throw std::runtime_error(
                "the capture holds measurements as well as profiles, which one CSV table cannot "
                "hold: give --data-ids, or write JSON Lines (--format jsonl)");
        }
        Line line;
        if (!measurementHeader) {
            line << "dataId,blockId,timestamp,qualityID,encoder,measrate";
            for (std::size_t i = 0; i < m.values.size(); ++i) {
                line << ",value" << i;
            }
            line << '\n';
            measurementHeader = true;
        }
        line << "0," << m.blockId << ',' << m.timestamp << ',' << m.qualityID << ','
             << m.EncoderValue << ',';
        line.Value(m.measrate);
        for (double value : m.values) {
            line << ',';
            line.Value(value);
        }
        line << '\n';
        outputs.measurements->write(line.text.data(),
                                    static_cast<std::streamsize>(line.text.size()));
    }

private:
    CaptureOutputs outputs;
    ProfileCoordinates coordinates;
    ProfileQuantities quantities;
    std::vector<const char*> columns;
    bool profileHeader = false;
    bool measurementHeader = false;
};

class JsonLinesWriter : public CaptureWriter {
public:
    JsonLinesWriter(std::ostream& out, const CaptureFormat& format,
                    const ProfileCoordinates& coordinates)
        : out(out), coordinates(coordinates), quantities(this->coordinates, format.raw) {}

    void Write(const StreamProfile& p) override {
        Line line;
        line << "{\"kind\":\"profile\",\"dataId\":" << DataId(p) << ",\"blockId\":" << p.blockId
             << ",\"timestamp\":" << p.timestamp << ",\"acquisitionIndex\":" << p.AcquisitionIndex()
             << ",\"encoder\":" << p.EncoderCount()
             << ",\"qualityID\":" << static_cast<unsigned>(p.qualityID)
             << ",\"pointCount\":" << p.pointCount;
        for (const Quantity& quantity : quantities.Of(p)) {
            line << ",\"" << quantity.name << "\":[";
            for (std::size_t i = 0; i < p.pointCount; ++i) {
                if (i != 0) {
                    line << ',';
                }
                if (quantity.words) {
                    line << At(*quantity.words, i);
                } else {
                    line.Length((*quantity.millimetres)[i], quantity.decimals, "null");
                }
            }
            line << ']';
        }
        line << "}\n";
        out.write(line.text.data(), static_cast<std::streamsize>(line.text.size()));
    }

    void Write(const StreamMeasurement& m) override {
        out << nlohmann::json{{"kind", "measurement"},    {"dataId", 0},
                              {"blockId", m.blockId},     {"timestamp", m.timestamp},
                              {"qualityID", m.qualityID}, {"encoder", m.EncoderValue},
                              {"measrate", m.measrate},   {"flags", m.flags},
                              {"values", m.values}}
                   .dump()
            << "\n";
    }

private:
    std::ostream& out;
    ProfileCoordinates coordinates;
    ProfileQuantities quantities;
};

// The row of a profile: how many rows its block id lies beyond the previous one, when the ids
// of consecutive profiles lie `step` apart (one block per data id streamed).
uint32_t RowsAhead(bool any, uint32_t last, uint32_t blockId, uint32_t step) {
    const uint32_t ahead = (blockId - last + step - 1) / step;
    return !any || ahead == 0 || ahead > kLongestGap ? 1 : ahead;
}

void AppendLittleEndian(std::string& bytes, float value) {
    uint32_t word;
    std::memcpy(&word, &value, sizeof word);
    for (int shift = 0; shift < 32; shift += 8) {
        bytes += static_cast<char>((word >> shift) & 0xFF);
    }
}

// The points of a cloud: each profile a row `yStep` apart along y by its block id, without the
// points where the laser line gave none. They are buffered because a cloud's header, written
// first, holds their count.
class CloudWriter : public CaptureWriter {
public:
    CloudWriter(std::ostream& out, const CaptureFormat& format,
                const ProfileCoordinates& coordinates)
        : out(out), format(format), coordinates(coordinates) {}

    void Write(const StreamProfile& profile) override {
        if (!profile.hasChannel1) {
            throw UsageError("a point cloud needs x: stream data id 1 or 3 (--data-ids 1)");
        }
        row += any ? RowsAhead(any, lastBlockId, profile.blockId, format.blockIdStep) : 0;
        any = true;
        lastBlockId = profile.blockId;
        const float y = static_cast<float>(static_cast<double>(row) * format.yStep);
        ConvertInto(coordinates, profile, converted);
        for (std::size_t i = 0; i < profile.pointCount; ++i) {
            if (!std::isnan(converted.z[i])) {
                const double brightness =
                    converted.brightness.empty() ? 0 : converted.brightness[i];
                points.insert(points.end(),
                              {static_cast<float>(converted.x[i]), y,
                               static_cast<float>(converted.z[i]), static_cast<float>(brightness)});
            }
        }
    }

    void Write(const StreamMeasurement&) override {}

protected:
    static constexpr std::size_t kPerPoint = 4;  // x, y, z, brightness

    std::size_t PointCount() const { return points.size() / kPerPoint; }

    // The points as little-endian floats: the first `fields` of each (3: x, y and z).
    void WriteBinary(std::size_t fields) {
        std::string body;
        body.reserve(PointCount() * fields * sizeof(float));
        for (std::size_t i = 0; i < points.size(); i += kPerPoint) {
            for (std::size_t k = 0; k < fields; ++k) {
                AppendLittleEndian(body, points[i + k]);
            }
        }
        out.write(body.data(), static_cast<std::streamsize>(body.size()));
    }

    std::ostream& out;
    CaptureFormat format;
    ProfileCoordinates coordinates;
    std::vector<float> points;  // kPerPoint values each

private:
    bool any = false;
    uint32_t lastBlockId = 0;
    uint64_t row = 0;
    ProfilePoints converted;
};

// PLY: x, y and z, binary or text, with the units and the sensor in comments.
class PlyWriter : public CloudWriter {
public:
    using CloudWriter::CloudWriter;

    void Finish() override {
        out << "ply\nformat " << (format.ascii ? "ascii" : "binary_little_endian")
            << " 1.0\ncomment captured with quil stream\ncomment units: x, y and z in mm; profiles "
            << format.yStep
            << " mm apart along y by block id\ncomment z: " << coordinates.ZAxisName() << "\n";
        if (format.sensor) {
            const auto& sensor = *format.sensor;
            out << "comment sensor: " << sensor.vendorName << " " << sensor.sensorType
                << ", serial number " << sensor.serialNumber << ", version "
                << sensor.aggregateVersion << "\n";
        }
        out << "element vertex " << PointCount()
            << "\nproperty float x\nproperty float y\nproperty float z\nend_header\n";
        if (!format.ascii) {
            WriteBinary(3);
            return;
        }
        Line line;
        for (std::size_t i = 0; i < points.size(); i += kPerPoint) {
            for (std::size_t k = 0; k < 3; ++k) {
                line.Length(points[i + k], 4, "nan");
                line << (k == 2 ? '\n' : ' ');
            }
        }
        out.write(line.text.data(), static_cast<std::streamsize>(line.text.size()));
    }
};

// PCD, as the point-cloud library reads it: x, y and z in millimetres and the brightness as
// intensity, binary, one unorganised row seen from the origin.
class PcdWriter : public CloudWriter {
public:
    using CloudWriter::CloudWriter;

    void Finish() override {
        out << "# .PCD v0.7 - Point Cloud Data file format\n# captured with quil stream; units: x, "
               "y and z in mm; profiles "
            << format.yStep << " mm apart along y by block id; z: " << coordinates.ZAxisName()
            << "\nVERSION 0.7\nFIELDS x y z intensity\nSIZE 4 4 4 4\nTYPE F F F F\nCOUNT 1 1 1 1"
            << "\nWIDTH " << PointCount() << "\nHEIGHT 1\nVIEWPOINT 0 0 0 1 0 0 0\nPOINTS "
            << PointCount() << "\nDATA binary\n";
        WriteBinary(kPerPoint);
    }
};

}  // namespace

bool CarriesBothKinds(const std::vector<uint32_t>& ids) {
    return Has(ids, {0}) && Has(ids, {1, 2, 3});
}

void HeightMapCollector::Write(const StreamProfile& profile) {
    const uint32_t ahead = RowsAhead(any, lastBlockId, profile.blockId, blockIdStep);
    any = true;
    lastBlockId = profile.blockId;
    map.rows.resize(map.rows.size() + ahead - 1);  // the lost ones stay empty
    map.hasX = profile.hasChannel1;
    map.pointsPerProfile = std::max<std::size_t>(map.pointsPerProfile, profile.pointCount);
    auto& row = map.rows.emplace_back();
    row.received = true;
    ConvertInto(coordinates, profile, points);
    for (std::size_t i = 0; i < profile.pointCount; ++i) {
        if (!std::isnan(points.z[i])) {
            row.points.push_back(
                {profile.hasChannel1 ? points.x[i] : static_cast<double>(i), points.z[i]});
        }
    }
}

std::unique_ptr<CaptureWriter> MakeCaptureWriter(const CaptureFormat& format,
                                                 const ProfileCoordinates& coordinates,
                                                 const CaptureOutputs& outputs) {
    if (format.format == "csv") {
        return std::make_unique<CsvWriter>(format, coordinates, outputs);
    }
    if (format.format == "jsonl") {
        return std::make_unique<JsonLinesWriter>(*outputs.profiles, format, coordinates);
    }
    CaptureFormat cloud = format;
    cloud.blockIdStep = std::max(format.blockIdStep, 1u);
    if (format.format == "ply") {
        return std::make_unique<PlyWriter>(*outputs.profiles, cloud, coordinates);
    }
    if (format.format == "pcd") {
        return std::make_unique<PcdWriter>(*outputs.profiles, cloud, coordinates);
    }
    throw UsageError("unknown format \"" + format.format + "\"");
}

}  // namespace QuilTool
