#include "HealthRoutes.h"

#include <string_view>

namespace Varkon::QuilGateway {

using Varkon::QUILApi::View::HttpAnswer;

namespace {

constexpr std::string_view kBlackBoxPrefix = "/blackbox/";

unsigned StatusOf(KeepAnswer::Outcome outcome) {
    switch (outcome) {
        case KeepAnswer::Outcome::Kept:
            return 200;
        case KeepAnswer::Outcome::WrongName:
            return 400;
        case KeepAnswer::Outcome::NoBlackBox:
            return 404;
        case KeepAnswer::Outcome::NameTaken:
        case KeepAnswer::Outcome::NothingRecorded:
            return 409;
        case KeepAnswer::Outcome::TooSoon:
            return 429;
        case KeepAnswer::Outcome::Failed:
            break;
    }
    return 500;
}

// POST /blackbox/<sensor>?name=<name>; the name's characters need no decoding, and one that
// does is refused as a name.
KeepAnswer KeepFromTarget(std::string_view target, const HealthSources& sources) {
    target.remove_prefix(kBlackBoxPrefix.size());
    const auto query = target.find("?name=");
    if (query == std::string_view::npos) {
        return {KeepAnswer::Outcome::WrongName, "expected ?name=<name of the recording>"};
    }
    return sources.keep(std::string(target.substr(0, query)),
                        std::string(target.substr(query + 6)));
}

HttpAnswer Text(unsigned status, std::string body) {
    return {status, "text/plain; charset=utf-8", std::move(body)};
}

}  // namespace

HttpAnswer AnswerHealthRequest(const HealthSources& sources, const std::string& method,
                               const std::string& target) {
    const bool keep = std::string_view(target).substr(0, kBlackBoxPrefix.size()) == kBlackBoxPrefix;
    if (keep && method == "POST" && sources.keep) {
        const KeepAnswer answer = KeepFromTarget(target, sources);
        return Text(StatusOf(answer.outcome), answer.text + "\n");
    }
    if (method != (keep ? "POST" : "GET")) {
        return Text(405, keep ? "only POST\n" : "only GET\n");
    }
    if (target == "/healthz") {
        return Text(200, "ok\n");
    }
    if (target == "/readyz") {
        const bool ready = sources.ready();
        return Text(ready ? 200 : 503, ready ? "ready\n" : "not ready\n");
    }
    if (target == "/metrics") {
        return {200, "text/plain; version=0.0.4; charset=utf-8", sources.metrics()};
    }
    return Text(404, "not found\n");
}

}  // namespace Varkon::QuilGateway
