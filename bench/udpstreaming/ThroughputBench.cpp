// The receiver's own ceiling: the highest datagram rate that the stream takes without losing a
// block, against the highest rate that a bare recvfrom loop takes, both fed by the same sender on
// loopback; the receiving thread's and the whole process's CPU time per datagram at one fixed
// offered rate; the aggregate zero-loss rate of 1, 2 and 4 streams in one process, each fed by a
// sender of its own; and the memory that a full profile queue holds. The sender sends pre-built
// datagrams in sendmmsg batches from the other core, so that the receiver, not the sender, is the
// limit. Every figure is measured kRepeats times and reported as the median with the spread; a
// target is judged against the median. Every run is bounded: a search takes well under a minute.
//
// Traffic: cycles of one fragmented profile (2000 points, data id 3: 12024 bytes in 6 datagrams)
// and one measurement (1 datagram), with consecutive block ids.
#include <arpa/inet.h>
#include <malloc.h>
#include <netinet/in.h>
#include <pthread.h>
#include <sched.h>
#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <memory>
#include <numeric>
#include <string>
#include <thread>
#include <vector>

#include "udpstreaming/QuilStreamApi.h"
#include "udpstreaming/StreamPackets.h"
#include "udpstreaming/transport/UdpTransport.h"

namespace {

using namespace Varkon::QUILApi;
using Clock = std::chrono::steady_clock;
using Testing::Bytes;
using UdpStreaming::StreamStatistics;

constexpr uint16_t kStreamPort = 21900;
constexpr uint16_t kBarePort = 21901;
constexpr int kReceiveBuffer = 4 << 20;        // requested; the system caps it alike for both
constexpr std::size_t kSearchCycles = 10000;   // 20,000 blocks per search trial
constexpr std::size_t kConfirmCycles = 50000;  // 100,000 blocks for the reported rate
constexpr std::size_t kPoints = 2000;
constexpr int kRepeats = 5;

struct Cycle {
    std::vector<Bytes> datagrams;   // block ids patched before sending
    std::vector<uint32_t> offsets;  // per datagram: 0 profile, 1 measurement
};

Cycle MakeCycle() {
    Cycle cycle;
    for (const Bytes& fragment : Testing::Fragments(0, Testing::SyntheticProfile(3, kPoints))) {
        cycle.datagrams.push_back(fragment);
        cycle.offsets.push_back(0);
    }
    cycle.datagrams.push_back(
        Testing::WholeBlock(0, Testing::MeasurementPayload(Testing::MeasurementFields{})));
    cycle.offsets.push_back(1);
    return cycle;
}

// Runs the calling thread on `cpu` only (when the machine has it).
void PinTo(int cpu) {
    if (cpu >= static_cast<int>(std::thread::hardware_concurrency())) {
        return;
    }
    cpu_set_t set;
    CPU_ZERO(&set);
    CPU_SET(cpu, &set);
    pthread_setaffinity_np(pthread_self(), sizeof set, &set);
}

// CPU time of the calling thread, or of the process, in seconds.
double CpuSeconds(clockid_t clock) {
    timespec now{};
    clock_gettime(clock, &now);
    return now.tv_sec + now.tv_nsec / 1e9;
}

constexpr int kReceiverCpu = 0;
constexpr int kSenderCpu = 1;
constexpr int kAnyCpu = -1;
constexpr std::size_t kCyclesPerBatch = 4;  // 28 datagrams per sendmmsg

struct Sent {
    double rate;         // datagrams per second achieved
    double cpuSeconds;   // the sending thread's CPU time, its pacing's waits included
    double sendSeconds;  // the time it spent sending, without them
    double seconds;      // from its first datagram to its last
};

// Sends `cycles` cycles at `rate` datagrams per second from `cpu` (kAnyCpu: wherever the system
// runs it), in batches of pre-built datagrams whose block ids are patched in place.
Sent SendPaced(uint16_t port, double rate, std::size_t cycles, int cpu = kSenderCpu) {
    static const Cycle pattern = MakeCycle();
    std::vector<Bytes> batch;
    std::vector<uint32_t> offsets;
    for (std::size_t c = 0; c < kCyclesPerBatch; ++c) {
        batch.insert(batch.end(), pattern.datagrams.begin(), pattern.datagrams.end());
        offsets.insert(offsets.end(), pattern.offsets.begin(), pattern.offsets.end());
    }
    std::vector<iovec> vectors(batch.size());
    std::vector<mmsghdr> headers(batch.size());
    for (std::size_t i = 0; i < batch.size(); ++i) {
        vectors[i] = iovec{batch[i].data(), batch[i].size()};
        headers[i] = mmsghdr{};
        headers[i].msg_hdr.msg_iov = &vectors[i];
        headers[i].msg_hdr.msg_iovlen = 1;
    }
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    sockaddr_in target{};
    target.sin_family = AF_INET;
    target.sin_port = htons(port);
    target.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ::connect(fd, reinterpret_cast<sockaddr*>(&target), sizeof target);

    Sent result{};
    std::thread sender([&] {
        if (cpu != kAnyCpu) {
            PinTo(cpu);
        }
        const double cpuStart = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        const std::size_t perCycle = pattern.datagrams.size();
        const auto start = Clock::now();
        std::size_t sent = 0;
        for (std::size_t c = 0; c < cycles; c += kCyclesPerBatch) {
            const std::size_t count = std::min(kCyclesPerBatch, cycles - c) * perCycle;
            for (std::size_t i = 0; i < count; ++i) {
                Testing::PutLittleEndian(
                    batch[i], 0, static_cast<uint32_t>(2 * (c + i / perCycle) + 1 + offsets[i]));
            }
            const auto due = start + std::chrono::duration_cast<Clock::duration>(
                                         std::chrono::duration<double>(sent / rate));
            while (Clock::now() < due) {
                std::this_thread::yield();
            }
            const auto sending = Clock::now();
            for (std::size_t done = 0; done < count;) {
                const int n =
                    ::sendmmsg(fd, headers.data() + done, static_cast<unsigned>(count - done), 0);
                if (n > 0) {
                    done += static_cast<std::size_t>(n);
                }
            }
            result.sendSeconds += std::chrono::duration<double>(Clock::now() - sending).count();
            sent += count;
        }
        result.seconds = std::chrono::duration<double>(Clock::now() - start).count();
        result.rate = sent / result.seconds;
        result.cpuSeconds = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - cpuStart;
    });
    sender.join();
    ::close(fd);
    return result;
}

struct Trial {
    bool lossless;
    double achievedRate;
    double cpuPerDatagram;         // seconds of the receiving thread's CPU time
    double processCpuPerDatagram;  // seconds of the whole process's, less the senders'
    double senderCores = 0;        // cores kept busy sending, on average over the trial
    double receiverCores = 0;      // cores kept busy receiving (the process less the senders)
};

// One recvfrom per datagram, counting datagrams and bytes only.
Trial BareLoopTrial(double rate, std::size_t cycles) {
    const int fd = ::socket(AF_INET, SOCK_DGRAM, 0);
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &kReceiveBuffer, sizeof kReceiveBuffer);
    timeval timeout{0, 300000};
    ::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &timeout, sizeof timeout);
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(kBarePort);
    address.sin_addr.s_addr = htonl(INADDR_ANY);
    if (::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
        std::perror("bind");
        std::exit(1);
    }
    const std::size_t expected = cycles * MakeCycle().datagrams.size();
    std::atomic<bool> senderDone{false};
    std::size_t datagrams = 0;
    std::size_t bytes = 0;
    double cpu = 0;
    std::thread receiver([&] {
        PinTo(kReceiverCpu);
        const double cpuStart = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
        uint8_t buffer[2048];
        while (datagrams < expected) {
            const ssize_t n = ::recvfrom(fd, buffer, sizeof buffer, 0, nullptr, nullptr);
            if (n < 0) {
                if (senderDone) {
                    break;  // nothing for 300 ms after the last datagram was sent
                }
                continue;
            }
            ++datagrams;
            bytes += static_cast<std::size_t>(n);
        }
        cpu = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - cpuStart;
    });
    const double achieved = SendPaced(kBarePort, rate, cycles).rate;
    senderDone = true;
    receiver.join();
    ::close(fd);
    const double perDatagram = datagrams ? cpu / datagrams : 0;
    return {datagrams == expected, achieved, perDatagram, perDatagram};
}

