#include "inspect/reg_key.h"

#include "platform/constants.h"
#include "run/preflight_checks.h"

namespace {

constexpr win::DWORD kViewBits = win::KEY_WOW64_32KEY | win::KEY_WOW64_64KEY;
constexpr win::REGSAM kReadWrite = win::KEY_READ | win::KEY_WRITE;

// RegDeleteKeyExW is looked up once per process, at the first deletion.
win::RegDeleteKeyExWProc DeleteKeyEx() {
    static const win::RegDeleteKeyExWProc proc = [] {
        const win::HMODULE advapi = win::GetModuleHandleW(u"Advapi32.dll");
        return advapi ? reinterpret_cast<win::RegDeleteKeyExWProc>(
                            win::GetProcAddress(advapi, "RegDeleteKeyExW"))
                      : nullptr;
    }();
    return proc;
}

}  // namespace

CRegKeyEx::~CRegKeyEx() {
    Close();
}

win::LONG CRegKeyEx::Hold(win::HKEY key, win::DWORD view) {
    const win::LONG closed = Close();
    handle_ = key;
    view_ = view;
    return closed;
}

win::LONG CRegKeyEx::Open(win::HKEY parent, const char16_t* path, win::REGSAM access) {
    win::HKEY key = nullptr;
    const win::LONG result = win::RegOpenKeyExW(parent, path, 0, access, &key);
    if (result != win::ERROR_SUCCESS) return result;
    return Hold(key, access & kViewBits);
}

win::LONG CRegKeyEx::Create(win::HKEY parent, const char16_t* path) {
    win::HKEY key = nullptr;
    win::DWORD disposition = 0;
    const win::LONG result =
        win::RegCreateKeyExW(parent, path, 0, nullptr, win::REG_OPTION_NON_VOLATILE, kReadWrite,
                             nullptr, &key, &disposition);
    if (result != win::ERROR_SUCCESS) return result;
    return Hold(key, 0);
}

win::LONG CRegKeyEx::Close() {
    win::LONG result = win::ERROR_SUCCESS;
    if (handle_ != nullptr) {
        result = win::RegCloseKey(handle_);
        handle_ = nullptr;
    }
    view_ = 0;
    return result;
}

win::LONG CRegKeyEx::QueryString(const char16_t* name, std::u16string& text) {
    win::DWORD type = 0;
    win::DWORD size = 0;
    win::LONG result = win::RegQueryValueExW(handle_, name, nullptr, &type, nullptr, &size);
    if (result != win::ERROR_SUCCESS) return result;
    if (type != win::REG_SZ && type != win::REG_EXPAND_SZ) return win::ERROR_INVALID_DATA;

    const win::DWORD chars = size / 2;
    std::u16string buffer(chars + 1, u'\0');
    win::DWORD read = chars * 2;
    result = win::RegQueryValueExW(handle_, name, nullptr, &type,
                                   reinterpret_cast<win::BYTE*>(buffer.data()), &read);
    if (result == win::ERROR_SUCCESS) {
        if (type != win::REG_SZ && type != win::REG_EXPAND_SZ) {
            result = win::ERROR_INVALID_DATA;
        } else if (read == 0) {
            text.clear();
            return win::ERROR_SUCCESS;
        } else if (read % 2 != 0 || buffer[read / 2 - 1] != u'\0') {
            result = win::ERROR_INVALID_DATA;
        }
    }
    // The buffer always ends in a NUL of our own, so this never reads past it.
    text.assign(buffer.c_str());
    return result;
}

win::LONG CRegKeyEx::SetString(const char16_t* name, const char16_t* text) {
    if (text == nullptr) return win::ERROR_INVALID_DATA;
    const std::u16string_view value(text);
    return win::RegSetValueExW(handle_, name, 0, win::REG_SZ,
                               reinterpret_cast<const win::BYTE*>(value.data()),
                               static_cast<win::DWORD>((value.size() + 1) * 2));
}

win::LONG CRegKeyEx::DeleteSubKey(const char16_t* name) {
    if (const win::RegDeleteKeyExWProc deleteEx = DeleteKeyEx())
        return deleteEx(handle_, name, view_, 0);
    return win::RegDeleteKeyW(handle_, name);
}

win::LONG CRegKeyEx::DeleteTree(const char16_t* name) {
    CRegKeyEx key;
    const win::LONG opened = key.Open(handle_, name, kReadWrite | view_);
    if (opened != win::ERROR_SUCCESS) return opened;
    for (;;) {
        char16_t child[256];
        win::DWORD length = 256;
        if (win::RegEnumKeyExW(key.handle_, 0, child, &length, nullptr, nullptr, nullptr,
                               nullptr) != win::ERROR_SUCCESS)
            break;
        const win::LONG result = key.DeleteTree(child);
        if (result != win::ERROR_SUCCESS) return result;
    }
    key.Close();
    return DeleteSubKey(name);
}

win::LONG OpenForRead(CRegKeyEx& key, const char16_t* path) {
    const bool is64 = IsNative64BitProcessor();
    win::LONG result =
        key.Open(win::HKEY_LOCAL_MACHINE, path, win::KEY_READ | (is64 ? win::KEY_WOW64_32KEY : 0));
    if (result != win::ERROR_SUCCESS && is64)
        result = key.Open(win::HKEY_LOCAL_MACHINE, path, win::KEY_READ | win::KEY_WOW64_64KEY);
    return result;
}

std::u16string ReadMachineText(const char16_t* path, const char16_t* name) {
    std::u16string text;
    CRegKeyEx key;
    if (OpenForRead(key, path) == win::ERROR_SUCCESS) key.QueryString(name, text);
    return text;
}
