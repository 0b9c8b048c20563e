// Commands to the gateway (NCMD and DCMD payloads) through the path they take from the broker:
// their bound, their parsing and their dispatch to the node and to a sensor's black box (a real
// one, in a folder of its own, that has recorded nothing).
//
// Input: a first byte choosing the topic (the node, the sensor with a black box, one without,
// a device that is not there), then the payload. Invariant: every command is answered (or
// rebirths), and every line the gateway writes is one line of its own, whatever the command
// names.
#include "BlackBox.h"
#include "Commands.h"
#include "SparkplugTopics.h"

#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <iostream>
#include <memory>
#include <sstream>
#include <string>

namespace Varkon::QuilGateway::Fuzzing {
namespace {

const char* const kGroup = "line";
const char* const kNode = "pc";
const char* const kSensorWithBox = "left";

std::ostringstream& Log() {
    static std::ostringstream log;
    return log;
}

// A black box in a folder of its own, removed at the end.
class FolderBox {
public:
    FolderBox() {
        std::string pattern =
            (std::filesystem::temp_directory_path() / "quil-command-fuzzer-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            std::abort();
        }
        folder = pattern;
        BlackBoxSettings settings;
        settings.folder = folder;
        box = std::make_unique<BlackBox>(settings, kSensorWithBox);
    }
    ~FolderBox() {
        box.reset();
        std::error_code ignored;
        std::filesystem::remove_all(folder, ignored);
    }

    std::string folder;
    std::unique_ptr<BlackBox> box;
};

BlackBox& Box() {
    static FolderBox box;
    return *box.box;
}

std::string TopicOf(uint8_t choice) {
    switch (choice % 4) {
        case 0:
            return SparkplugTopic(kGroup, SparkplugMessage::NCMD, kNode);
        case 1:
            return SparkplugTopic(kGroup, SparkplugMessage::DCMD, kNode, kSensorWithBox);
        case 2:
            return SparkplugTopic(kGroup, SparkplugMessage::DCMD, kNode, "right");
        default:
            return SparkplugTopic(kGroup, SparkplugMessage::DCMD, kNode, "x\ny");
    }
}

// Each line begins as LogLine begins it (after its time, when journald does not take the lines):
// no text of a command started a line of its own.
bool OnlyLinesOfTheGateway(const std::string& log) {
    std::istringstream lines(log);
    std::string line;
    while (std::getline(lines, line)) {
        const bool stamped = !line.empty() && line[0] >= '0' && line[0] <= '9';
        const std::size_t start = stamped ? line.find(' ') + 1 : 0;
        if (line.compare(start, 14, "quil-gateway: ") != 0 || line.size() > 1024) {
            return false;
        }
    }
    return true;
}

}  // namespace
}  // namespace Varkon::QuilGateway::Fuzzing

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    // The gateway's lines are read by the invariant instead of being printed.
    std::cerr.rdbuf(Varkon::QuilGateway::Fuzzing::Log().rdbuf());
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, std::size_t size) {
    using namespace Varkon::QuilGateway;
    if (size == 0) {
        return 0;
    }
    const ReceivedCommand command =
        ReceiveCommand(Fuzzing::TopicOf(data[0]).c_str(), data + 1, size - 1);
    std::size_t answers = 0;
    CommandTargets targets;
    targets.rebirth = [&] { ++answers; };
    targets.keep = [&](const std::string& sensor, const std::string& name) {
        if (sensor != Fuzzing::kSensorWithBox) {
            return KeepAnswer{KeepAnswer::Outcome::NoBlackBox, "sensor has no black box"};
        }
        ++answers;
        return Fuzzing::Box().Keep(name);
    };
    targets.answer = [&](const std::string& text) {
        ++answers;
        if (text.find('\n') != std::string::npos || text.size() > 1024) {
            std::abort();
        }
    };
    Fuzzing::Log().str({});
    HandleCommand(command, Fuzzing::kGroup, Fuzzing::kNode, targets);
    if (answers == 0 || !Fuzzing::OnlyLinesOfTheGateway(Fuzzing::Log().str())) {
        std::abort();
    }
    return 0;
}
