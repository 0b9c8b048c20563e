#include "udpstreaming/recording/CaptureFile.h"

#include <algorithm>
#include <cstring>
#include <limits>
#include <string>

namespace Varkon::QUILApi::UdpStreaming::Recording {

namespace {

constexpr uint32_t kPcapMicroseconds = 0xA1B2C3D4;
constexpr uint32_t kPcapNanoseconds = 0xA1B23C4D;
constexpr uint32_t kSectionHeaderBlock = 0x0A0D0D0A;  // the same in either byte order
constexpr uint32_t kByteOrderMark = 0x1A2B3C4D;
constexpr uint32_t kInterfaceBlock = 1;
constexpr uint32_t kObsoletePacketBlock = 2;
constexpr uint32_t kSimplePacketBlock = 3;
constexpr uint32_t kEnhancedPacketBlock = 6;
constexpr uint16_t kOptionEnd = 0;
constexpr uint16_t kOptionTimeResolution = 9;
constexpr uint16_t kOptionTimeOffset = 14;
constexpr std::size_t kPcapHeader = 24;
constexpr std::size_t kPcapRecordHeader = 16;
constexpr std::size_t kBlockHeader = 8;  // type and length; the length is repeated at the end
constexpr std::size_t kMostPcapRecord = 262144;
constexpr std::size_t kMostBlock = 16 << 20;

uint32_t Swap32(uint32_t v) {
    return __builtin_bswap32(v);
}

uint32_t ReadNative32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// `units` counted `unitsPerSecond` times a second since `offsetSeconds`, in nanoseconds since
// 1970; false when that lies beyond an int64_t.
bool ToNanoseconds(uint64_t units, uint64_t unitsPerSecond, int64_t offsetSeconds,
                   int64_t& nanoseconds) {
    constexpr __int128 kBillion = 1'000'000'000;
    const __int128 time =
        (static_cast<__int128>(units / unitsPerSecond) + offsetSeconds) * kBillion +
        static_cast<__int128>(units % unitsPerSecond) * kBillion /
            static_cast<__int128>(unitsPerSecond);
    if (time > std::numeric_limits<int64_t>::max() || time < std::numeric_limits<int64_t>::min()) {
        return false;
    }
    nanoseconds = static_cast<int64_t>(time);
    return true;
}

}  // namespace

CaptureFile::CaptureFile(std::FILE* file) : file(file) {
    try {
        uint8_t magic[4];
        if (!ReadExactly(magic, sizeof magic, "its header")) {
            throw CaptureDamage("truncated dump file: the file is empty");
        }
        const uint32_t native = ReadNative32(magic);
        if (native == kSectionHeaderBlock) {
            pcapng = true;
            ReadBlock(true);
            ReadSectionHeader();
            // Interfaces are declared before the packets that use them; read them ahead so that
            // the caller can tell a capture of no link type it reads at once.
            while (ReadBlock()) {
                if (blockType == kSectionHeaderBlock) {
                    ReadSectionHeader();
                } else if (blockType == kInterfaceBlock) {
                    ReadInterface();
                    leadingLinkTypes.push_back(interfaces.back().linkType);
                } else {
                    blockPending = true;
                    break;
                }
            }
            return;
        }
        swapped = native == Swap32(kPcapMicroseconds) || native == Swap32(kPcapNanoseconds);
        const uint32_t kind = swapped ? Swap32(native) : native;
        if (kind != kPcapMicroseconds && kind != kPcapNanoseconds) {
            throw CaptureDamage("unknown file format");
        }
        uint8_t header[kPcapHeader - sizeof magic];
        ReadAll(header, sizeof header, "its header");
        pcapInterface.snapLength = Get32(header + 12);
        pcapInterface.linkType = Get32(header + 16) & 0xFFFF;
        pcapInterface.unitsPerSecond = kind == kPcapNanoseconds ? 1'000'000'000 : 1'000'000;
        leadingLinkTypes.push_back(pcapInterface.linkType);
    } catch (...) {
        std::fclose(file);
        throw;
    }
}

CaptureFile::~CaptureFile() {
    std::fclose(file);
}

bool CaptureFile::ReadExactly(void* into, std::size_t size, const char* what) {
    const std::size_t got = std::fread(into, 1, size, file);
    if (got == size) {
        return true;
    }
    if (got == 0 && std::feof(file)) {
        return false;
    }
    throw CaptureDamage(std::string("truncated dump file: the file ends inside ") + what);
}

void CaptureFile::ReadAll(void* into, std::size_t size, const char* what) {
    if (!ReadExactly(into, size, what)) {
        throw CaptureDamage(std::string("truncated dump file: the file ends inside ") + what);
    }
}

uint16_t CaptureFile::Get16(const uint8_t* p) const {
    uint16_t v;
    std::memcpy(&v, p, sizeof v);
    return swapped ? __builtin_bswap16(v) : v;
}

uint32_t CaptureFile::Get32(const uint8_t* p) const {
    return Get32(ReadNative32(p));
}

uint32_t CaptureFile::Get32(uint32_t fromFile) const {
    return swapped ? Swap32(fromFile) : fromFile;
}

bool CaptureFile::Next(CaptureRecord& record) {
    if (!(pcapng ? NextPcapng(record) : NextPcap(record))) {
        return false;
    }
    ++recordsRead;
    return true;
}

bool CaptureFile::NextPcap(CaptureRecord& record) {
    uint8_t header[kPcapRecordHeader];
    if (!ReadExactly(header, sizeof header, "a record header")) {
        return false;
    }
    const uint32_t captured = Get32(header + 8);
    if (captured > kMostPcapRecord) {
        throw CaptureDamage("invalid packet capture length " + std::to_string(captured) +
                            " in record " + std::to_string(recordsRead + 1) +
                            ", bigger than the maximum of " + std::to_string(kMostPcapRecord));
    }
    block.resize(captured);
    ReadAll(block.data(), captured, "a record");
    const uint64_t units =
        uint64_t{Get32(header)} * pcapInterface.unitsPerSecond + Get32(header + 4);
    if (!ToNanoseconds(units, pcapInterface.unitsPerSecond, 0, record.timeNanoseconds)) {
        throw CaptureDamage("the time stamp of record " + std::to_string(recordsRead + 1) +
                            " is out of range");
    }
    record.linkType = pcapInterface.linkType;
    record.bytes = block.data();
    record.capturedSize = captured;
    record.originalSize = Get32(header + 12);
    return true;
}

bool CaptureFile::NextPcapng(CaptureRecord& record) {
    for (;;) {
        if (blockPending) {
            blockPending = false;
        } else if (!ReadBlock()) {
            return false;
        }
        if (blockType == kSectionHeaderBlock) {
            ReadSectionHeader();
        } else if (blockType == kInterfaceBlock) {
            ReadInterface();
        } else if (TakePacketBlock(record)) {
            return true;
        }
    }
}

bool CaptureFile::ReadBlock(bool typeRead) {
    uint8_t header[kBlockHeader];
    if (typeRead) {
        std::memcpy(header, &kSectionHeaderBlock, 4);
        ReadAll(header + 4, 4, "a block header");
    } else if (!ReadExactly(header, sizeof header, "a block header")) {
        return false;
    }
    blockType = Get32(header);
    uint8_t mark[4] = {};
    if (blockType == kSectionHeaderBlock) {
        // A section sets its own byte order, which its length already follows.
        ReadAll(mark, sizeof mark, "a section header");
        const uint32_t native = ReadNative32(mark);
        if (native != kByteOrderMark && native != Swap32(kByteOrderMark)) {
            throw CaptureDamage("a section header has no valid byte-order mark");
        }
        swapped = native != kByteOrderMark;
    }
    const uint32_t length = Get32(header + 4);
    if (length < kBlockHeader + 4 || length % 4 != 0 || length > kMostBlock ||
        (blockType == kSectionHeaderBlock && length < kBlockHeader + 4 + sizeof mark)) {
        throw CaptureDamage("the block after record " + std::to_string(recordsRead) +
                            " has an invalid length of " + std::to_string(length));
    }
    const std::size_t already = blockType == kSectionHeaderBlock ? sizeof mark : 0;
    block.resize(length - kBlockHeader);
    std::memcpy(block.data(), mark, already);
    ReadAll(block.data() + already, block.size() - already, "a block");
    if (Get32(block.data() + block.size() - 4) != length) {
        throw CaptureDamage("the block after record " + std::to_string(recordsRead) +
                            " does not end with its length");
    }
    block.resize(block.size() - 4);
    return true;
}

void CaptureFile::ReadSectionHeader() {
    if (block.size() < 16) {
        throw CaptureDamage("a section header is cut short");
    }
    const uint16_t major = Get16(block.data() + 4);
    if (major != 1) {
        throw CaptureDamage("pcapng version " + std::to_string(major) + " is not supported");
    }
    interfaces.clear();
}

void CaptureFile::ReadInterface() {
    if (block.size() < 8) {
        throw CaptureDamage("an interface description is cut short");
    }
    Interface interface;
    interface.linkType = Get16(block.data());
    interface.snapLength = Get32(block.data() + 4);
    for (std::size_t at = 8; at + 4 <= block.size();) {
        const uint16_t code = Get16(block.data() + at);
        const uint16_t length = Get16(block.data() + at + 2);
        const uint8_t* value = block.data() + at + 4;
        if (code == kOptionEnd || at + 4 + length > block.size()) {
            break;
        }
        if (code == kOptionTimeResolution && length >= 1) {
            const uint8_t exponent = value[0] & 0x7F;
            const bool binary = (value[0] & 0x80) != 0;
            if (exponent > (binary ? 63 : 19)) {
                throw CaptureDamage("an interface's time resolution is out of range");
            }
            interface.unitsPerSecond = 1;
            for (uint8_t i = 0; i < exponent; ++i) {
                interface.unitsPerSecond *= binary ? 2 : 10;
            }
        } else if (code == kOptionTimeOffset && length >= 8) {
            const uint64_t first = Get32(value);
            const uint64_t second = Get32(value + 4);
            // The option is one 64-bit number in the section's byte order.
            const bool littleEndian = swapped == (__BYTE_ORDER__ == __ORDER_BIG_ENDIAN__);
            interface.offsetSeconds =
                static_cast<int64_t>(littleEndian ? first | second << 32 : second | first << 32);
        }
        at += 4 + (length + 3u) / 4 * 4;
    }
    interfaces.push_back(interface);
}

bool CaptureFile::TakePacketBlock(CaptureRecord& record) {
    std::size_t interfaceId = 0;
    std::size_t dataAt = 0;
    uint64_t units = 0;
    uint32_t captured = 0;
    uint32_t original = 0;
    switch (blockType) {
        case kEnhancedPacketBlock:
        case kObsoletePacketBlock:
            if (block.size() < 20) {
                throw CaptureDamage("packet block " + std::to_string(recordsRead + 1) +
                                    " is cut short");
            }
            interfaceId =
                blockType == kEnhancedPacketBlock ? Get32(block.data()) : Get16(block.data());
            units = uint64_t{Get32(block.data() + 4)} << 32 | Get32(block.data() + 8);
            captured = Get32(block.data() + 12);
            original = Get32(block.data() + 16);
            dataAt = 20;
            break;
        case kSimplePacketBlock:
            if (block.size() < 4) {
                throw CaptureDamage("packet block " + std::to_string(recordsRead + 1) +
                                    " is cut short");
            }
            original = Get32(block.data());
            captured = static_cast<uint32_t>(std::min<std::size_t>(original, block.size() - 4));
            if (!interfaces.empty() && interfaces[0].snapLength != 0) {
                captured = std::min(captured, interfaces[0].snapLength);
            }
            dataAt = 4;
            break;
        default:
            return false;  // statistics, name resolution, comments, ...
    }
    if (interfaceId >= interfaces.size()) {
        throw CaptureDamage("packet block " + std::to_string(recordsRead + 1) +
                            " names interface " + std::to_string(interfaceId) +
                            ", which its section does not describe");
    }
    if (captured > block.size() - dataAt) {
        throw CaptureDamage("packet block " + std::to_string(recordsRead + 1) +
                            " is shorter than its captured length " + std::to_string(captured));
    }
    const Interface& interface = interfaces[interfaceId];
    record.timeNanoseconds = 0;  // a simple packet block has no time stamp
    if (blockType != kSimplePacketBlock &&
        !ToNanoseconds(units, interface.unitsPerSecond, interface.offsetSeconds,
                       record.timeNanoseconds)) {
        throw CaptureDamage("the time stamp of record " + std::to_string(recordsRead + 1) +
                            " is out of range");
    }
    record.linkType = interface.linkType;
    record.bytes = block.data() + dataAt;
    record.capturedSize = captured;
    record.originalSize = original;
    return true;
}

}  // namespace Varkon::QUILApi::UdpStreaming::Recording
