// Reading compiled resources: the .res file the resource compiler makes (the very
// resources the exe carries) and the resource section of PE files.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace sim {

// A resource type or name: an integer id or a string (compared without case).
struct ResourceId {
    std::uint16_t id = 0;
    std::u16string name;  // used when id is 0
};

struct ResourceEntry {
    ResourceId type;
    ResourceId name;
    std::uint16_t language = 0;
    std::span<const std::uint8_t> data;
};

// The entries of a .res file; empty when the file is malformed.
std::vector<ResourceEntry> ParseResFile(std::span<const std::uint8_t> file);

// The data of the first resource of the given integer type in a PE image; nothing when
// the image is not a PE file or has no such resource.
std::optional<std::span<const std::uint8_t>> FindPeResource(std::span<const std::uint8_t> image,
                                                            std::uint16_t type);

}  // namespace sim
