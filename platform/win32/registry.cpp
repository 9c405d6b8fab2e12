// The registry, forwarded to Windows.
#include "platform/win32/bridge.h"

auto win::RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, HKEY* result)
    -> LSTATUS {
    return ::RegOpenKeyExW(sdk(key), sdk(subKey), options, access, sdk(result));
}
auto win::RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options,
                          REGSAM access, SECURITY_ATTRIBUTES* security, HKEY* result,
                          DWORD* disposition) -> LSTATUS {
    return ::RegCreateKeyExW(sdk(key), sdk(subKey), reserved, sdk(keyClass), options, access,
                             sdk(security), sdk(result), sdk(disposition));
}
auto win::RegCloseKey(HKEY key) -> LSTATUS {
    return ::RegCloseKey(sdk(key));
}
auto win::RegQueryValueExW(HKEY key, LPCWSTR valueName, DWORD* reserved, DWORD* type, BYTE* data,
                           DWORD* dataSize) -> LSTATUS {
    return ::RegQueryValueExW(sdk(key), sdk(valueName), sdk(reserved), sdk(type), data,
                              sdk(dataSize));
}
auto win::RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                         DWORD dataSize) -> LSTATUS {
    return ::RegSetValueExW(sdk(key), sdk(valueName), reserved, type, data, dataSize);
}
auto win::RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, DWORD* nameLength, DWORD* reserved,
                        LPWSTR keyClass, DWORD* classLength, FILETIME* lastWriteTime) -> LSTATUS {
    return ::RegEnumKeyExW(sdk(key), index, sdk(name), sdk(nameLength), sdk(reserved),
                           sdk(keyClass), sdk(classLength), sdk(lastWriteTime));
}
auto win::RegDeleteKeyW(HKEY key, LPCWSTR subKey) -> LSTATUS {
    return ::RegDeleteKeyW(sdk(key), sdk(subKey));
}
