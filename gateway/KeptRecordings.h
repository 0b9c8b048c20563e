// The recordings a black box keeps, each a folder <folder>/kept/<name>: bounded in count and in
// the bytes their files take, the oldest removed first, each removal told in one line.
#pragma once

#include <cstdint>
#include <string>

namespace Varkon::QuilGateway {

class KeptRecordings {
public:
    /// `folder` is the black box's folder; `sensor` names it in the lines.
    KeptRecordings(std::string folder, std::string sensor, uint32_t most, uint64_t mostBytes);

    /// The folder of the recording `name`.
    std::string PathOf(const std::string& name) const;
    /// Removes the oldest recordings until the others are within the bounds; `newest` (just
    /// kept) stays even when it alone is over the bytes.
    void Bound(const std::string& newest = {});

private:
    std::string folder;  // <folder>/kept
    std::string sensor;
    uint32_t most;
    uint64_t mostBytes;
};

}  // namespace Varkon::QuilGateway
