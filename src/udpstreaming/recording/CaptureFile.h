#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

namespace Varkon::QUILApi::UdpStreaming::Recording {

// One record of a capture file: a frame as the capture holds it.
struct CaptureRecord {
    int64_t timeNanoseconds = 0;  // since 1970
    uint32_t linkType = 0;        // the link type of the frame's interface (LINKTYPE_ number)
    const uint8_t* bytes = nullptr;
    std::size_t capturedSize = 0;
    std::size_t originalSize = 0;  // as it was on the link: more when the snap length cut it

    bool CutByCapture() const { return capturedSize < originalSize; }
};

// What makes a capture file unreadable from some record on; the text is the reason alone.
class CaptureDamage : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
};

// The records of a pcap file (microsecond or nanosecond stamps, either byte order) or a pcapng
// file (any number of sections and interfaces, each interface with its own link type, time
// resolution and offset).
class CaptureFile {
public:
    // Takes `file` and closes it, also when the constructor throws.
    // @throws CaptureDamage when the file is no capture or ends inside its header.
    explicit CaptureFile(std::FILE* file);
    ~CaptureFile();
    CaptureFile(const CaptureFile&) = delete;
    CaptureFile& operator=(const CaptureFile&) = delete;

    // The link types of the interfaces declared before the first record; one for a pcap file.
    const std::vector<uint32_t>& LeadingLinkTypes() const { return leadingLinkTypes; }

    // The next record, valid until the next call; false at the end of the file.
    // @throws CaptureDamage when the file ends inside a record or a record is inconsistent.
    bool Next(CaptureRecord& record);

private:
    struct Interface {
        uint32_t linkType = 0;
        uint32_t snapLength = 0;
        uint64_t unitsPerSecond = 1'000'000;
        int64_t offsetSeconds = 0;
    };

    // False when the file ends before the first byte; "what" names what it ended inside.
    bool ReadExactly(void* into, std::size_t size, const char* what);
    void ReadAll(void* into, std::size_t size, const char* what);
    bool NextPcap(CaptureRecord& record);
    bool NextPcapng(CaptureRecord& record);
    // Reads the next pcapng block into `blockType` and `block` (its body); false at the end of
    // the file. `typeRead`: the constructor has read the first section header's type.
    bool ReadBlock(bool typeRead = false);
    void ReadSectionHeader();
    void ReadInterface();
    // The record in the packet block in `block`; false when it is of no kind that holds one.
    bool TakePacketBlock(CaptureRecord& record);

    uint16_t Get16(const uint8_t* p) const;
    uint32_t Get32(const uint8_t* p) const;
    uint32_t Get32(uint32_t fromFile) const;

    std::FILE* file;
    bool pcapng = false;
    bool swapped = false;  // the file's byte order is not this machine's
    Interface pcapInterface;
    std::vector<Interface> interfaces;  // of the current pcapng section
    std::vector<uint32_t> leadingLinkTypes;
    uint32_t blockType = 0;
    std::vector<uint8_t> block;  // the body of the current pcapng block, or a pcap record's frame
    bool blockPending = false;   // `block` holds a packet block read ahead while opening
    uint64_t recordsRead = 0;
};

}  // namespace Varkon::QUILApi::UdpStreaming::Recording
