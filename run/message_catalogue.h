// The program's numbered messages, from the string table in its own resources. The
// resource loader picks the language.
#pragma once

#include <cstdint>
#include <string>

// Empty when the id is absent.
std::u16string LoadMessage(std::uint16_t id);

// The message with its one "%08x" placeholder filled from the code.
std::u16string FormatMessageWithCode(std::uint16_t id, std::uint32_t code);
