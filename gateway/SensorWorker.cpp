#include "SensorWorker.h"

#include "Clock.h"
#include "Failures.h"
#include "Log.h"
#include "SettingsDocument.h"
#include "SparkplugPayloads.h"
#include "SparkplugTopics.h"

#include <quil/SensorAddress.h>

#include <arpa/inet.h>
#include <netdb.h>

#include <algorithm>

namespace Varkon::QuilGateway {
namespace {

// The IPv4 address the sensor's datagrams come from: the stream takes no other sender's, so
// two sensors aimed at one port by mistake cannot mix.
std::string SensorIpv4(const std::string& address) {
    const std::string host = Varkon::QUILApi::SplitSensorAddress(address).host;
    addrinfo hints{};
    hints.ai_family = AF_INET;
    addrinfo* found = nullptr;
    if (getaddrinfo(host.c_str(), nullptr, &hints, &found) != 0 || found == nullptr) {
        return {};  // every sender, as before the filter
    }
    char text[INET_ADDRSTRLEN] = {};
    inet_ntop(AF_INET, &reinterpret_cast<sockaddr_in*>(found->ai_addr)->sin_addr, text,
              sizeof text);
    freeaddrinfo(found);
    return text;
}

}  // namespace

SensorWorker::SensorWorker(SensorSettings settings, std::string group, std::string node,
                           PublishQueue& queue, SensorTiming timing,
                           Varkon::QUILApi::View::ViewServer* view, const std::string& stateFolder)
    : settings(std::move(settings)),
      group(std::move(group)),
      node(std::move(node)),
      queue(queue),
      timing(timing),
      view(view),
      batcher(this->settings) {
    if (view != nullptr) {
        inlet = std::make_shared<Varkon::QUILApi::View::FeedInlet>();
    }
    if (!stateFolder.empty()) {
        memory.emplace(stateFolder, this->settings.name, this->settings.host);
    }
    if (this->settings.blackBox) {
        blackBox = std::make_shared<BlackBox>(*this->settings.blackBox, this->settings.name);
    }
}

SensorWorker::~SensorWorker() {
    Stop();
}

void SensorWorker::Start() {
    if (!thread.joinable()) {
        thread = std::thread([this] { Run(); });
    }
}

void SensorWorker::Stop() {
    {
        const std::lock_guard<std::mutex> lock(stopMutex);
        stopping = true;
    }
    stopSignal.notify_all();
    if (thread.joinable()) {
        thread.join();
    }
}

// Waits `delay` unless asked to stop first; true when asked to stop.
bool SensorWorker::WaitOrStop(std::chrono::milliseconds delay) {
    std::unique_lock<std::mutex> lock(stopMutex);
    return stopSignal.wait_for(lock, delay, [&] { return stopping; });
}

bool SensorWorker::Streaming() {
    const std::lock_guard<std::mutex> lock(stateMutex);
    return state.connected;
}

DeviceState SensorWorker::Snapshot() {
    const std::lock_guard<std::mutex> lock(stateMutex);
    return state;
}

std::optional<DeviceBirth> SensorWorker::Birth() {
    const std::lock_guard<std::mutex> lock(stateMutex);
    if (!state.connected) {
        return std::nullopt;
    }
    Metrics metrics = DeviceMetrics(settings, state);
    changes.Publish(metrics);
    return DeviceBirth{settings.name, std::move(metrics)};
}

// `taken` is stamped under the state's lock with the metrics, as a birth is, so that the
// publisher tells exactly which of the two is older.
void SensorWorker::PushDevice(SparkplugMessage type, Metrics metrics, Taken taken) {
    OutgoingMessage message;
    message.topic = SparkplugTopic(group, type, node, settings.name);
    message.qos = kPublishQos;
    message.deviceMetrics = std::move(metrics);
    message.taken = taken;
    queue.Push(std::move(message));
}

// The sensor's settings document, when it has one; a refusal is marked in its state, and the
// sensor is tried again as one that is not there.
void SensorWorker::ApplySettings() {
    if (settings.settingsDocument.is_null()) {
        return;
    }
    std::string refusal;
    try {
        ApplySettingsDocument(*client, settings.settingsDocument);
    } catch (const std::exception& error) {
        refusal = error.what();
    }
    {
        const std::lock_guard<std::mutex> lock(stateMutex);
        state.settingsRefused = !refusal.empty();
    }
    if (!refusal.empty()) {
        throw std::runtime_error("its settings from " + settings.settingsFile +
                                 " were refused: " + refusal);
    }
}

// Connects, logs in, applies the settings and aims the output; false (and one line about it) when
// the sensor is not there or refuses.
bool SensorWorker::Attach() {
    try {
        if (!client) {
            client = Varkon::QUILApi::Quil::Create(settings.host, settings.udpPort);
            client->SetRequestTimeout(timing.requestLimit);
        }
        if (!stream) {
            stream = client->GetStream();
            stream->SetArrivalTimes(true);
        }
        client->Connect();
        stream->AcceptOnlyFrom(SensorIpv4(settings.host));
        client->Login(settings.role, settings.password);
        const auto identity = client->GetSensorMetaData();
        // A sensor that comes back, or that a crashed run left aimed here, gets what was found
        // before any aim back first: that is what it gets back in the end.
        original = PutBackFoundOutput(*client, memory ? &*memory : nullptr, original);
        ApplySettings();
        const auto coordinates = Varkon::QUILApi::ProfileCoordinates::Read(*client);
        batcher.SetScales(ChannelScales(coordinates));
        aim = std::make_unique<Varkon::QUILApi::StreamOutputAim>(
            *client, settings.udpPort, settings.dataIds, settings.localAddress);
        stream->Start();
        if (blackBox) {
            std::string description;
            try {
                description = Varkon::QUILApi::DescribeSensorForRecording(*client);
            } catch (const std::exception&) {
                // the pieces are readable without it
            }
            blackBox->Attach(stream, std::move(description));
        }
        Metrics metrics;
        Taken taken;
        {
            const std::lock_guard<std::mutex> lock(stateMutex);
            state.identity = identity;
            state.connected = true;
            state.reconnections += streamedBefore ? 1 : 0;
            streamedBefore = true;
            state.counters = stream->GetStatistics();
            metrics = DeviceMetrics(settings, state);
            changes.Publish(metrics);
            taken = Taken::Now();
        }
        PushDevice(SparkplugMessage::DBIRTH, std::move(metrics), taken);
        ShowInView(identity, coordinates);
        LogLine("sensor " + settings.name + " (" + settings.host + "): streaming to " +
                aim->GetLocalAddress() + ":" + std::to_string(settings.udpPort));
        lastFailure.clear();
        return true;
    } catch (const std::exception& error) {
        aim.reset();
        // Told again only when its meaning changes, not on every attempt.
        const std::string failure =
            ExplainSensorFailure(error.what(), settings, timing.requestLimit);
        if (failure != lastFailure) {
            LogLine("sensor " + settings.name + " (" + settings.host + "): " + failure +
                    "; trying again");
            lastFailure = failure;
            ShowDisconnected(failure);
        }
        return false;
    }
}

void SensorWorker::Detach(bool restore) {
    if (auto message = batcher.Flush()) {
        queue.Push(
            {ProfilesTopic(group, settings.name), std::move(*message), kPublishQos, std::nullopt});
    }
    if (aim && restore) {
        try {
            aim->Restore();
            if (memory) {
                memory->Forget();
            }
        } catch (const std::exception& error) {
            LogLine("sensor " + settings.name + " (" + settings.host +
                    "): " + ExplainSensorFailure(error.what(), settings, timing.requestLimit));
        }
    }
    aim.reset();
    if (blackBox) {
        blackBox->Detach();
    }
    if (stream) {
        stream->Stop();
    }
    Taken taken;
    {
        const std::lock_guard<std::mutex> lock(stateMutex);
        if (!state.connected) {
            return;
        }
        state.connected = false;
        changes.Forget();
        taken = Taken::Now();
    }
    PushDevice(SparkplugMessage::DDEATH, {}, taken);
    ShowDisconnected("it stopped answering");
}

void SensorWorker::ShowInView(const Varkon::QUILApi::SensorMetaData& identity,
                              const Varkon::QUILApi::ProfileCoordinates& coordinates) {
    if (view == nullptr) {
        return;
    }
    namespace View = Varkon::QUILApi::View;
    shown.emplace(stream, coordinates);
    shown->name = settings.name;
    shown->identity = View::IdentityText(identity);
    shown->kind = "live";
    shown->inlet = inlet;
    shown->blockIdStep = View::BlockIdStep(settings.dataIds);
    try {
        shown->measurements = View::MeasurementNames(client->GetMeasurementValuesMeta().types);
    } catch (const std::exception&) {
        // shown by number
    }
    view->Show(*shown);
}

// The page keeps the sensor, with the last connection's description, and says since when it
// is away and why.
void SensorWorker::ShowDisconnected(const std::string& why) {
    if (view == nullptr || !shown) {
        return;
    }
    if (!shown->away) {
        Varkon::QUILApi::View::SensorAway away;
        away.sinceMicroseconds = std::chrono::duration_cast<std::chrono::microseconds>(
                                     std::chrono::system_clock::now().time_since_epoch())
                                     .count();
        shown->away = away;
    }
    shown->away->reason = why + "; trying again";
    view->Show(*shown);
}

void SensorWorker::Pump() {
    if (!stream->WaitForData(std::chrono::milliseconds(20))) {
        return;
    }
    if (blackBox) {
        blackBox->Tend();
    }
    while (auto timed = stream->PopTimedProfileFor(std::chrono::milliseconds(0))) {
        if (inlet) {
            inlet->Add(timed->profile);
        }
        ArrivedProfile arrived{std::move(timed->profile), ArrivalUs(timed->arrivalMicroseconds)};
        clock.Add(arrived.arrivalUs, arrived.profile.timestamp);
        if (auto message = batcher.Add(std::move(arrived))) {
            queue.Push({ProfilesTopic(group, settings.name), std::move(*message), kPublishQos,
                        std::nullopt});
        }
    }
    std::optional<Varkon::QUILApi::UdpStreaming::StreamMeasurement> latest;
    while (auto measurement = stream->PopMeasurementFor(std::chrono::milliseconds(0))) {
        if (inlet) {
            inlet->Add(*measurement);
        }
        latest = std::move(measurement);
    }
    // Problems of the stream are counted in its statistics, which the device reports.
    while (stream->HasError()) {
        stream->PopError();
    }
    if (latest) {
        const std::lock_guard<std::mutex> lock(stateMutex);
        state.measurement = latest;
    }
}

void SensorWorker::Report(bool force) {
    Metrics changed;
    Taken taken;
    {
        const std::lock_guard<std::mutex> lock(stateMutex);
        // Published first: every profile published was received before the counters are read.
        state.profilesPublished = batcher.Published();
        state.counters = stream->GetStatistics();
        state.clockOffsetUs = clock.Offset();
        state.clockSpreadUs = clock.Spread();
        state.blackBoxBytes = blackBox ? std::optional(blackBox->DiskBytes()) : std::nullopt;
        state.blackBoxWindowSeconds =
            blackBox ? std::optional(blackBox->WindowSeconds()) : std::nullopt;
        const KeepReport kept = blackBox ? blackBox->LastKept() : KeepReport{};
        state.blackBoxLastKept = kept.text;
        changed = changes.Take(DeviceMetrics(settings, state));
        // Every answer to a keep is reported, also one whose text is the one before's.
        const bool reported = std::any_of(changed.begin(), changed.end(), [](const Metric& m) {
            return m.name == kLastKeptMetric;
        });
        if (kept.answers != keepAnswersReported && !reported) {
            changed.push_back({kLastKeptMetric, kept.text});
        }
        keepAnswersReported = kept.answers;
        taken = Taken::Now();
    }
    if (!changed.empty() || force) {
        PushDevice(SparkplugMessage::DDATA, std::move(changed), taken);
    }
}

bool SensorWorker::StillThere() {
    try {
        client->GetSensorMetaData();
        return true;
    } catch (const std::exception& error) {
        LogLine("sensor " + settings.name + " (" + settings.host + "): lost (" +
                ExplainSensorFailure(error.what(), settings, timing.requestLimit) +
                "); trying again");
        lastFailure.clear();
        return false;
    }
}

void SensorWorker::Run() {
    Serve();
    if (view != nullptr) {
        view->Hide(settings.name);
    }
}

void SensorWorker::Serve() {
    auto delay = timing.retryFirst;
    while (true) {
        if (!Attach()) {
            if (WaitOrStop(delay)) {
                return;
            }
            delay = std::min(delay * 2, timing.retryMost);
            continue;
        }
        delay = timing.retryFirst;
        auto nextReport = std::chrono::steady_clock::now() + timing.report;
        auto nextProbe = std::chrono::steady_clock::now() + timing.probe;
        bool there = true;
        while (there) {
            {
                const std::lock_guard<std::mutex> lock(stopMutex);
                if (stopping) {
                    Detach(true);
                    return;
                }
            }
            Pump();
            const auto now = std::chrono::steady_clock::now();
            if (now >= nextReport) {
                Report(false);
                nextReport = now + timing.report;
            }
            if (now >= nextProbe) {
                there = StillThere();
                nextProbe = now + timing.probe;
            }
        }
        Detach(false);
    }
}

}  // namespace Varkon::QuilGateway
