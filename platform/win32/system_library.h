// Binding DLLs at run time. The program runs elevated, often from a downloads folder, so a
// DLL that is not a known DLL is loaded by its full path in the system folder, never by name.
#pragma once

#include <windows.h>

namespace win32 {

// The DLL from the system folder, or null (with the last error set) if it cannot be loaded.
HMODULE LoadSystemLibrary(const wchar_t* fileName);

// An export of `module` as a typed pointer; null if the module is null or lacks it.
template <class Function>
Function BindProc(HMODULE module, const char* name) {
    if (module == nullptr) return nullptr;
    // Through void(*)(), the one function type every other converts to without a warning.
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(::GetProcAddress(module, name)));
}

}  // namespace win32