// With a recorder writing every datagram to a capture file, a trial is lossless only if the
// recording, too, is complete.
const std::string recordingPath = "/tmp/quil-throughput-bench.pcap";
bool recordingOn = false;
// How the application drains: waiting for any entry, then taking all at once (false), or as an
// application from outside would, with a timed pop per profile (true).
bool timedPops = false;

// One stream on its own port, drained by an application thread of its own.
struct Receiver {
    std::shared_ptr<UdpStreaming::QuilStreamApi> stream;
    std::thread application;
    std::size_t profiles = 0, measurements = 0, errors = 0;
    double applicationCpu = 0;

    Receiver(uint16_t port, std::size_t cycles, int cpu, const std::atomic<bool>& senderDone) {
        auto transport = std::make_shared<UdpStreaming::Transport::UdpTransport>("127.0.0.1", port);
        stream = std::make_shared<UdpStreaming::QuilStreamApi>(transport);
        stream->SetReceiveBufferSize(kReceiveBuffer);
        if (recordingOn) {
            stream->StartRecording(recordingPath, {});
        }
        stream->Start();
        application = std::thread([this, cycles, cpu, &senderDone] {
            if (cpu != kAnyCpu) {
                PinTo(cpu);
            }
            const double cpuStart = CpuSeconds(CLOCK_THREAD_CPUTIME_ID);
            Drain(cycles, senderDone);
            applicationCpu = CpuSeconds(CLOCK_THREAD_CPUTIME_ID) - cpuStart;
        });
    }

