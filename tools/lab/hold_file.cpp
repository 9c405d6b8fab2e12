// hold_file: another process holding a file open the way a running program holds a library
// it loaded: read access, sharing read and delete but not write, so the file can be renamed
// but not overwritten. Runs until it is ended.
//
//   hold_file.exe        lab_run starts companions without arguments, so the environment
//                        says what to do: LAB_HOLD_FILE names the file, and
//                        LAB_HOLD_SHARE=read shares reading only (the file can then be
//                        neither overwritten nor renamed)
#include <windows.h>

#include <cstdio>
#include <string>

int wmain() {
    wchar_t path[32768];
    const DWORD length = GetEnvironmentVariableW(L"LAB_HOLD_FILE", path, 32768);
    if (length == 0 || length >= 32768) {
        std::fwprintf(stderr, L"hold_file: LAB_HOLD_FILE is not set\n");
        return 1;
    }
    wchar_t share[16] = L"";
    GetEnvironmentVariableW(L"LAB_HOLD_SHARE", share, 16);
    const DWORD sharing =
        std::wstring(share) == L"read" ? FILE_SHARE_READ : FILE_SHARE_READ | FILE_SHARE_DELETE;
    const HANDLE file = CreateFileW(path, GENERIC_READ, sharing, nullptr, OPEN_EXISTING,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        std::fwprintf(stderr, L"hold_file: cannot open %ls, error %lu\n", path, GetLastError());
        return 1;
    }
    Sleep(INFINITE);
    CloseHandle(file);
    return 0;
}
