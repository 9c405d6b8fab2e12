#include "engine/file_replacement.h"

#include <cstdio>

#include "engine/hresult.h"
#include "engine/payload_extraction.h"
#include "platform/constants.h"

namespace {

constexpr win::DWORD kHiddenOrReadOnly = win::FILE_ATTRIBUTE_READONLY | win::FILE_ATTRIBUTE_HIDDEN;
constexpr win::DWORD kAttributeAccess = win::GENERIC_READ | win::FILE_WRITE_ATTRIBUTES;
constexpr win::HRESULT kSharingViolation = static_cast<win::HRESULT>(0x80070020u);

win::HRESULT LastError() {
    return HresultFromWin32(win::GetLastError());
}

std::u16string Widen(const char* text) {
    std::u16string wide;
    for (; *text; ++text) wide += static_cast<char16_t>(static_cast<unsigned char>(*text));
    return wide;
}

// Next to the target, unique per process and moment: "<target>.tmp.<pid>-<tick>".
std::u16string InUseName(const std::u16string& target) {
    char numbers[32];
    std::snprintf(numbers, sizeof numbers, ".tmp.%d-%d",
                  static_cast<int>(win::GetCurrentProcessId()),
                  static_cast<int>(win::GetTickCount()));
    return target + Widen(numbers);
}

// The handle-based attribute functions exist from Windows Vista on; older systems get the
// name-based method with the same effect.
struct BasicInfoFunctions {
    win::GetFileInformationByHandleExProc get = nullptr;
    win::SetFileInformationByHandleProc set = nullptr;
    explicit operator bool() const { return get && set; }
};

BasicInfoFunctions FindBasicInfoFunctions() {
    const win::HMODULE kernel = win::GetModuleHandleW(u"kernel32.dll");
    if (kernel == nullptr) return {};
    return {reinterpret_cast<win::GetFileInformationByHandleExProc>(
                win::GetProcAddress(kernel, "GetFileInformationByHandleEx")),
            reinterpret_cast<win::SetFileInformationByHandleProc>(
                win::GetProcAddress(kernel, "SetFileInformationByHandle"))};
}

// An open file handle, closed when it goes out of scope.
class AttributeHandle {
  public:
    explicit AttributeHandle(const std::u16string& path)
        : handle_(win::CreateFileW(path.c_str(), kAttributeAccess, win::FILE_SHARE_READ, nullptr,
                                   win::OPEN_EXISTING, win::FILE_ATTRIBUTE_NORMAL, nullptr)) {}
    ~AttributeHandle() {
        if (*this) win::CloseHandle(handle_);
    }
    AttributeHandle(const AttributeHandle&) = delete;
    AttributeHandle& operator=(const AttributeHandle&) = delete;
    explicit operator bool() const { return handle_ != win::INVALID_HANDLE_VALUE; }
    win::HANDLE get() const { return handle_; }

