#include "Context.h"

#include "Files.h"

#include <CLI/CLI.hpp>

#include <termios.h>
#include <unistd.h>

#include <algorithm>
#include <cstdlib>
#include <iostream>
#include <sstream>

namespace QuilTool {
namespace {

std::string FirstLine(const std::string& text) {
    return text.substr(0, text.find_first_of("\r\n"));
}

// One line typed on the terminal without showing it.
std::string ReadHidden(const std::string& prompt, std::ostream& err) {
    termios shown{};
    const bool hide = tcgetattr(STDIN_FILENO, &shown) == 0;
    if (hide) {
        termios hidden = shown;
        hidden.c_lflag &= ~static_cast<tcflag_t>(ECHO);
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &hidden);
    }
    err << prompt << std::flush;
    std::string line;
    std::getline(std::cin, line);
    if (hide) {
        tcsetattr(STDIN_FILENO, TCSAFLUSH, &shown);
    }
    err << "\n";
    return line;
}

std::string Seconds(double seconds) {
    std::ostringstream text;
    text << seconds;
    return text.str();
}

}  // namespace

std::unique_ptr<Varkon::QUILApi::Quil> Context::Connect(unsigned short udpPort) {
    streamPort = udpPort;
    const std::string secret = role.empty() || role == "observer" ? std::string() : Password();
    ExpectAnswers();
    auto quil = Varkon::QUILApi::Quil::Create(host, udpPort);
    // Each request has the same limit as the watchdog's phases, so a request that waits on its
    // own, with the watchdog disarmed, is bounded too.
    quil->SetRequestTimeout(std::max(Timeout(), std::chrono::milliseconds(1)));
    quil->Connect();
    if (!role.empty()) {
        quil->Login(role, secret);
    }
    return quil;
}

std::string Context::Password() const {
    if (!password.empty()) {
        return password;
    }
    if (passwordFile == "-") {
        std::string line;
        std::getline(std::cin, line);
        return FirstLine(line);
    }
    if (!passwordFile.empty()) {
        return FirstLine(ReadFile(passwordFile));
    }
    if (const char* fromEnvironment = std::getenv("QUIL_PASSWORD")) {
        return fromEnvironment;
    }
    if (isatty(STDIN_FILENO) != 0) {
        return ReadHidden("Password for role " + role + ": ", *err);
    }
    throw UsageError("no password was given for role \"" + role +
                     "\"; give it with --password-file, QUIL_PASSWORD or --password");
}

void Context::ExpectAnswers(const std::string& note) {
    watchdog.Arm(Timeout(), "the sensor at " + host + " did not answer within " +
                                Seconds(timeoutSeconds) + " s" + note);
}

std::chrono::milliseconds Context::Timeout() const {
    return std::chrono::milliseconds(static_cast<long long>(timeoutSeconds * 1000));
}

void Context::Print(nlohmann::json document, const std::string& text) const {
    *out << Render(std::move(document), text);
}

std::string Context::Render(nlohmann::json document, const std::string& text) const {
    if (!json) {
        return text;
    }
    document["schema"] = kJsonSchema;
    return document.dump() + "\n";
}

void Context::Confirm(const std::string& question, const std::string& refusal) const {
    if (yes) {
        return;
    }
    if (isatty(STDIN_FILENO) == 0) {
        throw UsageError(refusal + "; confirm with --yes");
    }
    *err << question << " [y/N] " << std::flush;
    std::string answer;
    std::getline(std::cin, answer);
    if (answer != "y" && answer != "yes" && answer != "Y") {
        throw UsageError("not confirmed; nothing was changed");
    }
}

CLI::Option* Context::FallBackOnEnvironment(CLI::App& command, CLI::Option* option,
                                            const char* variable) {
    environmentFallbacks.push_back({&command, option, variable});
    return option->description(option->get_description() + " (else " + variable + ")");
}

void Context::ApplyEnvironmentFallbacks() const {
    for (const auto& fallback : environmentFallbacks) {
        const char* value = std::getenv(fallback.variable);
        if (fallback.command->parsed() && fallback.option->count() == 0 && value != nullptr &&
            *value != '\0') {
            fallback.option->add_result(value);
            fallback.option->run_callback();  // converts and checks it as if it had been given
        }
    }
}

void AddCommonOptions(CLI::App& command, Context& context) {
    context
        .FallBackOnEnvironment(command,
                               command.add_option("--host", context.host, "Address of the sensor"),
                               "QUIL_HOST")
        ->capture_default_str();
    command.add_option("--role", context.role,
                       "Role to take before the command: operator or maintenance");
    auto* password = command.add_option(
        "--password", context.password,
        "Password of the role (visible to other users; prefer QUIL_PASSWORD or --password-file)");
    command
        .add_option("--password-file", context.passwordFile,
                    "Read the password from the first line of this file, - for standard input")
        ->excludes(password);
    command
        .add_option("--timeout", context.timeoutSeconds,
                    "Seconds the sensor may take to answer, for each step")
        ->check(CLI::Validator(
            [](const std::string& text) {
                double seconds = 0;
                return CLI::detail::lexical_cast(text, seconds) && seconds > 0
                           ? std::string()
                           : "the time limit must be a number of seconds above 0; got \"" + text +
                                 "\"";
            },
            "SECONDS"))
        ->capture_default_str();
    command.add_flag("--json", context.json, "Print the result as one JSON document");
}

void AddStreamOptions(CLI::App& command, Context& context) {
    command.add_option("--local-address", context.localAddress,
                       "Address of this host that the sensor sends the stream to (default: the "
                       "one on the route to the sensor)");
}

void AddConfirmOption(CLI::App& command, Context& context) {
    command.add_flag("--yes,-y", context.yes, "Do not ask for confirmation");
}

void SetExamples(CLI::App& command, std::initializer_list<const char*> examples) {
    std::string footer = examples.size() == 1 ? "Example:" : "Examples:";
    for (const char* example : examples) {
        footer += std::string("\n  ") + example;
    }
    command.footer(footer);
}

}  // namespace QuilTool
