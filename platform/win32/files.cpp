// Files, forwarded to Windows.
#include "platform/win32/bridge.h"

auto win::GetFileAttributesW(LPCWSTR path) -> DWORD {
    return ::GetFileAttributesW(sdk(path));
}
