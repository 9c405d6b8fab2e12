// Version information of files. version.dll is not a known DLL, so a static import could be
// satisfied by a planted copy next to the exe: it is bound at run time from the system folder.
#include "platform/win32/bridge.h"
#include "platform/win32/system_library.h"

PLATFORM_SAME_SIZE(win::VS_FIXEDFILEINFO, ::VS_FIXEDFILEINFO);
PLATFORM_SAME_FIELD(win::VS_FIXEDFILEINFO, ::VS_FIXEDFILEINFO, dwSignature);
PLATFORM_SAME_FIELD(win::VS_FIXEDFILEINFO, ::VS_FIXEDFILEINFO, dwStrucVersion);
PLATFORM_SAME_FIELD(win::VS_FIXEDFILEINFO, ::VS_FIXEDFILEINFO, dwFileVersionMS);
PLATFORM_SAME_FIELD(win::VS_FIXEDFILEINFO, ::VS_FIXEDFILEINFO, dwFileVersionLS);
PLATFORM_SAME_FIELD(win::VS_FIXEDFILEINFO, ::VS_FIXEDFILEINFO, dwProductVersionMS);
PLATFORM_SAME_FIELD(win::VS_FIXEDFILEINFO, ::VS_FIXEDFILEINFO, dwProductVersionLS);
PLATFORM_SAME_FIELD(win::VS_FIXEDFILEINFO, ::VS_FIXEDFILEINFO, dwFileFlagsMask);
PLATFORM_SAME_FIELD(win::VS_FIXEDFILEINFO, ::VS_FIXEDFILEINFO, dwFileFlags);
PLATFORM_SAME_FIELD(win::VS_FIXEDFILEINFO, ::VS_FIXEDFILEINFO, dwFileOS);
PLATFORM_SAME_FIELD(win::VS_FIXEDFILEINFO, ::VS_FIXEDFILEINFO, dwFileType);
PLATFORM_SAME_FIELD(win::VS_FIXEDFILEINFO, ::VS_FIXEDFILEINFO, dwFileSubtype);
PLATFORM_SAME_FIELD(win::VS_FIXEDFILEINFO, ::VS_FIXEDFILEINFO, dwFileDateMS);
PLATFORM_SAME_FIELD(win::VS_FIXEDFILEINFO, ::VS_FIXEDFILEINFO, dwFileDateLS);

namespace {

// The SDK declarations give the exact signatures; decltype does not import anything.
struct VersionLibrary {
    decltype(&::GetFileVersionInfoSizeW) getSize = nullptr;
    decltype(&::GetFileVersionInfoW) getInfo = nullptr;
    decltype(&::VerQueryValueW) query = nullptr;
};

// Bound on first use, once for the process; the static's initialisation is thread-safe.
// The module stays loaded for the life of the process.
const VersionLibrary& Version() {
    static const VersionLibrary library = [] {
        const HMODULE module = win32::LoadSystemLibrary(L"version.dll");
        return VersionLibrary{
            win32::BindProc<decltype(&::GetFileVersionInfoSizeW)>(module,
                                                                  "GetFileVersionInfoSizeW"),
            win32::BindProc<decltype(&::GetFileVersionInfoW)>(module, "GetFileVersionInfoW"),
            win32::BindProc<decltype(&::VerQueryValueW)>(module, "VerQueryValueW"),
        };
    }();
    return library;
}

// A function that could not be bound fails as the call itself would.
template <class Result>
Result Unbound(Result failure) {
    ::SetLastError(ERROR_PROC_NOT_FOUND);
    return failure;
}

}  // namespace

auto win::GetFileVersionInfoSizeW(LPCWSTR path, DWORD* handle) -> DWORD {
    const auto bound = Version().getSize;
    return bound ? bound(sdk(path), sdk(handle)) : Unbound<DWORD>(0);
}
auto win::GetFileVersionInfoW(LPCWSTR path, DWORD handle, DWORD length, void* data) -> BOOL {
    const auto bound = Version().getInfo;
    return bound ? bound(sdk(path), handle, length, data) : Unbound<BOOL>(FALSE);
}
auto win::VerQueryValueW(const void* block, LPCWSTR subBlock, void** buffer, UINT* length) -> BOOL {
    const auto bound = Version().query;
    return bound ? bound(block, sdk(subBlock), buffer, length) : Unbound<BOOL>(FALSE);
}
