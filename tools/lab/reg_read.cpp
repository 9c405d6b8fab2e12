// reg_read: prints a registry key of HKEY_LOCAL_MACHINE or HKEY_CLASSES_ROOT as the program
// under test left it, for end-to-end tests to compare.
//
//   reg_read.exe VIEW KEYPATH    VIEW is 32 or 64; KEYPATH as HKLM\SOFTWARE\Name or HKCR\.ext
//
// Prints, in UTF-8, one line per value, its fields separated by tabs (names may hold
// spaces): "value NAME TYPE SIZE DATA" (NAME "@" for the default
// value; DATA is the text of REG_SZ data up to its first NUL, the strings of REG_MULTI_SZ
// joined with "|", or hexadecimal bytes), then one line per subkey: "key NAME".
// A missing key prints "missing" and exits with 2.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

namespace {

std::string Utf8(const std::wstring& text) {
    if (text.empty()) return {};
    const int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()),
                                         nullptr, 0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

std::string DataText(DWORD type, const std::vector<BYTE>& data) {
    const auto* chars = reinterpret_cast<const wchar_t*>(data.data());
    const size_t count = data.size() / sizeof(wchar_t);
    if (type == REG_SZ || type == REG_EXPAND_SZ) {
        size_t end = 0;
        while (end < count && chars[end] != 0) ++end;
        return Utf8(std::wstring(chars, end));
    }
    if (type == REG_MULTI_SZ) {
        std::wstring joined;
        for (size_t i = 0; i < count; ++i) joined += chars[i] ? chars[i] : L'|';
        return Utf8(joined);
    }
    std::string hex;
    char digits[3];
    for (BYTE b : data) {
        std::snprintf(digits, sizeof digits, "%02x", b);
        hex += digits;
    }
    return hex;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: reg_read.exe 32|64 HKLM\\KEY|HKCR\\KEY\n");
        return 1;
    }
    const REGSAM view = std::wstring(argv[1]) == L"32" ? KEY_WOW64_32KEY : KEY_WOW64_64KEY;
    std::wstring path = argv[2];
    HKEY root = HKEY_LOCAL_MACHINE;
    if (path.rfind(L"HKCR\\", 0) == 0) root = HKEY_CLASSES_ROOT;
    path = path.substr(5);
    HKEY key = nullptr;
    if (RegOpenKeyExW(root, path.c_str(), 0, KEY_READ | view, &key) != ERROR_SUCCESS) {
        std::printf("missing\n");
        return 2;
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[16384];
        DWORD nameLength = 16384, type = 0, size = 0;
        if (RegEnumValueW(key, i, name, &nameLength, nullptr, &type, nullptr, &size) !=
            ERROR_SUCCESS)
            break;
        std::vector<BYTE> data(size);
        nameLength = 16384;
        RegEnumValueW(key, i, name, &nameLength, nullptr, &type, data.data(), &size);
        const std::wstring shown = nameLength == 0 ? L"@" : std::wstring(name, nameLength);
        std::printf("value\t%s\t%lu\t%lu\t%s\n", Utf8(shown).c_str(), type, size,
                    DataText(type, data).c_str());
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD nameLength = 256;
        if (RegEnumKeyExW(key, i, name, &nameLength, nullptr, nullptr, nullptr, nullptr) !=
            ERROR_SUCCESS)
            break;
        std::printf("key\t%s\n", Utf8(std::wstring(name, nameLength)).c_str());
    }
    RegCloseKey(key);
    return 0;
}
