// Windows error numbers in the engine's HRESULT form.
#pragma once

#include "platform/api.h"

// HRESULT_FROM_WIN32: a positive error e becomes 0x80070000 | (e & 0xFFFF); zero and values
// that are already negative HRESULTs pass unchanged.
inline win::HRESULT HresultFromWin32(win::DWORD error) {
    const auto value = static_cast<win::HRESULT>(error);
    if (value <= 0) return value;
    return static_cast<win::HRESULT>(0x80070000u | (error & 0xFFFFu));
}
