#include "platform/sim/szdd_decoder.h"

#include <algorithm>
#include <array>

namespace sim {

namespace {

enum class Stop { End, Cut, Overrun };

// Decodes `stream` into `out` until its bytes run out, or until the output would pass
// `limit`. Returns why it stopped: the end of the stream, an item cut short by that end,
// or an item that would write past `limit`.
Stop Expand(std::span<const std::uint8_t> stream, std::uint64_t limit,
            std::vector<std::uint8_t>& out) {
    std::array<std::uint8_t, 4096> ring;
    ring.fill(' ');
    std::size_t write = 4096 - 16;
    std::size_t in = 0;

    const auto put = [&](std::uint8_t c) {
        out.push_back(c);
        ring[write] = c;
        write = (write + 1) & 0xFFF;
    };

    while (in < stream.size()) {
        const std::uint8_t flags = stream[in++];
        for (int bit = 0; bit < 8 && in < stream.size(); ++bit) {
            if (flags & (1u << bit)) {
                if (out.size() >= limit) return Stop::Overrun;
                put(stream[in++]);
                continue;
            }
            if (in + 1 >= stream.size()) return Stop::Cut;  // a match cut after its first byte
            const std::uint8_t b1 = stream[in];
            const std::uint8_t b2 = stream[in + 1];
            in += 2;
            const std::size_t offset = b1 | (static_cast<std::size_t>(b2 & 0xF0) << 4);
            const std::size_t count = (b2 & 0x0Fu) + 3u;
            if (count > limit - out.size()) return Stop::Overrun;
            // Byte by byte: the source may run into the bytes this match is writing.
            for (std::size_t k = 0; k < count; ++k) put(ring[(offset + k) & 0xFFF]);
        }
    }
    return Stop::End;
}

}  // namespace

std::optional<std::vector<std::uint8_t>> DecodeSzdd(std::span<const std::uint8_t> file) {
    if (file.size() < kSzddHeaderSize ||
        !std::equal(std::begin(kSzddSignature), std::end(kSzddSignature), file.begin())) {
        return std::nullopt;
    }
    if (file[8] != 'A') return std::nullopt;
    const std::uint32_t length =
        static_cast<std::uint32_t>(file[10]) | (static_cast<std::uint32_t>(file[11]) << 8) |
        (static_cast<std::uint32_t>(file[12]) << 16) | (static_cast<std::uint32_t>(file[13]) << 24);
    const std::span<const std::uint8_t> stream = file.subspan(kSzddHeaderSize);
    // One flag byte and up to eight 2-byte matches of 18 bytes each: a stream can never
    // expand by 9x or more, so a larger claim is a lie and must not size the buffer.
    if (length > kSzddMaxLength || length > 9 * static_cast<std::uint64_t>(stream.size())) {
        return std::nullopt;
    }
    std::vector<std::uint8_t> out;
    out.reserve(length);
    if (Expand(stream, length, out) != Stop::End || out.size() != length) return std::nullopt;
    return out;
}

std::vector<std::uint8_t> ExpandSzddStream(std::span<const std::uint8_t> stream) {
    std::vector<std::uint8_t> out;
    Expand(stream, UINT64_MAX, out);
    return out;
}

}  // namespace sim