    void Drain(std::size_t cycles, const std::atomic<bool>& senderDone) {
        auto lastProgress = Clock::now();
        while (profiles < cycles || measurements < cycles) {
            bool progress = false;
            if (timedPops) {
                // One at a time, so that the measurements are taken as they come, too.
                if (stream->PopProfileFor(std::chrono::milliseconds(100))) {
                    ++profiles;
                    progress = true;
                }
            } else if (stream->WaitForData(std::chrono::milliseconds(100))) {
                while (stream->PopProfileFor(std::chrono::milliseconds(0))) {
                    ++profiles;
                    progress = true;
                }
            }
            while (stream->PopMeasurementFor(std::chrono::milliseconds(0))) {
                ++measurements;
                progress = true;
            }
            while (stream->PopErrorFor(std::chrono::milliseconds(0))) {
                ++errors;
            }
            if (progress) {
                lastProgress = Clock::now();
            } else if (senderDone &&
                       Clock::now() - lastProgress > std::chrono::milliseconds(1500)) {
                break;  // the fragment time-out has passed: nothing more will come
            }
        }
    }

    // Whether everything arrived; adds the datagrams received to `received`.
    bool Finish(std::size_t cycles, double& received) {
        application.join();
        const StreamStatistics statistics = stream->GetStatistics();
        errors += statistics.errorsDropped;
        if (recordingOn) {
            const auto recorded = stream->StopRecording();
            errors += recorded.datagramsDropped + (recorded.error.empty() ? 0 : 1);
        }
        stream->Close();
        received += static_cast<double>(statistics.datagramsReceived);
        return profiles == cycles && measurements == cycles && errors == 0;
    }
};

