#include "platform/win32/system_library.h"

#include <cwchar>

namespace win32 {

HMODULE LoadSystemLibrary(const wchar_t* fileName) {
    wchar_t path[MAX_PATH];
    const UINT folderLength = ::GetSystemDirectoryW(path, MAX_PATH);
    // 0 is failure; a result not below the buffer size is the size it would have needed.
    if (folderLength == 0 || folderLength >= MAX_PATH) return nullptr;
    const std::size_t nameLength = std::wcslen(fileName);
    if (folderLength + 1 + nameLength >= MAX_PATH) {
        ::SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return nullptr;
    }
    path[folderLength] = L'\\';
    std::wmemcpy(path + folderLength + 1, fileName, nameLength + 1);
    return ::LoadLibraryW(path);
}

}  // namespace win32
