#include "engine/payload_extraction.h"

#include <cstdint>
#include <cstdio>

#include "engine/hresult.h"
#include "inspect/target_resolution.h"
#include "platform/constants.h"

namespace {

constexpr win::WCHAR kPayloadType[] = u"PATCH";
constexpr win::HRESULT kOpenFailed = static_cast<win::HRESULT>(0x8007006Eu);
constexpr win::WORD kLzReadExclusive = win::OF_READ | win::OF_SHARE_EXCLUSIVE;
constexpr win::WORD kLzCreateExclusive = win::OF_CREATE | win::OF_WRITE | win::OF_SHARE_EXCLUSIVE;

win::HRESULT LastError() {
    return HresultFromWin32(win::GetLastError());
}

// The seven words as UTC, without any time-zone adjustment.
bool ToFileTime(const PatchFileTime& time, win::FILETIME& fileTime) {
    const win::SYSTEMTIME system{time.year, time.month,  0,           time.day,
                                 time.hour, time.minute, time.second, time.millisecond};
    return win::SystemTimeToFileTime(&system, &fileTime) != 0;
}

void StampFileTime(const std::u16string& path, const PatchFileTime& time) {
    const win::HANDLE file =
        win::CreateFileW(path.c_str(), win::GENERIC_READ | win::GENERIC_WRITE, 0, nullptr,
                         win::OPEN_EXISTING, win::FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == win::INVALID_HANDLE_VALUE) return;  // the file stays, just without the stamp
    win::FILETIME fileTime{};
    if (ToFileTime(time, fileTime)) win::SetFileTime(file, &fileTime, &fileTime, &fileTime);
    win::CloseHandle(file);
}

// Writes the whole resource in one call, straight from the resource memory.
win::HRESULT WriteAll(win::HANDLE file, const void* data, win::DWORD size) {
    win::SetFilePointer(file, 0, nullptr, win::FILE_BEGIN);
    win::SetEndOfFile(file);
    win::DWORD written = 0;
    const bool wrote = win::WriteFile(file, data, size, &written, nullptr) != 0;
    const win::HRESULT result = wrote ? win::S_OK : LastError();
    win::CloseHandle(file);
    return result;
}

win::HRESULT Expand(const std::u16string& compressedPath, const std::u16string& expandedPath) {
    std::u16string source = compressedPath;
    std::u16string destination = expandedPath;
    win::OFSTRUCT sourceInfo{};
    sourceInfo.cBytes = sizeof(win::OFSTRUCT);
    win::OFSTRUCT destinationInfo{};
    destinationInfo.cBytes = sizeof(win::OFSTRUCT);
    const win::INT from = win::LZOpenFileW(source.data(), &sourceInfo, kLzReadExclusive);
    const win::INT to = win::LZOpenFileW(destination.data(), &destinationInfo, kLzCreateExclusive);
    if (from < 0 || to < 0) {
        if (from >= 0) win::LZClose(from);
        if (to >= 0) win::LZClose(to);
        return kOpenFailed;
    }
    const win::LONG copied = win::LZCopy(from, to);
    win::LZClose(from);
    win::LZClose(to);
    return copied < 0 ? kOpenFailed : win::S_OK;
}

}  // namespace

std::u16string GetModulePath() {
    std::u16string buffer(win::MAX_PATH, u'\0');
    for (;;) {
        const auto size = static_cast<win::DWORD>(buffer.size());
        const win::DWORD length = win::GetModuleFileNameW(nullptr, buffer.data(), size);
        if (length < size) {
            buffer.resize(length);
            return buffer;
        }
        buffer.resize(buffer.size() + buffer.size() / 2);
    }
}

std::u16string MakeWorkFolder(const std::u16string& name) {
    const win::DWORD required = win::GetTempPathW(0, nullptr);
    if (required == 0) return {};
    std::u16string folder(required + 1, u'\0');
    const win::DWORD length =
        win::GetTempPathW(static_cast<win::DWORD>(folder.size()), folder.data());
    if (length == 0 || length >= folder.size()) return {};
    folder.resize(length);
    if (folder.back() != u'\\') folder += u'\\';
    folder += name;
    folder += u".tmp\\";
    win::SHCreateDirectory(nullptr, folder.c_str());  // an existing folder is simply used
    return folder;
}

win::HRESULT ExtractPayload(const std::u16string& workFolder, const PatchItem& item,
                            win::HMODULE resourceModule, std::u16string& expandedPath) {
    expandedPath.clear();
    const std::int64_t payloadId = item.payloadId;
    const auto id = static_cast<win::WORD>(payloadId < 0 ? -payloadId : payloadId);
    const win::HRSRC resource =
        win::FindResourceW(resourceModule, win::MakeIntResource(id), kPayloadType);
    if (resource == nullptr) return LastError();

    const std::u16string name = win::PathFindFileNameW(item.fileName.c_str());
    const win::DWORD size = win::SizeofResource(resourceModule, resource);
    const win::HGLOBAL loaded = win::LoadResource(resourceModule, resource);
    const void* data = loaded ? win::LockResource(loaded) : nullptr;
    if (data == nullptr) return LastError();

    const std::u16string compressedPath = ToLongPath(workFolder + name + u".tmp");
    const std::u16string targetPath = ToLongPath(workFolder + name);

    const win::HANDLE file =
        win::CreateFileW(compressedPath.c_str(), win::GENERIC_READ | win::GENERIC_WRITE, 0, nullptr,
                         win::CREATE_ALWAYS, 0, nullptr);
    if (file == win::INVALID_HANDLE_VALUE) return LastError();
    win::HRESULT result = WriteAll(file, data, size);
    if (result == win::S_OK) {
        result = Expand(compressedPath, targetPath);
        if (result == win::S_OK) {
            StampFileTime(targetPath, item.fileTime);
            expandedPath = targetPath;
        }
    }
    win::DeleteFileW(compressedPath.c_str());
    return result;
}
