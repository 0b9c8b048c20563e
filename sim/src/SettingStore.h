#pragma once

#include <nlohmann/json.hpp>

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace Varkon::QUILApi::Sim {

/// The sensor's settings: the current values of every writable resource, the stored parameter
/// setups (the active one, the one loaded at start-up), and the settings blob that backs all of
/// it up. Every change is checked (see CheckedUpdate); a refused change leaves everything as it
/// was. Not thread-safe: the caller serialises.
class SettingStore {
public:
    SettingStore(nlohmann::json description, nlohmann::json defaults);

    const nlohmann::json& Description() const { return description; }

    /// The current body of a writable resource (for "ProfileAlgorithmParams" the parameters of
    /// every algorithm, keyed by id as text).
    const nlohmann::json& Get(const std::string& resource) const;
    /// Applies a write; @throws Refusal "InvalidArgument".
    void Set(const std::string& resource, const nlohmann::json& update);
    /// The parameters of one algorithm; @throws Refusal "InvalidArgument" for an unknown id.
    const nlohmann::json& AlgorithmParams(uint32_t algorithmID) const;
    void SetAlgorithmParams(uint32_t algorithmID, const nlohmann::json& params);

    // --- Parameter setups ------------------------------------------------------------------
    uint32_t Storages() const { return static_cast<uint32_t>(setups.size()); }
    uint32_t Active() const { return active; }
    uint32_t Startup() const { return startup; }
    /// Whether the current settings equal the active setup's stored ones.
    bool Saved() const;
    /// Each @throws Refusal "InvalidArgument" for a setup number beyond the storages.
    void Activate(uint32_t setup);
    void Store(uint32_t setup);
    void SetStartup(uint32_t setup);
    const nlohmann::json& SetupContent(uint32_t setup) const;
    /// Every current setting back to its factory value; stored setups are kept.
    void Reset();

    // --- Backup and restore ------------------------------------------------------------------
    /// All settings: the device's, every stored setup, the active and start-up numbers and the
    /// current, possibly unsaved, values.
    std::string Blob() const;
    /// One stored setup.
    std::string SetupBlob(uint32_t setup) const;
    /// Restores a blob of Blob() (no `setup`) or of SetupBlob() into `setup`, entirely or not at
    /// all. @throws Refusal "InvalidArgument" for a blob that is malformed, of the other kind, or
    /// holds a value the sensor would refuse.
    void Restore(const std::string& blob, std::optional<uint32_t> setup);

private:
    nlohmann::json CheckedSetup(const nlohmann::json& setup) const;
    nlohmann::json CurrentSetup() const;
    void CheckSetupNumber(uint32_t setup) const;

    nlohmann::json description;
    nlohmann::json defaults;
    nlohmann::json current;  // every writable resource by name
    std::vector<nlohmann::json> setups;
    uint32_t active = 0;
    uint32_t startup = 0;
};

/// One client's write of a settings blob in numbered blocks: announced, then blocks 0, 1, ...
/// of at most `maxLength` bytes, the last one marked. Anything out of this order ends the write
/// and is refused.
class BlockWrite {
public:
    struct Blob {
        std::string text;
        std::optional<uint32_t> setup;  // empty: all settings
    };

    void Start(std::optional<uint32_t> setup, uint32_t maxLength);
    /// Adds a block; returns the whole blob when `isLastBlock`.
    /// @throws Refusal "InvalidArgument" for a block without a started write, with the wrong
    ///         number, longer than allowed, or making the blob too large.
    std::optional<Blob> Add(const nlohmann::json& block);

private:
    bool started = false;
    std::optional<uint32_t> setup;
    uint32_t maxLength = 0;
    uint32_t next = 0;
    std::string text;
};

}  // namespace Varkon::QUILApi::Sim
