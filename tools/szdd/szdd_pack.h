// Writing SZDD compressed files (the format the Windows LZ expansion functions read).
#pragma once

#include <cstdint>
#include <span>
#include <vector>

namespace szdd {

// The SZDD file for `data`: the header (mode 'A', `missingChar`, the length) and the
// smallest LZ stream the format allows, found by an exact optimal parse. Throws
// std::length_error when `data` does not fit the header's 32-bit length.
std::vector<std::uint8_t> PackSzdd(std::span<const std::uint8_t> data, std::uint8_t missingChar);

}  // namespace szdd
