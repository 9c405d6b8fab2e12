// Loaded modules and run-time binding, forwarded to Windows.
#include "platform/win32/bridge.h"

auto win::GetModuleHandleW(LPCWSTR moduleName) -> HMODULE {
    return reinterpret_cast<HMODULE>(::GetModuleHandleW(sdk(moduleName)));
}
auto win::GetModuleHandleA(const char* moduleName) -> HMODULE {
    return reinterpret_cast<HMODULE>(::GetModuleHandleA(moduleName));
}
auto win::GetProcAddress(HMODULE module, const char* procName) -> FARPROC {
    // Our FARPROC is void(*)(), which any function pointer converts to without a warning.
    return reinterpret_cast<FARPROC>(::GetProcAddress(sdk(module), procName));
}
auto win::LoadLibraryW(LPCWSTR fileName) -> HMODULE {
    return reinterpret_cast<HMODULE>(::LoadLibraryW(sdk(fileName)));
}
auto win::FreeLibrary(HMODULE module) -> BOOL {
    return ::FreeLibrary(sdk(module));
}
auto win::GetSystemDirectoryW(LPWSTR buffer, UINT size) -> UINT {
    return ::GetSystemDirectoryW(sdk(buffer), size);
}
