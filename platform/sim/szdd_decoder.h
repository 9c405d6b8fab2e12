// Expanding SZDD compressed files (the format the Windows LZ expansion functions read).
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace sim {

// Header: signature, mode 'A', missing character, uncompressed length (32-bit LE).
inline constexpr std::uint8_t kSzddSignature[8] = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33};
inline constexpr std::size_t kSzddHeaderSize = 14;
// Lengths above this are refused so that a hostile header cannot demand a huge buffer.
inline constexpr std::uint32_t kSzddMaxLength = 256u * 1024u * 1024u;

// The expanded contents of an SZDD file, or nothing when the file is corrupt. Corrupt means:
// shorter than the header, wrong signature, mode other than 'A', header length above
// kSzddMaxLength, a match item cut after its first byte, or a stream that expands to more or
// fewer bytes than the header's length. Unused flag bits after the last item are ignored, as
// is a trailing flag byte with no items after it.
std::optional<std::vector<std::uint8_t>> DecodeSzdd(std::span<const std::uint8_t> file);

// What the LZ expansion functions make of the stream after the header: items are decoded
// until the bytes run out, whatever length the header claims, and an item cut short by the
// end is dropped. Nothing here is refused; the output is bounded by the input (at most 144
// bytes for every 17), so no claim of the file sizes a buffer.
std::vector<std::uint8_t> ExpandSzddStream(std::span<const std::uint8_t> stream);

}  // namespace sim
