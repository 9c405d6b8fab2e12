// The shell's path and folder helpers (shell32, shlwapi), forwarded to Windows.
#include "platform/win32/bridge.h"
// Need <windows.h> first.
#include <shlobj.h>
#include <shlwapi.h>

auto win::SHCreateDirectory(HWND owner, LPCWSTR path) -> int {
    return ::SHCreateDirectory(sdk(owner), sdk(path));
}
auto win::PathFindFileNameW(LPCWSTR path) -> LPWSTR {
    return reinterpret_cast<LPWSTR>(::PathFindFileNameW(sdk(path)));
}
auto win::PathFileExistsW(LPCWSTR path) -> BOOL {
    return ::PathFileExistsW(sdk(path));
}