// `streams` streams on ports of their own, each fed by a sender of its own at `rate / streams`.
// One stream runs with its worker and application on the receiver's core and its sender on the
// other; several run wherever the system puts them. The worker's CPU time is the process's, less
// the applications' and the senders' (with a recorder, its writer's included).
Trial StreamsTrial(int streams, double rate, std::size_t cycles) {
    const int receiverCpu = streams == 1 ? kReceiverCpu : kAnyCpu;
    const int senderCpu = streams == 1 ? kSenderCpu : kAnyCpu;
    if (receiverCpu != kAnyCpu) {
        PinTo(receiverCpu);  // the stream's worker inherits this thread's affinity
    }
    std::atomic<bool> senderDone{false};
    const double processStart = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID);
    std::vector<std::unique_ptr<Receiver>> receivers;
    for (int i = 0; i < streams; ++i) {
        receivers.push_back(std::make_unique<Receiver>(static_cast<uint16_t>(kStreamPort + 2 * i),
                                                       cycles, receiverCpu, senderDone));
    }
    std::vector<Sent> sent(static_cast<std::size_t>(streams));
    std::vector<std::thread> senders;
    for (int i = 0; i < streams; ++i) {
        senders.emplace_back([&, i] {
            sent[static_cast<std::size_t>(i)] = SendPaced(
                static_cast<uint16_t>(kStreamPort + 2 * i), rate / streams, cycles, senderCpu);
        });
    }
    for (auto& sender : senders) {
        sender.join();
    }
    senderDone = true;
    bool lossless = true;
    double received = 0, applicationCpu = 0;
    for (auto& receiver : receivers) {
        lossless = receiver->Finish(cycles, received) && lossless;
        applicationCpu += receiver->applicationCpu;
    }
    double achieved = 0, sendingCpu = 0, sendingBusy = 0, seconds = 0;
    for (const Sent& s : sent) {
        achieved += s.rate;
        sendingCpu += s.cpuSeconds;
        sendingBusy += s.sendSeconds;
        seconds = std::max(seconds, s.seconds);
    }
    const double processCpu = CpuSeconds(CLOCK_PROCESS_CPUTIME_ID) - processStart - sendingCpu;
    const double workerCpu = processCpu - applicationCpu;
    return {lossless,
            achieved,
            received > 0 ? workerCpu / received : 0,
            received > 0 ? processCpu / received : 0,
            sendingBusy / seconds,
            processCpu / seconds};
}

Trial StreamTrial(double rate, std::size_t cycles) {
    return StreamsTrial(1, rate, cycles);
}

// Set when a search of HighestLosslessRate ended because the senders could not send faster,
// not because the receivers lost data: its rate is then the senders' limit.
bool sendersWereTheLimit = false;
// The trial that confirmed the rate HighestLosslessRate returned last.
Trial lastConfirmed{};

// Doubles the rate until a trial loses data (or the sender cannot go faster), narrows the
// boundary, then confirms over 100,000 blocks, stepping down until a confirmation holds.
double SearchLosslessRate(const char* name,
                          const std::function<Trial(double, std::size_t)>& trial) {
    double good = 0, bad = 0;
    sendersWereTheLimit = false;
    for (double rate = 25000;; rate *= 2) {
        const Trial t = trial(rate, kSearchCycles);
        std::printf("  %-9s %9.0f datagrams/s requested, %9.0f sent: %s\n", name, rate,
                    t.achievedRate, t.lossless ? "no loss" : "loss");
        if (!t.lossless) {
            bad = rate;
            break;
        }
        good = t.achievedRate;
        if (t.achievedRate < 0.95 * rate) {
            sendersWereTheLimit = true;
            break;
        }
    }
    for (int step = 0; bad > 0 && step < 4; ++step) {
        const double rate = (good + bad) / 2;
        const Trial t = trial(rate, kSearchCycles);
        std::printf("  %-9s %9.0f datagrams/s requested, %9.0f sent: %s\n", name, rate,
                    t.achievedRate, t.lossless ? "no loss" : "loss");
        (t.lossless ? good : bad) = t.lossless ? t.achievedRate : rate;
    }
    for (int attempt = 0; attempt < 4 && good > 0; ++attempt, good *= 0.9) {
        const Trial t = trial(good, kConfirmCycles);
        std::printf("  %-9s %9.0f datagrams/s over %zu blocks: %s\n", name, t.achievedRate,
                    2 * kConfirmCycles, t.lossless ? "no loss" : "loss");
        if (t.lossless) {
            lastConfirmed = t;
            return t.achievedRate;
        }
    }
    return 0;
}

// A search that confirms no rate at all, not even the lowest it tried, met a disturbed machine
// (a ratio against it would read 0 or infinity): it is searched again, at most three times.
double HighestLosslessRate(const char* name,
                           const std::function<Trial(double, std::size_t)>& trial) {
    double rate = 0;
    for (int search = 0; search < 3 && rate == 0; ++search) {
        if (search > 0) {
            std::printf("  %-9s confirmed no rate: searching again\n", name);
        }
        rate = SearchLosslessRate(name, trial);
    }
    return rate;
}

