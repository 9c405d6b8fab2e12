#include <windows.h>

#include "contract_machine.h"

namespace contract {

namespace {

std::wstring Wide(const std::u16string& text) {
    return {text.begin(), text.end()};
}

// Z: is the root of the Linux file system under Wine.
std::u16string WindowsPath(const char* unixPath) {
    std::u16string path = u"Z:";
    for (const char* p = unixPath; *p; ++p) path += *p == '/' ? u'\\' : static_cast<char16_t>(*p);
    return path;
}

// Removes a folder with everything in it; attributes that would stop a delete go first.
void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((folder + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring path = folder + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                RemoveTree(path);
            } else {
                SetFileAttributesW(path.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(path.c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    RemoveDirectoryW(folder.c_str());
}

}  // namespace

void PrepareMachine() {
    CreateDirectoryW(Wide(ScratchFolder()).c_str(), nullptr);
}

std::u16string FixturePath(const std::u16string& name) {
    return WindowsPath(FIXTURE_DIR) + u"\\" + name;
}

std::u16string ScratchFolder() {
    return WindowsPath(SCRATCH_DIR);
}

void WriteTextFile(const std::u16string& path, const std::string& content) {
    const HANDLE file = CreateFileW(Wide(path).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return;
    DWORD written = 0;
    WriteFile(file, content.data(), static_cast<DWORD>(content.size()), &written, nullptr);
    CloseHandle(file);
}

void MakeFolder(const std::u16string& path) {
    // Each level in turn; the \\?\ prefix and the drive are not folders to create.
    const std::size_t start = path.rfind(u"\\\\?\\", 0) == 0 ? 7 : 3;
    for (std::size_t at = path.find(u'\\', start);; at = path.find(u'\\', at + 1)) {
        CreateDirectoryW(Wide(path.substr(0, at)).c_str(), nullptr);
        if (at == std::u16string::npos) break;
    }
}

void CopyFixture(const std::u16string& name, const std::u16string& target) {
    CopyFileW(Wide(FixturePath(name)).c_str(), Wide(target).c_str(), FALSE);
}

bool RunsUnderWine() {
    const HMODULE ntdll = GetModuleHandleW(L"ntdll.dll");
    return ntdll && GetProcAddress(ntdll, "wine_get_version") != nullptr;
}

std::u16string FreshFolder(const std::u16string& name) {
    const std::u16string folder = ScratchFolder() + u"\\" + name;
    RemoveTree(Wide(folder));
    CreateDirectoryW(Wide(folder).c_str(), nullptr);
    return folder;
}

}  // namespace contract
