// Windows constants on our own types. The win32 back-end checks every value in
// constants.inc against the SDK at compile time.
#pragma once

#include "platform/api.h"

namespace win {

#define WIN_CONSTANT(type, name, value) inline constexpr type name = value;
#include "platform/constants.inc"
#undef WIN_CONSTANT

// Integer resource types (the SDK spells them as pointers, MAKEINTRESOURCE(n)).
inline constexpr WORD RT_ICON = 3;
inline constexpr WORD RT_DIALOG = 5;
inline constexpr WORD RT_STRING = 6;
inline constexpr WORD RT_GROUP_ICON = 14;
inline constexpr WORD RT_VERSION = 16;
inline constexpr WORD RT_MANIFEST = 24;

// Predefined keys, with the sign extension the SDK gives them on 64-bit builds.
inline HKEY PredefinedKey(LONG value) {
    return reinterpret_cast<HKEY>(static_cast<ULONG_PTR>(static_cast<LONG_PTR>(value)));
}
inline const HKEY HKEY_CLASSES_ROOT = PredefinedKey(static_cast<LONG>(0x80000000u));
inline const HKEY HKEY_LOCAL_MACHINE = PredefinedKey(static_cast<LONG>(0x80000002u));

inline const HANDLE INVALID_HANDLE_VALUE = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));

inline constexpr SID_IDENTIFIER_AUTHORITY SECURITY_NT_AUTHORITY = {{0, 0, 0, 0, 0, 5}};

}  // namespace win