Trial RecordingStreamTrial(double rate, std::size_t cycles) {
    recordingOn = true;
    const Trial trial = StreamTrial(rate, cycles);
    recordingOn = false;
    return trial;
}

// `quil_udpstreaming_throughput_bench --recording`: the stream's zero-loss rate with and
// without a recorder, and nothing else.
int CompareRecording() {
    std::printf("highest zero-loss rate of the stream, without and with a recorder:\n");
    const double plain = HighestLosslessRate("stream", &StreamTrial);
    const double recording = HighestLosslessRate("recording", &RecordingStreamTrial);
    std::printf("stream:                %.0f datagrams/s\n", plain);
    std::printf("stream with recorder:  %.0f datagrams/s\n", recording);
    std::printf("zero-loss rate, recording/plain: %.2f (target >= 0.9)\n",
                plain > 0 ? recording / plain : 0.0);
    // The CPU of the stream's side per datagram at one rate, the writer thread included; the
    // best of three runs each.
    const double offered = 100000;
    double plainCpu = 1, recordingCpu = 1;
    for (int run = 0; run < 3; ++run) {
        plainCpu = std::min(plainCpu, StreamTrial(offered, 30000).cpuPerDatagram);
        recordingCpu = std::min(recordingCpu, RecordingStreamTrial(offered, 30000).cpuPerDatagram);
    }
    std::printf("CPU per datagram at %.0f datagrams/s: stream %.2f us, with recorder %.2f us\n",
                offered, plainCpu * 1e6, recordingCpu * 1e6);
    std::remove(recordingPath.c_str());
    std::remove("/tmp/quil-throughput-bench.json");
    return 0;
}