  private:
    win::HANDLE handle_;
};

bool ReadBasicInfo(const BasicInfoFunctions& f, win::HANDLE file, win::FILE_BASIC_INFO& info) {
    info = win::FILE_BASIC_INFO{};
    return f.get(file, win::FileBasicInfo, &info, sizeof info) != 0;
}

void WriteBasicInfo(const BasicInfoFunctions& f, win::HANDLE file, win::FILE_BASIC_INFO& info) {
    f.set(file, win::FileBasicInfo, &info, sizeof info);
}

// Clears read-only and hidden so the target can be deleted or overwritten. Failures are not
// reported: the delete or copy that follows reports its own error.
void ClearProtection(const std::u16string& target) {
    if (const BasicInfoFunctions f = FindBasicInfoFunctions()) {
        const AttributeHandle file(target);
        win::FILE_BASIC_INFO info;
        if (file && ReadBasicInfo(f, file.get(), info) &&
            (info.FileAttributes & kHiddenOrReadOnly) != 0) {
            info.FileAttributes &= ~kHiddenOrReadOnly;
            WriteBasicInfo(f, file.get(), info);
        }
        return;
    }
    const win::DWORD attributes = win::GetFileAttributesW(target.c_str());
    if (attributes != win::INVALID_FILE_ATTRIBUTES && (attributes & kHiddenOrReadOnly) != 0)
        win::SetFileAttributesW(target.c_str(), attributes & ~kHiddenOrReadOnly);
}

// Makes the target writable and gives the new file the target's former attributes (but
// never the encrypted bit), so a read-only or hidden file stays so after the update.
void PrepareAttributes(const std::u16string& target, const std::u16string& newFile) {
    if (const BasicInfoFunctions f = FindBasicInfoFunctions()) {
        win::DWORD attributes = 0;
        bool known = false;
        {
            const AttributeHandle file(target);
            if (!file) return;
            win::FILE_BASIC_INFO info;
            known = ReadBasicInfo(f, file.get(), info);
            attributes = known ? info.FileAttributes : 0;
            if (known && (attributes & kHiddenOrReadOnly) != 0) {
                info.FileAttributes = attributes & ~kHiddenOrReadOnly;
                WriteBasicInfo(f, file.get(), info);
            }
        }
        if (!known) return;
        const AttributeHandle file(newFile);
        win::FILE_BASIC_INFO info;
        if (file && ReadBasicInfo(f, file.get(), info)) {
            info.FileAttributes = attributes & ~win::FILE_ATTRIBUTE_ENCRYPTED;
            WriteBasicInfo(f, file.get(), info);
        }
        return;
    }
    const win::DWORD attributes = win::GetFileAttributesW(target.c_str());
    if (attributes == win::INVALID_FILE_ATTRIBUTES) return;
    if ((attributes & kHiddenOrReadOnly) != 0)
        win::SetFileAttributesW(target.c_str(), attributes & ~kHiddenOrReadOnly);
    win::SetFileAttributesW(newFile.c_str(), attributes & ~win::FILE_ATTRIBUTE_ENCRYPTED);
}

void DeleteAtRestart(const std::u16string& path) {
    win::MoveFileExW(path.c_str(), nullptr, win::MOVEFILE_DELAY_UNTIL_REBOOT);
}

}  // namespace

win::HRESULT DeleteTargetFile(const std::u16string& target) {
    ClearProtection(target);
    if (win::DeleteFileW(target.c_str())) return win::S_OK;
    const win::HRESULT error = LastError();
    if (error != kSharingViolation) return error;

    const std::u16string inUse = InUseName(target);
    if (!win::MoveFileW(target.c_str(), inUse.c_str())) return LastError();
    DeleteAtRestart(inUse);
    return win::S_OK;
}

win::HRESULT ReplaceTargetFile(const std::u16string& target, const std::u16string& newFile) {
    PrepareAttributes(target, newFile);
    if (win::CopyFileW(newFile.c_str(), target.c_str(), 0)) return win::S_OK;
    const win::HRESULT error = LastError();
    if (error != kSharingViolation) return error;

    // In use: free the name by moving the old file aside, then copy the new one in. Its
    // deletion is scheduled only once the new file is in place, so that an interruption
    // never leaves the only copy of a product file doomed at the next restart.
    const std::u16string inUse = InUseName(target);
    if (!win::MoveFileW(target.c_str(), inUse.c_str())) return LastError();
    if (win::CopyFileW(newFile.c_str(), target.c_str(), 0)) {
        DeleteAtRestart(inUse);
        return win::S_OK;
    }
    const win::HRESULT copyError = LastError();
    win::MoveFileW(inUse.c_str(), target.c_str());
    return copyError;
}

win::HRESULT ApplyPatchItems(const PatchWorkList& items, win::HMODULE resourceModule) {
    std::u16string name = win::PathFindFileNameW(GetModulePath().c_str());
    if (name.empty()) {
        char fallback[32];
        std::snprintf(fallback, sizeof fallback, "%x.%08x",
                      static_cast<unsigned>(win::GetCurrentProcessId()),
                      static_cast<unsigned>(win::GetTickCount()));
        name = Widen(fallback);
    }
    const std::u16string workFolder = MakeWorkFolder(name);
    if (workFolder.empty()) return win::E_INVALIDARG;

    win::HRESULT result = win::S_OK;
    const std::size_t count = items.size();
    for (std::size_t i = 0; i < count && result >= 0; ++i) {
        const PatchItem& item = items[i];
        if (item.payloadId == 0) {
            result = DeleteTargetFile(item.fileName);
            continue;
        }
        std::u16string expanded;
        result = ExtractPayload(workFolder, item, resourceModule, expanded);
        if (result < 0) break;
        result = ReplaceTargetFile(item.fileName, expanded);
        win::DeleteFileW(expanded.c_str());
    }
    win::RemoveDirectoryW(workFolder.c_str());
    return result;
}
