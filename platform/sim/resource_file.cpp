#include "platform/sim/resource_file.h"

#include <cstring>

namespace sim {

namespace {

// Bounds-checked little-endian reads: every offset comes from untrusted bytes.
struct Reader {
    std::span<const std::uint8_t> bytes;

    bool Has(std::size_t at, std::size_t n) const {
        return at <= bytes.size() && n <= bytes.size() - at;
    }
    std::uint16_t U16(std::size_t at) const {
        return Has(at, 2) ? static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8) : 0;
    }
    std::uint32_t U32(std::size_t at) const {
        return Has(at, 4) ? static_cast<std::uint32_t>(U16(at) | std::uint32_t{U16(at + 2)} << 16)
                          : 0;
    }
};

// A type or name field of a .res header: 0xFFFF and an id, or a NUL-terminated string.
bool ReadId(const Reader& r, std::size_t& at, std::size_t end, ResourceId& out) {
    if (at + 2 > end) return false;
    if (r.U16(at) == 0xFFFF) {
        if (at + 4 > end) return false;
        out.id = r.U16(at + 2);
        at += 4;
        return true;
    }
    for (; at + 2 <= end; at += 2) {
        const char16_t c = static_cast<char16_t>(r.U16(at));
        if (c == 0) {
            at += 2;
            return true;
        }
        out.name += c;
    }
    return false;
}

}  // namespace

std::vector<ResourceEntry> ParseResFile(std::span<const std::uint8_t> file) {
    const Reader r{file};
    std::vector<ResourceEntry> entries;
    std::size_t at = 0;
    while (at + 8 <= file.size()) {
        const std::uint32_t dataSize = r.U32(at);
        const std::uint32_t headerSize = r.U32(at + 4);
        if (headerSize < 16 || !r.Has(at, headerSize) || !r.Has(at + headerSize, dataSize))
            return {};
        ResourceEntry entry;
        std::size_t field = at + 8;
        const std::size_t headerEnd = at + headerSize;
        if (!ReadId(r, field, headerEnd, entry.type) || !ReadId(r, field, headerEnd, entry.name))
            return {};
        field = (field + 3) & ~std::size_t{3};
        // DataVersion, MemoryFlags, LanguageId, Version, Characteristics.
        entry.language = r.U16(field + 6);
        entry.data = file.subspan(at + headerSize, dataSize);
        // The file starts with an empty entry that only marks the format.
        if (!(dataSize == 0 && entry.type.id == 0 && entry.type.name.empty()))
            entries.push_back(std::move(entry));
        at = (at + headerSize + dataSize + 3) & ~std::size_t{3};
    }
    return entries;
}

std::optional<std::span<const std::uint8_t>> FindPeResource(std::span<const std::uint8_t> image,
                                                            std::uint16_t type) {
    const Reader r{image};
    if (r.U16(0) != 0x5A4D) return std::nullopt;  // "MZ"
    const std::uint32_t pe = r.U32(0x3C);
    if (r.U32(pe) != 0x00004550) return std::nullopt;  // "PE\0\0"
    const std::uint16_t sections = r.U16(pe + 6);
    const std::uint16_t optionalSize = r.U16(pe + 20);
    const std::size_t optional = pe + 24;
    const std::uint16_t magic = r.U16(optional);
    const std::size_t directories = optional + (magic == 0x20B ? 112 : 96);
    if (magic != 0x10B && magic != 0x20B) return std::nullopt;
    if (directories + 3 * 8 > optional + optionalSize) return std::nullopt;
    const std::uint32_t resourceRva = r.U32(directories + 2 * 8);
    if (resourceRva == 0) return std::nullopt;

    // File offset of an RVA through the section table.
    const std::size_t table = optional + optionalSize;
    auto toOffset = [&](std::uint32_t rva) -> std::optional<std::size_t> {
        for (std::uint16_t i = 0; i < sections; ++i) {
            const std::size_t s = table + 40u * i;
            const std::uint32_t va = r.U32(s + 12), rawSize = r.U32(s + 16), raw = r.U32(s + 20);
            if (rva >= va && rva - va < rawSize) return std::size_t{raw} + (rva - va);
        }
        return std::nullopt;
    };
    const auto root = toOffset(resourceRva);
    if (!root) return std::nullopt;

    // Three directory levels: type, name, language; take the first name and language.
    auto entryAt = [&](std::size_t directory,
                       std::optional<std::uint16_t> wanted) -> std::optional<std::uint32_t> {
        const std::size_t count = std::size_t{r.U16(directory + 12)} + r.U16(directory + 14);
        for (std::size_t i = 0; i < count; ++i) {
            const std::size_t e = directory + 16 + 8 * i;
            if (!r.Has(e, 8)) return std::nullopt;
            const std::uint32_t id = r.U32(e);
            if (!wanted || (!(id & 0x80000000u) && id == *wanted)) return r.U32(e + 4);
        }
        return std::nullopt;
    };
    std::size_t directory = *root;
    for (int level = 0; level < 3; ++level) {
        const auto next =
            entryAt(directory, level == 0 ? std::optional<std::uint16_t>(type) : std::nullopt);
        if (!next) return std::nullopt;
        const bool isDirectory = (*next & 0x80000000u) != 0;
        if (isDirectory != (level < 2)) return std::nullopt;
        directory = *root + (*next & 0x7FFFFFFFu);
        if (!r.Has(directory, 16)) return std::nullopt;
    }
    const auto data = toOffset(r.U32(directory));
    const std::uint32_t size = r.U32(directory + 4);
    if (!data || !r.Has(*data, size)) return std::nullopt;
    return image.subspan(*data, size);
}

}  // namespace sim
