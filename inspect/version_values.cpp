#include "inspect/version_values.h"

#include <cstring>
#include <limits>
#include <memory>
#include <new>

#include "platform/constants.h"

namespace {

bool IsBlank(char16_t c) {
    return c == u' ' || (c >= u'\t' && c <= u'\r');
}

// Signed decimal as wcstol reads it: blanks, one sign, digits; clamped to 32 bits.
std::int32_t ToInt(std::u16string_view s) {
    std::size_t i = 0;
    while (i < s.size() && IsBlank(s[i])) ++i;
    bool negative = false;
    if (i < s.size() && (s[i] == u'+' || s[i] == u'-')) negative = s[i++] == u'-';
    std::int64_t value = 0;
    for (; i < s.size() && s[i] >= u'0' && s[i] <= u'9'; ++i) {
        value = value * 10 + (s[i] - u'0');
        if (value > std::int64_t{std::numeric_limits<std::int32_t>::max()} + 1) break;
    }
    if (negative) value = -value;
    if (value > std::numeric_limits<std::int32_t>::max())
        return std::numeric_limits<std::int32_t>::max();
    if (value < std::numeric_limits<std::int32_t>::min())
        return std::numeric_limits<std::int32_t>::min();
    return static_cast<std::int32_t>(value);
}

// -1, 0 or 1 as the text compares with the bound, part by part.
int CompareText(std::u16string_view text, const VersionQuad& bound) {
    const auto parts = ParseVersionText(text);
    const std::int32_t bounds[4] = {bound.major, bound.minor, bound.build, bound.revision};
    for (int i = 0; i < 4; ++i) {
        if (parts[i] != bounds[i]) return parts[i] > bounds[i] ? 1 : -1;
    }
    return 0;
}

}  // namespace

std::optional<VersionQuad> ReadFileVersion(const std::u16string& path) {
    if (path.empty()) return std::nullopt;
    const win::DWORD attributes = win::GetFileAttributesW(path.c_str());
    if (attributes == win::INVALID_FILE_ATTRIBUTES || (attributes & win::FILE_ATTRIBUTE_DIRECTORY))
        return std::nullopt;
    win::DWORD handle = 0;
    const win::DWORD size = win::GetFileVersionInfoSizeW(path.c_str(), &handle);
    if (size == 0) return std::nullopt;
    std::unique_ptr<std::byte[]> buffer(new (std::nothrow) std::byte[size]);
    if (!buffer) return std::nullopt;
    if (!win::GetFileVersionInfoW(path.c_str(), 0, size, buffer.get())) return std::nullopt;
    void* block = nullptr;
    win::UINT length = 0;
    if (!win::VerQueryValueW(buffer.get(), u"\\", &block, &length)) return std::nullopt;
    // A root block shorter than the fixed information, or one that does not lie inside the
    // buffer, is malformed: never read past it.
    const auto* start = static_cast<const std::byte*>(block);
    if (start == nullptr || length < sizeof(win::VS_FIXEDFILEINFO) || start < buffer.get() ||
        static_cast<std::size_t>(start - buffer.get()) + sizeof(win::VS_FIXEDFILEINFO) > size)
        return std::nullopt;
    win::VS_FIXEDFILEINFO info;
    std::memcpy(&info, block, sizeof info);
    return VersionQuad{static_cast<std::uint16_t>(info.dwFileVersionMS >> 16),
                       static_cast<std::uint16_t>(info.dwFileVersionMS & 0xFFFF),
                       static_cast<std::uint16_t>(info.dwFileVersionLS >> 16),
                       static_cast<std::uint16_t>(info.dwFileVersionLS & 0xFFFF)};
}

std::array<std::int32_t, 4> ParseVersionText(std::u16string_view text) {
    std::array<std::int32_t, 4> parts{};
    std::u16string_view rest = text;
    for (int i = 0; i < 3; ++i) {
        const std::size_t dot = rest.find(u'.');
        if (dot == std::u16string_view::npos) {
            parts[i] = ToInt(rest);  // no dot: the rest stays for the next part too
        } else {
            parts[i] = ToInt(rest.substr(0, dot));
            rest = rest.substr(dot + 1);
        }
    }
    parts[3] = ToInt(rest);
    return parts;
}

bool VersionAtLeast(std::u16string_view text, const VersionQuad& bound) {
    return !text.empty() && CompareText(text, bound) >= 0;
}

bool VersionAtMost(std::u16string_view text, const VersionQuad& bound) {
    return !text.empty() && CompareText(text, bound) <= 0;
}

bool SameVersionText(std::u16string_view a, std::u16string_view b) {
    return !a.empty() && !b.empty() && ParseVersionText(a) == ParseVersionText(b);
}

bool InVersionRange(const VersionQuad& version, const VersionQuad& low, const VersionQuad& high) {
    return low <= version && version <= high;
}
