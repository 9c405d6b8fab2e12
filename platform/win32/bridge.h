// Private to the win32 back-end: the SDK and our interface side by side, the checks that
// our types match the SDK's, and the conversions the forwarders use once a match is proven.
#pragma once

#include <windows.h>

#include <cstddef>
#include <type_traits>

#include "platform/api.h"

// A pointer to one of our structs may be handed to Windows only if the whole layout agrees.
#define PLATFORM_SAME_SIZE(ours, sdk)                                           \
    static_assert(sizeof(ours) == sizeof(sdk) && alignof(ours) == alignof(sdk), \
                  #ours " differs in size from the SDK's")
#define PLATFORM_SAME_FIELD(ours, sdk, field)                      \
    static_assert(offsetof(ours, field) == offsetof(sdk, field) && \
                      sizeof(ours::field) == sizeof(sdk::field),   \
                  #ours "::" #field " differs from the SDK's")

// Same width and signedness, so values pass unchanged and pointers to them can be cast.
#define PLATFORM_SAME_SCALAR(ours, sdk)                                                           \
    static_assert(sizeof(ours) == sizeof(sdk) && std::is_signed_v<ours> == std::is_signed_v<sdk>, \
                  #ours " differs from the SDK's")

PLATFORM_SAME_SCALAR(win::BYTE, ::BYTE);
PLATFORM_SAME_SCALAR(win::WORD, ::WORD);
PLATFORM_SAME_SCALAR(win::DWORD, ::DWORD);
PLATFORM_SAME_SCALAR(win::LONG, ::LONG);
PLATFORM_SAME_SCALAR(win::BOOL, ::BOOL);
PLATFORM_SAME_SCALAR(win::UINT, ::UINT);
PLATFORM_SAME_SCALAR(win::HRESULT, ::HRESULT);
PLATFORM_SAME_SCALAR(win::LSTATUS, ::LSTATUS);
PLATFORM_SAME_SCALAR(win::REGSAM, ::REGSAM);
PLATFORM_SAME_SCALAR(win::LANGID, ::LANGID);
PLATFORM_SAME_SCALAR(win::ULONG_PTR, ::ULONG_PTR);
PLATFORM_SAME_SCALAR(win::LONG_PTR, ::LONG_PTR);
PLATFORM_SAME_SCALAR(win::UINT_PTR, ::UINT_PTR);
PLATFORM_SAME_SCALAR(win::WPARAM, ::WPARAM);
PLATFORM_SAME_SCALAR(win::LPARAM, ::LPARAM);
PLATFORM_SAME_SCALAR(win::LRESULT, ::LRESULT);
static_assert(sizeof(win::WCHAR) == sizeof(::WCHAR), "our strings must be UTF-16 like the SDK's");
static_assert(sizeof(win::HANDLE) == sizeof(::HANDLE) && sizeof(win::HKEY) == sizeof(::HKEY) &&
                  sizeof(win::HMODULE) == sizeof(::HMODULE) &&
                  sizeof(win::HRSRC) == sizeof(::HRSRC) && sizeof(win::HWND) == sizeof(::HWND) &&
                  sizeof(win::FARPROC) == sizeof(::FARPROC),
              "handles must be pointer-sized like the SDK's");

PLATFORM_SAME_SIZE(win::SECURITY_ATTRIBUTES, ::SECURITY_ATTRIBUTES);
PLATFORM_SAME_FIELD(win::SECURITY_ATTRIBUTES, ::SECURITY_ATTRIBUTES, nLength);
PLATFORM_SAME_FIELD(win::SECURITY_ATTRIBUTES, ::SECURITY_ATTRIBUTES, lpSecurityDescriptor);
PLATFORM_SAME_FIELD(win::SECURITY_ATTRIBUTES, ::SECURITY_ATTRIBUTES, bInheritHandle);

PLATFORM_SAME_SIZE(win::FILETIME, ::FILETIME);
PLATFORM_SAME_FIELD(win::FILETIME, ::FILETIME, dwLowDateTime);
PLATFORM_SAME_FIELD(win::FILETIME, ::FILETIME, dwHighDateTime);

// Our types to the SDK's, for arguments. Values (integers, void* handles) need no conversion.
namespace win {
inline const wchar_t* sdk(LPCWSTR text) {
    return reinterpret_cast<const wchar_t*>(text);
}
inline wchar_t* sdk(LPWSTR text) {
    return reinterpret_cast<wchar_t*>(text);
}
inline ::DWORD* sdk(DWORD* value) {
    return reinterpret_cast<::DWORD*>(value);
}
inline ::HKEY sdk(HKEY key) {
    return reinterpret_cast<::HKEY>(key);
}
inline ::HKEY* sdk(HKEY* key) {
    return reinterpret_cast<::HKEY*>(key);
}
inline ::HMODULE sdk(HMODULE module) {
    return reinterpret_cast<::HMODULE>(module);
}
inline ::HRSRC sdk(HRSRC resource) {
    return reinterpret_cast<::HRSRC>(resource);
}
inline ::HWND sdk(HWND window) {
    return reinterpret_cast<::HWND>(window);
}
inline ::SECURITY_ATTRIBUTES* sdk(SECURITY_ATTRIBUTES* attributes) {
    return reinterpret_cast<::SECURITY_ATTRIBUTES*>(attributes);
}
inline ::FILETIME* sdk(FILETIME* time) {
    return reinterpret_cast<::FILETIME*>(time);
}
}  // namespace win
