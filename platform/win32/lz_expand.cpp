// The LZ expansion functions. lz32.dll is not a known DLL, so a static import could be
// satisfied by a planted copy next to the exe: it is bound at run time from the system folder.
#include "platform/win32/bridge.h"
// Needs <windows.h> first (bridge.h), which leaves it out under WIN32_LEAN_AND_MEAN.
#include <lzexpand.h>

#include "platform/win32/system_library.h"

PLATFORM_SAME_SIZE(win::OFSTRUCT, ::OFSTRUCT);
PLATFORM_SAME_FIELD(win::OFSTRUCT, ::OFSTRUCT, cBytes);
PLATFORM_SAME_FIELD(win::OFSTRUCT, ::OFSTRUCT, fFixedDisk);
PLATFORM_SAME_FIELD(win::OFSTRUCT, ::OFSTRUCT, nErrCode);
PLATFORM_SAME_FIELD(win::OFSTRUCT, ::OFSTRUCT, Reserved1);
PLATFORM_SAME_FIELD(win::OFSTRUCT, ::OFSTRUCT, Reserved2);
PLATFORM_SAME_FIELD(win::OFSTRUCT, ::OFSTRUCT, szPathName);
PLATFORM_SAME_SCALAR(win::INT, ::INT);

namespace {

// The SDK declarations give the exact signatures; decltype does not import anything.
struct LzLibrary {
    decltype(&::LZOpenFileW) open = nullptr;
    decltype(&::LZCopy) copy = nullptr;
    decltype(&::LZClose) close = nullptr;
};

// Bound on first use, once for the process; the static's initialisation is thread-safe.
// The module stays loaded for the life of the process.
const LzLibrary& Lz() {
    static const LzLibrary library = [] {
        const HMODULE module = win32::LoadSystemLibrary(L"lz32.dll");
        return LzLibrary{
            win32::BindProc<decltype(&::LZOpenFileW)>(module, "LZOpenFileW"),
            win32::BindProc<decltype(&::LZCopy)>(module, "LZCopy"),
            win32::BindProc<decltype(&::LZClose)>(module, "LZClose"),
        };
    }();
    return library;
}

}  // namespace

// A function that could not be bound fails as the call does for a handle it cannot use.
auto win::LZOpenFileW(LPWSTR fileName, OFSTRUCT* reOpenBuffer, WORD style) -> INT {
    const auto bound = Lz().open;
    if (bound == nullptr) {
        ::SetLastError(ERROR_PROC_NOT_FOUND);
        return LZERROR_BADINHANDLE;
    }
    return bound(sdk(fileName), reinterpret_cast<::OFSTRUCT*>(reOpenBuffer), style);
}
auto win::LZCopy(INT source, INT destination) -> LONG {
    const auto bound = Lz().copy;
    if (bound == nullptr) {
        ::SetLastError(ERROR_PROC_NOT_FOUND);
        return LZERROR_BADINHANDLE;
    }
    return bound(source, destination);
}
void win::LZClose(INT file) {
    if (const auto bound = Lz().close) bound(file);
}
