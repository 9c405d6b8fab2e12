// Four-part version values: file versions, version texts and their comparisons.
#pragma once

#include <array>
#include <compare>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

struct VersionQuad {
    std::uint16_t major = 0;
    std::uint16_t minor = 0;
    std::uint16_t build = 0;
    std::uint16_t revision = 0;

    friend constexpr auto operator<=>(const VersionQuad&, const VersionQuad&) = default;
};

// The file version from the file's fixed version information; nothing when the file is
// missing, a directory, has no (or a malformed) version resource, or memory runs out.
std::optional<VersionQuad> ReadFileVersion(const std::u16string& path);

// Version texts parse into four signed parts, each as wcstol would read it.
std::array<std::int32_t, 4> ParseVersionText(std::u16string_view text);

bool VersionAtLeast(std::u16string_view text, const VersionQuad& bound);
bool VersionAtMost(std::u16string_view text, const VersionQuad& bound);
bool SameVersionText(std::u16string_view a, std::u16string_view b);
bool InVersionRange(const VersionQuad& version, const VersionQuad& low, const VersionQuad& high);
