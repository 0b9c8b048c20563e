// One sensor of the gateway, on a thread of its own: connects to it, aims its UDP output at this
// host, publishes its profiles in batches and its state as a Sparkplug device, shows them in the
// live view, retries with back-off when the sensor disappears and puts its output back when
// stopped.
#pragma once

#include "BlackBox.h"
#include "ClockOffset.h"
#include "Configuration.h"
#include "DeviceMetrics.h"
#include "MetricChanges.h"
#include "MqttPublisher.h"
#include "OutputMemory.h"
#include "ProfileBatch.h"
#include "PublishQueue.h"
#include "SparkplugTopics.h"
#include "Taken.h"

#include <quil/Quil.h>
#include <quil/view/ViewServer.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>

namespace Varkon::QuilGateway {

struct SensorTiming {
    std::chrono::milliseconds report{200};      // how often a DDATA may go out
    std::chrono::milliseconds probe{1000};      // how often the sensor is asked whether it is there
    std::chrono::milliseconds retryFirst{500};  // the first wait after a failure
    std::chrono::milliseconds retryMost{5000};  // the longest wait between attempts
    std::chrono::milliseconds requestLimit{2000};  // time limit of each request to the sensor
};

class SensorWorker {
public:
    /// `view`, if given, shows the sensor from its first connection until it is stopped.
    /// `stateFolder`, if given, keeps the sensor's output as found until it is put back
    /// (OutputMemory.h).
    SensorWorker(SensorSettings settings, std::string group, std::string node, PublishQueue& queue,
                 SensorTiming timing = {}, Varkon::QUILApi::View::ViewServer* view = nullptr,
                 const std::string& stateFolder = {});
    /// Stops (Stop).
    ~SensorWorker();
    SensorWorker(const SensorWorker&) = delete;
    SensorWorker& operator=(const SensorWorker&) = delete;

    void Start();
    /// Publishes what is batched, puts the sensor's output back and ends the thread.
    void Stop();

    /// Whether the sensor is connected and aimed at the gateway.
    bool Streaming();
    /// The device's state as last reported.
    DeviceState Snapshot();
    const std::string& Name() const { return settings.name; }
    const SensorSettings& Settings() const { return settings; }
    /// The device's birth while the sensor is connected; remembers its metrics as published.
    std::optional<DeviceBirth> Birth();
    /// The sensor's black box (none unless configured), whose answers to keeps the device
    /// reports as "Black Box/Last Kept". A keep may outlast the worker, so it is shared.
    std::shared_ptr<BlackBox> SharedBlackBox() const { return blackBox; }

private:
    void Run();
    void Serve();
    bool Attach();
    void ShowInView(const Varkon::QUILApi::SensorMetaData& identity,
                    const Varkon::QUILApi::ProfileCoordinates& coordinates);
    void ShowDisconnected(const std::string& why);
    void ApplySettings();
    void Detach(bool restore);
    void Pump();
    void Report(bool force);
    bool StillThere();
    bool WaitOrStop(std::chrono::milliseconds delay);
    void PushDevice(SparkplugMessage type, Metrics metrics, Taken taken);

    SensorSettings settings;
    std::string group;
    std::string node;
    PublishQueue& queue;
    SensorTiming timing;

    std::unique_ptr<Varkon::QUILApi::Quil> client;
    std::shared_ptr<Varkon::QUILApi::UdpStreaming::QuilStream> stream;
    std::unique_ptr<Varkon::QUILApi::StreamOutputAim> aim;
    std::optional<OutputSettings> original;  // the output settings found before any aim
    std::optional<OutputMemory> memory;      // none without a state folder
    std::shared_ptr<BlackBox> blackBox;      // none unless configured
    uint64_t keepAnswersReported = 0;
    bool streamedBefore = false;  // since the worker started
    Varkon::QUILApi::View::ViewServer* view;
    std::shared_ptr<Varkon::QUILApi::View::FeedInlet> inlet;  // with a view
    std::optional<Varkon::QUILApi::View::SensorFeed> shown;   // as last shown
    ProfileBatcher batcher;
    ClockOffset clock;
    std::string lastFailure;

    std::mutex stateMutex;  // guards state and changes, which births read from another thread
    DeviceState state;
    MetricChanges changes;

    std::mutex stopMutex;
    std::condition_variable stopSignal;
    bool stopping = false;
    std::thread thread;
};

}  // namespace Varkon::QuilGateway