// Bytes held by a full queue of 10000 profiles of 2000 points (data id 3).
void ReportFullProfileQueue() {
    auto transport =
        std::make_shared<UdpStreaming::Transport::UdpTransport>("127.0.0.1", kStreamPort);
    auto stream = std::make_shared<UdpStreaming::QuilStreamApi>(transport);
    stream->SetReceiveBufferSize(kReceiveBuffer);
    const std::size_t capacity = stream->GetQueueCapacity();
    stream->Start();
    SendPaced(kStreamPort, 20000, capacity);
    const auto deadline = Clock::now() + std::chrono::seconds(20);
    while (stream->GetProfileCount() < capacity && Clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    stream->Stop();
    const std::size_t count = stream->GetProfileCount();
    const std::size_t full = mallinfo2().uordblks;
    stream->ClearProfiles();
    const std::size_t held = full - mallinfo2().uordblks;
    const double raw = static_cast<double>(count) * kPoints * 6;
    std::printf(
        "full profile queue: %zu profiles of %zu points hold %.1f MB, %.0f bytes each; "
        "%.3f x the point data\n",
        count, kPoints, held / 1e6, static_cast<double>(held) / count, held / raw);
    stream->Close();
}

// The median of a figure measured kRepeats times, with the smallest and largest.
struct Spread {
    double median, low, high;
};

Spread Repeat(const std::function<double()>& measure) {
    std::vector<double> values;
    for (int run = 0; run < kRepeats; ++run) {
        values.push_back(measure());
    }
    std::sort(values.begin(), values.end());
    return {values[values.size() / 2], values.front(), values.back()};
}

// "  <what>: 0.93 (0.88 to 0.97 in 5 runs), target >= 0.8: met".
void Report(const char* what, Spread figure, const char* relation, double target) {
    const bool met =
        std::string(relation) == ">=" ? figure.median >= target : figure.median <= target;
    std::printf("  %-58s %6.2f (%.2f to %.2f in %d runs), target %s %.1f: %s\n", what,
                figure.median, figure.low, figure.high, kRepeats, relation, target,
                met ? "met" : "NOT met");
}

// The best of three short runs of `trial` at `offered` datagrams per second.
Trial QuietestOf3(const std::function<Trial(double, std::size_t)>& trial, double offered) {
    Trial best{false, 0, 1, 1};
    for (int run = 0; run < 3; ++run) {
        const Trial t = trial(offered, 30000);
        best.cpuPerDatagram = std::min(best.cpuPerDatagram, t.cpuPerDatagram);
        best.processCpuPerDatagram = std::min(best.processCpuPerDatagram, t.processCpuPerDatagram);
    }
    return best;
}

// Whether this machine has the cores for `streams` streams at `factor` times the rate that one
// stream took without loss in `one`, its senders included: each stream's sender and receiving
// side keep as many cores busy as one stream's did. Says how many cores one stream used.
bool CoresSuffice(const Trial& one, int streams, double factor) {
    const double cores = std::thread::hardware_concurrency();
    const double needed = factor * (one.senderCores + one.receiverCores);
    std::printf(
        "  one stream at that rate kept %.2f cores busy sending and %.2f receiving; %d streams "
        "at %.1f x its rate need %.2f of this machine's %.0f\n",
        one.senderCores, one.receiverCores, streams, factor, needed, cores);
    return needed <= cores;
}

// `quil_udpstreaming_throughput_bench --streams`: 1, 2 and 4 streams in one process, on ports
// of their own, each fed by a sender thread of its own: the aggregate zero-loss rate and the
// CPU time per datagram (of the workers, and of the whole process less the senders) at one
// offered rate that all take, each figure kRepeats times.
int CompareStreams() {
    const int counts[] = {1, 2, 4};
    std::vector<Spread> rates, workerCpu, processCpu;
    std::vector<int> senderLimited(std::size(counts), 0);
    for (std::size_t i = 0; i < std::size(counts); ++i) {
        const int streams = counts[i];
        const auto trial = [streams](double rate, std::size_t cycles) {
            return StreamsTrial(streams, rate, cycles);
        };
        const std::string name = std::to_string(streams) + (streams == 1 ? " stream" : " streams");
        rates.push_back(Repeat([&] {
            const double rate = HighestLosslessRate(name.c_str(), trial);
            senderLimited[i] += sendersWereTheLimit ? 1 : 0;
            if (streams == 1) {
                CoresSuffice(lastConfirmed, 2, 1.8);
            }
            return rate / 1e6;
        }));
        workerCpu.push_back(
            Repeat([&] { return QuietestOf3(trial, 100000).cpuPerDatagram * 1e6; }));
        processCpu.push_back(
            Repeat([&] { return QuietestOf3(trial, 100000).processCpuPerDatagram * 1e6; }));
    }
    std::printf("several streams, a sender each (median of %d runs, the spread in brackets):\n",
                kRepeats);
    for (std::size_t i = 0; i < std::size(counts); ++i) {
        std::printf(
            "  %d stream(s): zero-loss %.3f M datagrams/s (%.3f to %.3f)%s; CPU per datagram at "
            "100000/s: workers %.2f us (%.2f to %.2f), process %.2f us (%.2f to %.2f)\n",
            counts[i], rates[i].median, rates[i].low, rates[i].high,
            senderLimited[i] > 0 ? ", the senders were the limit" : "", workerCpu[i].median,
            workerCpu[i].low, workerCpu[i].high, processCpu[i].median, processCpu[i].low,
            processCpu[i].high);
    }
    Report("aggregate zero-loss rate, 2 streams / 1 stream",
           {rates[1].median / rates[0].median, rates[1].low / rates[0].high,
            rates[1].high / rates[0].low},
           ">=", 1.8);
    return 0;
}

// The stream's CPU time per datagram against the bare loop's, both at one rate that both take:
// its worker's, and its whole process's (less the sender's) with an application taking every
// profile with a timed pop.
std::pair<Spread, Spread> CpuRatios() {
    const double offered = 100000;
    const Spread workerCpu = Repeat([&] {
        return QuietestOf3(&StreamTrial, offered).cpuPerDatagram /
               QuietestOf3(&BareLoopTrial, offered).cpuPerDatagram;
    });
    timedPops = true;
    const Spread processCpu = Repeat([&] {
        return QuietestOf3(&StreamTrial, offered).processCpuPerDatagram /
               QuietestOf3(&BareLoopTrial, offered).cpuPerDatagram;
    });
    timedPops = false;
    return {workerCpu, processCpu};
}

// `quil_udpstreaming_throughput_bench --cpu`: the two CPU figures and nothing else.
int CompareCpu() {
    const auto [workerCpu, processCpu] = CpuRatios();
    std::printf("figures (median of %d runs, the spread in brackets):\n", kRepeats);
    Report("worker CPU per datagram, stream / bare loop", workerCpu, "<=", 1.2);
    Report("process CPU per datagram (timed pops), stream / bare loop", processCpu, "<=", 1.3);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc > 1 && std::string(argv[1]) == "--cpu") {
        return CompareCpu();
    }
    if (argc > 1 && std::string(argv[1]) == "--recording") {
        return CompareRecording();
    }
    if (argc > 1 && std::string(argv[1]) == "--streams") {
        return CompareStreams();
    }
    std::printf(
        "highest zero-loss rate (loopback, 7 datagrams per profile and measurement), "
        "%d runs:\n",
        kRepeats);
    const Spread rates = Repeat([] {
        const double bare = HighestLosslessRate("bare loop", &BareLoopTrial);
        const double stream = HighestLosslessRate("stream", &StreamTrial);
        std::printf("  bare recvfrom loop %.0f, stream %.0f datagrams/s\n", bare, stream);
        return bare > 0 ? stream / bare : 0.0;
    });

    const auto [workerCpu, processCpu] = CpuRatios();
    std::printf("aggregate zero-loss rate of several streams, a sender each:\n");
    // Per count of streams, in how many runs the senders could not send faster than the
    // streams took, or the machine lacked the cores for senders and streams at the target
    // rate: the ratio is then the senders' limit, not the streams'.
    int senderLimited[2] = {0, 0};
    int coresShort[2] = {0, 0};
    const auto several = [&](int streams) {
        return Repeat([&, streams] {
            const double one = HighestLosslessRate("1 stream", &StreamTrial);
            coresShort[streams / 4] += CoresSuffice(lastConfirmed, streams, 1.8) ? 0 : 1;
            const double many = HighestLosslessRate(streams == 2 ? "2 streams" : "4 streams",
                                                    [streams](double rate, std::size_t cycles) {
                                                        return StreamsTrial(streams, rate, cycles);
                                                    });
            senderLimited[streams / 4] += sendersWereTheLimit ? 1 : 0;
            std::printf("  1 stream %.0f, %d streams %.0f datagrams/s%s\n", one, streams, many,
                        sendersWereTheLimit ? ", as fast as the senders could send" : "");
            return one > 0 ? many / one : 0.0;
        });
    };
    const Spread two = several(2);
    const Spread four = several(4);

    std::printf("figures (median of %d runs, the spread in brackets):\n", kRepeats);
    Report("zero-loss rate, stream / bare loop", rates, ">=", 0.8);
    Report("worker CPU per datagram, stream / bare loop", workerCpu, "<=", 1.2);
    Report("process CPU per datagram (timed pops), stream / bare loop", processCpu, "<=", 1.3);
    Report("aggregate zero-loss rate, 2 streams / 1 stream", two, ">=", 1.8);
    Report("aggregate zero-loss rate, 4 streams / 1 stream", four, ">=", 1.8);
    for (int i = 0; i < 2; ++i) {
        if (senderLimited[i] > 0) {
            std::printf(
                "  (%d streams: in %d of %d runs the senders were the limit, not the "
                "streams)\n",
                2 * (i + 1), senderLimited[i], kRepeats);
        }
        if (coresShort[i] > 0) {
            std::printf(
                "  (%d streams: in %d of %d runs the senders and the streams together needed "
                "more cores than the machine has for 1.8 x one stream's rate: the senders, "
                "sharing the cores, are the limit)\n",
                2 * (i + 1), coresShort[i], kRepeats);
        }
    }
    std::printf(
        "  (on 2 cores the senders share the cores with the streams: where a sender "
        "could not keep its rate, the search lines say \"sent\" below \"requested\")\n");
    ReportFullProfileQueue();
    return 0;
}
