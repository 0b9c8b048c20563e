// quil view: a live view of the sensor's stream, a recording or a virtual sensor in the browser.
#include "Commands.h"
#include "Document.h"
#include "Interruption.h"
#include "NamedSettings.h"
#include "StreamCapture.h"

#include <quil/Json.h>
#include <quil/SensorAddress.h>
#include <quil/sim/VirtualSensor.h>
#include <quil/view/ViewServer.h>

#include <CLI/CLI.hpp>

#include <chrono>
#include <iostream>
#include <thread>
#include <vector>

namespace QuilTool {
namespace {

namespace Api = Varkon::QUILApi;
namespace View = Varkon::QUILApi::View;

struct ViewCommandOptions {
    CaptureTarget target{5000, {0, 1}};
    std::string listen = "127.0.0.1:8080";
    std::string recordDirectory = ".";
    std::vector<std::string> allowedHosts;    // names browsers use besides IP addresses
    std::vector<std::string> allowedOrigins;  // other sites' pages that may use the view
    std::string from;                         // a recording to show instead of the sensor
    bool loop = false;                        // play the recording again at its end
    bool sim = false;                         // a virtual sensor in this process
    double simRate = 500;
};

// "ADDRESS:PORT" of --listen. @throws UsageError otherwise.
View::ViewOptions ListenOptions(const ViewCommandOptions& options) {
    View::ViewOptions view;
    const auto colon = options.listen.rfind(':');
    try {
        std::size_t used = 0;
        const unsigned long port = colon == std::string::npos
                                       ? 70000
                                       : std::stoul(options.listen.substr(colon + 1), &used);
        if (port > 65535 || used != options.listen.size() - colon - 1 || colon == 0) {
            throw std::invalid_argument("port");
        }
        view.address = options.listen.substr(0, colon);
        view.port = static_cast<uint16_t>(port);
    } catch (const std::exception&) {
        throw UsageError("--listen takes ADDRESS:PORT, e.g. 127.0.0.1:8080, not \"" +
                         options.listen + "\"");
    }
    view.recordDirectory = options.recordDirectory;
    view.allowedHosts = options.allowedHosts;
    view.allowedOrigins = options.allowedOrigins;
    return view;
}

// Serves until SIGINT, SIGTERM or SIGHUP.
void Serve(Context& context, const View::ViewOptions& listen, View::SensorFeed feed) {
    View::ViewServer server(listen, {std::move(feed)});
    *context.out << "Serving the view at " << server.Url() << " (Ctrl-C ends it)" << std::endl;
    while (InterruptionGuard::Received() == 0) {
        std::this_thread::sleep_for(std::chrono::milliseconds(100));
    }
}

// "[json.exception.out_of_range.403] key 'vendorName' not found" without the tag in front.
std::string WithoutJsonTag(const std::string& text) {
    const auto end = text.rfind("] ", text.find(' '));
    return text.rfind('[', 0) == 0 && end != std::string::npos ? text.substr(end + 2) : text;
}

// The identity as the page shows it, from the sensor's reply to SensorMetaData as recorded (the
// controllers' versions apart, the aggregate one optional).
std::string RecordedIdentity(const nlohmann::json& sensorMetaData) {
    Api::SensorMetaData identity;
    identity.vendorName = sensorMetaData.at("vendorName").get<std::string>();
    identity.sensorType = sensorMetaData.at("sensorType").get<std::string>();
    identity.serialNumber = sensorMetaData.at("serialNumber").get<std::string>();
    const auto version = sensorMetaData.find("aggregateVersion");
    identity.aggregateVersion =
        version != sensorMetaData.end() && version->is_string() ? version->get<std::string>() : "-";
    return View::IdentityText(identity);
}

void ViewRecording(Context& context, const ViewCommandOptions& options) {
    const View::ViewOptions listen = ListenOptions(options);
    const RecordingSource recording(options.from);  // the description's reading of the file
    Api::UdpStreaming::ReplayOptions pace;
    pace.loop = options.loop;
    std::shared_ptr<Api::UdpStreaming::RecordingReplay> replay =
        Api::UdpStreaming::RecordingReplay::Open(options.from, pace);
    View::SensorFeed feed(replay->GetStream(), recording.Coordinates());
    feed.name = options.from;
    feed.kind = "recording";
    feed.blockIdStep = recording.BlockIdStep();
    const auto description = nlohmann::json::parse(replay->GetDescription(), nullptr, false);
    if (description.is_object() && description.contains("sensor")) {
        // Each part as the sensor sent it; one that cannot be read is said, the rest shown.
        const auto& sensor = description.at("sensor");
        try {
            feed.identity = RecordedIdentity(sensor.at("SensorMetaData"));
        } catch (const std::exception& e) {
            feed.identity = "a sensor whose recorded identity is unreadable";
            *context.err << "quil: the recording's description of the sensor has no readable "
                            "identity ("
                         << WithoutJsonTag(e.what()) << ")\n";
        }
        try {
            feed.measurements = View::MeasurementNames(
                Api::FromPlainJson<Api::MeasurementValuesMeta>(sensor.at("MeasurementValuesMeta"))
                    .types);
        } catch (const std::exception& e) {
            *context.err << "quil: the recording's description of the sensor has no readable "
                            "measurement names ("
                         << WithoutJsonTag(e.what()) << "); they are shown by number\n";
        }
    } else {
        feed.identity = "recorded without a description of the sensor";
    }
    feed.finished = [replay] { return replay->WaitUntilFinished(std::chrono::milliseconds(0)); };
    InterruptionGuard guard;
    feed.stream->Start();
    Serve(context, listen, std::move(feed));
    replay->GetStream()->Close();
}

void ViewSensor(Context& context, const ViewCommandOptions& options, const std::string& kind) {
    const View::ViewOptions listen = ListenOptions(options);
    // From here on a signal is only recorded: the sensor's output is put back first.
    InterruptionGuard guard;
    auto quil = context.Connect(options.target.port);
    CheckStreamDataIds(*quil, options.target.dataIds);
    const auto identity = quil->GetSensorMetaData();
    View::SensorFeed feed(quil->GetStream(), Api::ProfileCoordinates::Read(*quil));
    feed.name = context.host;
    feed.identity = View::IdentityText(identity);
    feed.kind = kind;
    feed.blockIdStep = BlockIdStep(options.target.dataIds);
    feed.measurements = View::MeasurementNames(quil->GetMeasurementValuesMeta().types);
    // The sensor as it is before its output is aimed here, as `quil record` describes it.
    auto sensor = nlohmann::json::parse(Api::DescribeSensorForRecording(
        *quil, Varkon::QUILApi::Catalogue::ReadDocument(*quil).dump()));
    sensor["recordedDataIds"] = options.target.dataIds;
    feed.recording.emplace();
    feed.recording->sensorDescription = sensor.dump();
    auto stream = feed.stream;
    stream->Start();
    Api::StreamOutputAim aim(*quil, options.target.port, options.target.dataIds,
                             context.localAddress);
    context.watchdog.Disarm();
    const auto restore = [&] {
        context.ExpectAnswers("; its UDP output may still be aimed at " + aim.GetLocalAddress() +
                              " (see quil get process-interfaces)");
        aim.Restore();
        context.watchdog.Disarm();
    };
    try {
        Serve(context, listen, std::move(feed));
    } catch (...) {
        restore();  // a failed restore is the error that leaves
        stream->Close();
        throw;
    }
    restore();
    stream->Close();  // completes a recording still running
    quil->Disconnect();
}

void ViewVirtualSensor(Context& context, ViewCommandOptions options) {
    const auto address = Api::SplitSensorAddress(context.host);
    Api::Sim::VirtualSensorOptions simOptions;
    simOptions.address = address.host;
    const bool portGiven = context.host.find(':') != std::string::npos;
    // As the demo: port 80, as a sensor serves it, needs root; an ordinary user's takes another.
    simOptions.webSocketPort =
        portGiven ? static_cast<uint16_t>(std::stoul(address.port)) : VirtualSensorPort();
    simOptions.profileRate = options.simRate;
    Api::Sim::VirtualSensor sensor(simOptions);
    context.host = address.host + ":" + std::to_string(simOptions.webSocketPort);
    context.role = "maintenance";
    context.password = "maintenance";
    ViewSensor(context, options, "virtual sensor");
}

}  // namespace

void AddViewCommand(CLI::App& app, Context& context) {
    static ViewCommandOptions options;
    auto* command = app.add_subcommand(
        "view",
        "Show the sensor's stream live in a web browser: the profile in millimetres, a height "
        "map, the measurement values and the stream's health, with a record button. Serves a "
        "page on --listen (this host only, unless told otherwise) and aims the sensor's UDP "
        "output here until Ctrl-C, then puts it back. --from shows a recording, --sim a virtual "
        "sensor started in this process");
    SetExamples(*command, {"quil view --role operator", "quil view --sim",
                           "quil view --from line.pcap --listen 127.0.0.1:8081"});
    AddCommonOptions(*command, context);
    AddStreamOptions(*command, context);
    context
        .FallBackOnEnvironment(
            *command,
            command->add_option("--port", options.target.port, "Local UDP port to receive on"),
            "QUIL_PORT")
        ->capture_default_str();
    command
        ->add_option("--data-ids", options.target.dataIds,
                     "Data ids to stream: 0 measurements, 1-3 profiles")
        ->capture_default_str();
    command->add_option("--listen", options.listen, "Where the page is served, ADDRESS:PORT")
        ->capture_default_str();
    command
        ->add_option("--record-dir", options.recordDirectory,
                     "The folder the record button writes to (and no other)")
        ->capture_default_str();
    command->add_option("--allow-host", options.allowedHosts,
                        "A name browsers reach this host by, besides its IP addresses and "
                        "localhost (again for more); other names are refused");
    command->add_option("--allow-origin", options.allowedOrigins,
                        "Another site whose pages may use the view, e.g. https://dash.plant "
                        "(again for more)");
    command->add_option("--from", options.from, "Show a recording (see record) at its pace");
    command->add_flag("--loop", options.loop, "With --from: play the recording again at its end");
    auto* sim = command->add_flag("--sim", options.sim,
                                  "Show a virtual sensor started in this process on --host "
                                  "(default port 8077, or 80 as root)");
    command->add_option("--rate", options.simRate, "With --sim: profiles per second")
        ->capture_default_str();
    command->get_option("--from")->excludes(sim);
    command->callback([&context] {
        if (!options.from.empty()) {
            ViewRecording(context, options);
        } else if (options.sim) {
            ViewVirtualSensor(context, options);
        } else {
            ViewSensor(context, options, "live");
        }
    });
}

}  // namespace QuilTool
