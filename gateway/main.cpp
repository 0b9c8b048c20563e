// quil-gateway: streams a group of sensors to an MQTT broker.
#include "CommandLine.h"
#include "ConfigurationFile.h"
#include "Gateway.h"
#include "Log.h"
#include "OutputMemory.h"
#include "ServiceNotifier.h"
#include "StartOnlySettings.h"

#include <quil/Quil.h>

#include <csignal>
#include <iostream>
#include <memory>

using namespace Varkon::QuilGateway;

namespace {

constexpr int kUsageOrConfigurationProblem = 2;

// A configuration that cannot be read leaves the running one as it is. What only a start takes
// is told, compared with what this run started with.
void Reload(Gateway& gateway, const std::string& path, const Configuration& started) {
    try {
        const Configuration next = LoadConfiguration(path);
        LogLine("reloaded " + path + ": " + gateway.Reload(next) +
                AtNextStart(StartOnlyChanges(started, next)));
    } catch (const ConfigurationError& error) {
        LogLine(std::string("not reloaded: ") + error.what());
    }
}

}  // namespace

int main(int argc, char** argv) {
    Invocation invocation;
    try {
        invocation = ParseCommandLine({argv + 1, argv + argc});
    } catch (const std::invalid_argument& error) {
        std::cerr << "quil-gateway: " << error.what() << " (see --help)\n";
        return kUsageOrConfigurationProblem;
    }
    switch (invocation.action) {
        case Invocation::Action::Version:
            std::cout << "quil-gateway " << Varkon::QUILApi::Quil::Version() << "\n";
            return 0;
        case Invocation::Action::Help:
            std::cout << Usage();
            return 0;
        case Invocation::Action::Check:
        case Invocation::Action::Run:
            break;
    }
    Configuration configuration;
    try {
        configuration = LoadConfiguration(invocation.configurationPath,
                                          invocation.action == Invocation::Action::Check
                                              ? ConfigurationChecks::Folders
                                              : ConfigurationChecks::Files);
    } catch (const ConfigurationError& error) {
        std::cerr << "quil-gateway: " << error.what() << "\n";
        return kUsageOrConfigurationProblem;
    }
    if (invocation.action == Invocation::Action::Check) {
        std::cout << invocation.configurationPath << ": " << configuration.sensors.size()
                  << " sensor(s), group " << configuration.groupId << ", node "
                  << configuration.nodeId << "\n";
        return 0;
    }
    // SIGINT and SIGTERM end the gateway, SIGHUP reads the configuration again; every thread
    // started from here on blocks them, so that this thread receives them in sigwait.
    sigset_t handled;
    sigemptyset(&handled);
    sigaddset(&handled, SIGINT);
    sigaddset(&handled, SIGTERM);
    sigaddset(&handled, SIGHUP);
    pthread_sigmask(SIG_BLOCK, &handled, nullptr);
    // A broker that goes away must not end the process with SIGPIPE.
    std::signal(SIGPIPE, SIG_IGN);
    configuration.stateFolder = StateFolder(invocation.configurationPath);
    try {
        Gateway gateway(configuration);
        gateway.Start();
        ServiceNotifier notifier([&gateway] { return gateway.Status(); });
        notifier.Ready();
        int received = 0;
        while (sigwait(&handled, &received) == 0 && received == SIGHUP) {
            Reload(gateway, invocation.configurationPath, configuration);
        }
        LogLine(std::string("stopping (") + (received == SIGINT ? "SIGINT" : "SIGTERM") + ")");
        notifier.Stopping();
        gateway.Stop();
    } catch (const std::exception& error) {
        LogLine(error.what());
        return 1;
    }
    return 0;
}
