#include "SettingStore.h"

#include "Description.h"
#include "Refusal.h"
#include "Validation.h"

namespace Varkon::QUILApi::Sim {

using nlohmann::json;

namespace {

const char* const kAllFormat = "quil-sim settings";
const char* const kSetupFormat = "quil-sim setup";
constexpr int kBlobVersion = 1;
// A blob larger than this is refused while it is written.
constexpr std::size_t kMaxBlobBytes = 4 * 1024 * 1024;

json Subset(const json& settings, const std::vector<std::string>& names) {
    json subset = json::object();
    for (const auto& name : names) {
        subset[name] = settings.at(name);
    }
    return subset;
}

json ParseBlob(const std::string& text, const char* format) {
    json blob = json::parse(text, nullptr, false);
    if (!blob.is_object() || blob.value("format", "") != format ||
        blob.value("version", 0) != kBlobVersion) {
        throw Refusal::InvalidArgument();
    }
    return blob;
}

const json& Member(const json& object, const char* key) {
    if (!object.is_object() || !object.contains(key)) {
        throw Refusal::InvalidArgument();
    }
    return object[key];
}

uint32_t SetupNumber(const json& value) {
    if (!value.is_number_unsigned()) {
        throw Refusal::InvalidArgument();
    }
    return value.get<uint32_t>();
}

}  // namespace

SettingStore::SettingStore(json description, json defaults)
    : description(std::move(description)), defaults(std::move(defaults)) {
    current = this->defaults;
    const auto storages = this->description["ParameterSetupMeta"]["numStorages"].get<uint32_t>();
    setups.assign(storages, CurrentSetup());
}

const json& SettingStore::Get(const std::string& resource) const {
    return current.at(resource);
}

void SettingStore::Set(const std::string& resource, const json& update) {
    current[resource] = CheckedUpdate(resource, current.at(resource), update, description, false);
}

const json& SettingStore::AlgorithmParams(uint32_t algorithmID) const {
    const auto& all = current["ProfileAlgorithmParams"];
    const auto found = all.find(std::to_string(algorithmID));
    if (found == all.end()) {
        throw Refusal::InvalidArgument();
    }
    return *found;
}

void SettingStore::SetAlgorithmParams(uint32_t algorithmID, const json& params) {
    const std::string id = std::to_string(algorithmID);
    json& all = current["ProfileAlgorithmParams"];
    if (!all.contains(id)) {
        throw Refusal::InvalidArgument();
    }
    all[id] = CheckedUpdate("ProfileAlgorithmParams", all[id], params, description, false, id);
}

bool SettingStore::Saved() const {
    return CurrentSetup() == setups[active];
}

void SettingStore::CheckSetupNumber(uint32_t setup) const {
    if (setup >= setups.size()) {
        throw Refusal::InvalidArgument();
    }
}

void SettingStore::Activate(uint32_t setup) {
    CheckSetupNumber(setup);
    for (const auto& [name, body] : setups[setup].items()) {
        current[name] = body;
    }
    active = setup;
}

void SettingStore::Store(uint32_t setup) {
    CheckSetupNumber(setup);
    setups[setup] = CurrentSetup();
}

void SettingStore::SetStartup(uint32_t setup) {
    CheckSetupNumber(setup);
    startup = setup;
}

const json& SettingStore::SetupContent(uint32_t setup) const {
    CheckSetupNumber(setup);
    return setups[setup];
}

void SettingStore::Reset() {
    current = defaults;
}

json SettingStore::CurrentSetup() const {
    return Subset(current, SetupResources());
}

std::string SettingStore::Blob() const {
    return json{{"format", kAllFormat},
                {"version", kBlobVersion},
                {"device", Subset(current, DeviceResources())},
                {"setups", setups},
                {"active", active},
                {"startup", startup},
                {"current", CurrentSetup()}}
        .dump();
}

std::string SettingStore::SetupBlob(uint32_t setup) const {
    return json{{"format", kSetupFormat}, {"version", kBlobVersion}, {"setup", SetupContent(setup)}}
        .dump();
}

// Checks every resource of a setup in full; the parameters of every algorithm must be there.
json SettingStore::CheckedSetup(const json& setup) const {
    if (!setup.is_object() || setup.size() != SetupResources().size()) {
        throw Refusal::InvalidArgument();
    }
    json checked = json::object();
    for (const auto& name : SetupResources()) {
        const json& body = Member(setup, name.c_str());
        if (name != "ProfileAlgorithmParams") {
            checked[name] = CheckedUpdate(name, defaults[name], body, description, true);
            continue;
        }
        const json& known = defaults[name];
        if (!body.is_object() || body.size() != known.size()) {
            throw Refusal::InvalidArgument();
        }
        for (const auto& [id, params] : known.items()) {
            checked[name][id] =
                CheckedUpdate(name, params, Member(body, id.c_str()), description, true, id);
        }
    }
    return checked;
}

void SettingStore::Restore(const std::string& text, std::optional<uint32_t> setup) {
    if (setup) {
        CheckSetupNumber(*setup);
        setups[*setup] = CheckedSetup(Member(ParseBlob(text, kSetupFormat), "setup"));
        return;
    }
    const json blob = ParseBlob(text, kAllFormat);
    const json& device = Member(blob, "device");
    const json& stored = Member(blob, "setups");
    if (!device.is_object() || device.size() != DeviceResources().size() || !stored.is_array() ||
        stored.size() != setups.size()) {
        throw Refusal::InvalidArgument();
    }
    json restored = CheckedSetup(Member(blob, "current"));
    for (const auto& name : DeviceResources()) {
        restored[name] =
            CheckedUpdate(name, current[name], Member(device, name.c_str()), description, true);
    }
    std::vector<json> restoredSetups;
    for (const auto& one : stored) {
        restoredSetups.push_back(CheckedSetup(one));
    }
    const uint32_t restoredActive = SetupNumber(Member(blob, "active"));
    const uint32_t restoredStartup = SetupNumber(Member(blob, "startup"));
    CheckSetupNumber(restoredActive);
    CheckSetupNumber(restoredStartup);

    current = std::move(restored);
    setups = std::move(restoredSetups);
    active = restoredActive;
    startup = restoredStartup;
}

void BlockWrite::Start(std::optional<uint32_t> target, uint32_t limit) {
    started = true;
    setup = target;
    maxLength = limit;
    next = 0;
    text.clear();
}

std::optional<BlockWrite::Blob> BlockWrite::Add(const json& value) {
    const bool inOrder = started && value.is_object() && value.contains("num") &&
                         value["num"].is_number_unsigned() && value["num"] == next &&
                         value.contains("isLastBlock") && value["isLastBlock"].is_boolean() &&
                         value.contains("block") && value["block"].is_string();
    if (!inOrder) {
        started = false;
        throw Refusal::InvalidArgument();
    }
    const auto& block = value["block"].get_ref<const std::string&>();
    if (block.size() > maxLength || text.size() + block.size() > kMaxBlobBytes) {
        started = false;
        throw Refusal::InvalidArgument();
    }
    text += block;
    ++next;
    if (!value["isLastBlock"].get<bool>()) {
        return std::nullopt;
    }
    started = false;
    return Blob{std::move(text), setup};
}

}  // namespace Varkon::QUILApi::Sim
