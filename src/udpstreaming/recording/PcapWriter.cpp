#include "udpstreaming/recording/PcapWriter.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <stdexcept>

#include <fcntl.h>
#include <poll.h>
#include <sys/uio.h>
#include <unistd.h>

#include <pcap/pcap.h>

#include "udpstreaming/recording/Ipv4Udp.h"

namespace Varkon::QUILApi::UdpStreaming::Recording {

namespace {

constexpr int kSnapshotLength = 65535;

pcap_t* AsCapture(void* p) {
    return static_cast<pcap_t*>(p);
}

pcap_dumper_t* AsDumper(void* p) {
    return static_cast<pcap_dumper_t*>(p);
}

}  // namespace

PcapWriter::PcapWriter(const std::string& path, uint16_t receiverPort)
    : path(path), receiverPort(receiverPort) {
    capture =
        pcap_open_dead_with_tstamp_precision(DLT_RAW, kSnapshotLength, PCAP_TSTAMP_PRECISION_MICRO);
    if (capture == nullptr) {
        throw std::runtime_error("Could not record to " + path + ": out of memory");
    }
    // Without blocking: opening a pipe that nobody reads fails instead of waiting for a reader.
    const int fd =
        ::open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_NONBLOCK | O_CLOEXEC, 0666);
    FILE* file = fd < 0 ? nullptr : ::fdopen(fd, "wb");
    if (file == nullptr) {
        const int openError = errno;
        const std::string reason =
            openError == ENXIO ? "it is a pipe that nobody reads" : std::strerror(openError);
        if (fd >= 0) {
            ::close(fd);
        }
        pcap_close(AsCapture(capture));
        throw std::runtime_error("Could not record to " + path + ": " + reason);
    }
    dumper = pcap_dump_fopen(AsCapture(capture), file);
    if (dumper == nullptr) {
        const std::string reason = pcap_geterr(AsCapture(capture));
        std::fclose(file);
        pcap_close(AsCapture(capture));
        throw std::runtime_error("Could not record to " + path + ": " + reason);
    }
}

PcapWriter::~PcapWriter() {
    Close();
    if (capture != nullptr) {
        pcap_close(AsCapture(capture));
    }
}

bool PcapWriter::Write(DatagramRing::Slot* const* datagrams, std::size_t count) {
    if (!error.empty() || dumper == nullptr) {
        return false;
    }
    if (abandoned) {
        Fail(ECANCELED);
        return false;
    }
    FILE* file = pcap_dump_file(AsDumper(dumper));
    if (!headerWritten) {
        // The header goes first, and only now, so that a full disk shows as a failed write.
        errno = 0;
        if (pcap_dump_flush(AsDumper(dumper)) != 0) {
            Fail(errno);
            return false;
        }
        headerWritten = true;
    }
    iovec parts[kMostPerBatch];
    count = std::min(count, kMostPerBatch);
    for (std::size_t i = 0; i < count; ++i) {
        DatagramRing::Slot& datagram = *datagrams[i];
        const auto headers =
            Ipv4UdpHeaders(datagram.senderAddress, datagram.senderPort, datagram.receiverAddress,
                           receiverPort, datagram.wireSize, identification++);
        const uint32_t recordHeader[4] = {
            static_cast<uint32_t>(datagram.arrivalMicroseconds / 1000000),
            static_cast<uint32_t>(datagram.arrivalMicroseconds % 1000000),
            static_cast<uint32_t>(headers.size() + datagram.size),
            static_cast<uint32_t>(headers.size() + datagram.wireSize)};
        static_assert(DatagramRing::kHeadroom == sizeof recordHeader + headers.size());
        uint8_t* record = datagram.record.data();
        std::memcpy(record, recordHeader, sizeof recordHeader);
        std::memcpy(record + sizeof recordHeader, headers.data(), headers.size());
        parts[i] = iovec{record, DatagramRing::kHeadroom + datagram.size};
    }
    const int fd = fileno(file);
    iovec* next = parts;
    std::size_t left = count;
    while (left != 0) {
        const ssize_t written = ::writev(fd, next, static_cast<int>(left));
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            if ((errno == EAGAIN || errno == EWOULDBLOCK) && WaitUntilWritable(fd)) {
                continue;
            }
            Fail(errno);
            return false;
        }
        // A short write: go on after what was written.
        auto done = static_cast<std::size_t>(written);
        while (left != 0 && done >= next->iov_len) {
            done -= next->iov_len;
            ++next;
            --left;
        }
        if (left != 0) {
            next->iov_base = static_cast<uint8_t*>(next->iov_base) + done;
            next->iov_len -= done;
        }
    }
    return true;
}

bool PcapWriter::Close() {
    if (dumper == nullptr) {
        return error.empty();
    }
    if (error.empty() && !headerWritten) {  // a capture without a record still has its header
        errno = 0;
        if (pcap_dump_flush(AsDumper(dumper)) != 0) {
            Fail(errno);
        }
    }
    pcap_dump_close(AsDumper(dumper));
    dumper = nullptr;
    return error.empty();
}

bool PcapWriter::WaitUntilWritable(int fd) {
    constexpr int kAbandonPollMilliseconds = 100;
    while (!abandoned) {
        pollfd writable{fd, POLLOUT, 0};
        const int ready = ::poll(&writable, 1, kAbandonPollMilliseconds);
        if (ready > 0 || (ready < 0 && errno != EINTR)) {
            return true;  // the write tells what became of it
        }
    }
    errno = EAGAIN;
    return false;
}

void PcapWriter::Fail(int errorNumber) {
    if (error.empty()) {
        error = "Could not write " + path + ": " +
                (errorNumber != 0 ? std::strerror(errorNumber) : "write failed");
    }
}

}  // namespace Varkon::QUILApi::UdpStreaming::Recording
