// What a sensor's output was before the gateway aimed it, kept on disk until the gateway has put
// it back, so that a run after a crash (a kill, a power cut) restores what the sensor had and not
// the previous run's aim.
#pragma once

#include <quil/Quil.h>

#include <optional>
#include <string>

namespace Varkon::QuilGateway {

/// A sensor's output settings, as StreamOutputAim saves and restores them.
struct OutputSettings {
    Varkon::QUILApi::ProcessInterfaces interfaces;
    Varkon::QUILApi::UDPStreamData streamData;
};

/// The file `<folder>/<sensor>@<address>.output.json` of one sensor (characters other than
/// letters, digits, '-', '_', '.' and ':' of the address written as '_').
class OutputMemory {
public:
    OutputMemory(const std::string& folder, const std::string& sensor, const std::string& address);

    /// What an earlier run kept and did not put back; none when there is no such file.
    /// @throws std::runtime_error "cannot read <path>: <reason>" for a file that is there but
    ///         cannot be read or is not what Keep writes.
    std::optional<OutputSettings> Recall() const;
    /// Writes `found` to a temporary file, flushes it to the disk and renames it into place.
    /// @throws std::runtime_error "cannot keep the output settings in <path>: <reason>".
    void Keep(const OutputSettings& found) const;
    /// Deletes the file, once the output is put back; a file already gone is no problem.
    void Forget() const;

    const std::string& Path() const { return path; }

private:
    std::string path;
};

/// Gives the sensor the output it had before the gateway aimed it, and returns that: `found`
/// (what this run found), else what `memory` kept from an earlier run, written to the sensor
/// where it has something else; with neither, what the sensor has now, kept in `memory` before
/// anything of the sensor is changed. `memory` may be null: nothing kept.
/// @throws what Recall, Keep and the sensor's reads and writes throw.
OutputSettings PutBackFoundOutput(Varkon::QUILApi::Quil& client, const OutputMemory* memory,
                                  std::optional<OutputSettings> found);

/// Where the gateway keeps what it must remember across runs: the first folder of
/// `$STATE_DIRECTORY` (set by systemd for the unit's StateDirectory=), else the folder of the
/// configuration file at `configurationPath`.
std::string StateFolder(const std::string& configurationPath);

}  // namespace Varkon::QuilGateway
