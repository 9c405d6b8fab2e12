// Resources of a module and message boxes, forwarded to Windows.
#include "platform/win32/bridge.h"

auto win::FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) -> HRSRC {
    return reinterpret_cast<HRSRC>(::FindResourceW(sdk(module), sdk(name), sdk(type)));
}
auto win::FindResourceExW(HMODULE module, LPCWSTR type, LPCWSTR name, LANGID language) -> HRSRC {
    return reinterpret_cast<HRSRC>(::FindResourceExW(sdk(module), sdk(type), sdk(name), language));
}
auto win::LoadResource(HMODULE module, HRSRC resource) -> HGLOBAL {
    return ::LoadResource(sdk(module), sdk(resource));
}
auto win::LockResource(HGLOBAL data) -> void* {
    return ::LockResource(data);
}
auto win::SizeofResource(HMODULE module, HRSRC resource) -> DWORD {
    return ::SizeofResource(sdk(module), sdk(resource));
}

auto win::MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) -> int {
    return ::MessageBoxW(sdk(owner), sdk(text), sdk(caption), type);
}
