// Files and folders of the simulated machine by name, the paths the program asks for, and
// the version information of PE files.
#include <algorithm>
#include <cstring>

#include "platform/constants.h"
#include "platform/sim/call.h"
#include "platform/sim/resource_file.h"

namespace win {

namespace {

using sim::Call;

// The version resource of a file, or the error the version functions give.
std::optional<std::span<const std::uint8_t>> VersionResource(const sim::Machine& m, LPCWSTR path,
                                                             DWORD& error) {
    const sim::File* file = path ? m.FindFile(path) : nullptr;
    if (file == nullptr) {
        error = path ? m.NotFoundError(path) : ERROR_INVALID_PARAMETER;
        return std::nullopt;
    }
    const auto resource = sim::FindPeResource(file->bytes, RT_VERSION);
    if (!resource) error = ERROR_RESOURCE_TYPE_NOT_FOUND;
    return resource;
}

}  // namespace

DWORD GetFileAttributesW(LPCWSTR path) {
    Call call("GetFileAttributesW", sim::Args(path));
    if (call.injected) return call.Fail<DWORD>(INVALID_FILE_ATTRIBUTES, *call.injected);
    if (path == nullptr || *path == 0)
        return call.Fail<DWORD>(INVALID_FILE_ATTRIBUTES, ERROR_PATH_NOT_FOUND);
    const sim::Machine& m = call.machine();
    if (const sim::File* file = m.FindFile(path))
        return call.Return(file->attributes ? file->attributes : FILE_ATTRIBUTE_NORMAL);
    if (m.DirectoryExists(path)) return call.Return(FILE_ATTRIBUTE_DIRECTORY);
    return call.Fail<DWORD>(INVALID_FILE_ATTRIBUTES, m.NotFoundError(path));
}

BOOL SetFileAttributesW(LPCWSTR path, DWORD attributes) {
    Call call("SetFileAttributesW", sim::Args(path, attributes));
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    if (path == nullptr || *path == 0) return call.Fail<BOOL>(0, ERROR_PATH_NOT_FOUND);
    sim::Machine& m = call.machine();
    if (sim::File* file = m.FindFile(path)) {
        // FILE_ATTRIBUTE_NORMAL is added so that 0 clears the attributes too.
        file->attributes =
            sim::Machine::ChangedAttributes(file->attributes, attributes | FILE_ATTRIBUTE_NORMAL);
        file->times.change = m.systemTime;
        return call.Return<BOOL>(1);
    }
    if (m.DirectoryExists(path)) return call.Return<BOOL>(1);  // folders keep no attributes here
    return call.Fail<BOOL>(0, m.NotFoundError(path));
}

BOOL CopyFileW(LPCWSTR existing, LPCWSTR newName, BOOL failIfExists) {
    Call call("CopyFileW", sim::Args(existing, newName, failIfExists));
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    if (existing == nullptr || newName == nullptr)
        return call.Fail<BOOL>(0, ERROR_INVALID_PARAMETER);
    if (*existing == 0 || *newName == 0) return call.Fail<BOOL>(0, ERROR_PATH_NOT_FOUND);
    sim::Machine& m = call.machine();
    const std::u16string source = sim::Machine::NormalizePath(existing);
    const std::u16string target = sim::Machine::NormalizePath(newName);
    const sim::File* from = m.FindFile(source);
    if (from == nullptr)
        return call.Fail<BOOL>(
            0, m.DirectoryExists(source) ? ERROR_ACCESS_DENIED : m.NotFoundError(source));
    // The source is read with full sharing, the target written sharing reading and writing.
    if (!m.SharingAllows(source, GENERIC_READ,
                         FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
        return call.Fail<BOOL>(0, ERROR_SHARING_VIOLATION);
    if (source == target) return call.Fail<BOOL>(0, ERROR_SHARING_VIOLATION);
    if (m.DirectoryExists(target)) return call.Fail<BOOL>(0, ERROR_ACCESS_DENIED);
    sim::File* to = m.FindFile(target);
    if (to != nullptr) {
        if (failIfExists) return call.Fail<BOOL>(0, ERROR_FILE_EXISTS);
        if (to->attributes & (FILE_ATTRIBUTE_READONLY | FILE_ATTRIBUTE_HIDDEN))
            return call.Fail<BOOL>(0, ERROR_ACCESS_DENIED);
        if (!m.SharingAllows(target, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE))
            return call.Fail<BOOL>(0, ERROR_SHARING_VIOLATION);
    } else if (!m.ParentExists(target)) {
        return call.Fail<BOOL>(0, ERROR_PATH_NOT_FOUND);
    }
    // The copy gets the source's attributes with archive set and its last-write time; it
    // is new (or overwritten) now.
    sim::File copy;
    copy.bytes = from->bytes;
    copy.attributes = sim::Machine::ChangedAttributes(
        0, (from->attributes & ~FILE_ATTRIBUTE_NORMAL) | FILE_ATTRIBUTE_ARCHIVE);
    copy.times = {to ? to->times.creation : m.systemTime, m.systemTime, from->times.lastWrite,
                  m.systemTime};
    m.files[target] = std::move(copy);
    return call.Return<BOOL>(1);
}

namespace {

BOOL Move(Call& call, LPCWSTR existing, LPCWSTR newName, DWORD flags) {
    sim::Machine& m = call.machine();
    const std::u16string source = sim::Machine::NormalizePath(existing);
    const std::u16string target = sim::Machine::NormalizePath(newName);
    const bool isFile = m.FindFile(source) != nullptr;
    if (!isFile && !m.DirectoryExists(source)) return call.Fail<BOOL>(0, m.NotFoundError(source));
    // A rename opens the source for deletion with full sharing: every other open of it
    // must share deletion.
    const DWORD all = FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE;
    if (isFile && !m.SharingAllows(source, DELETE, all))
        return call.Fail<BOOL>(0, ERROR_SHARING_VIOLATION);
    if (target == source) return call.Return<BOOL>(1);
    if (m.DirectoryExists(target)) return call.Fail<BOOL>(0, ERROR_ALREADY_EXISTS);
    if (const sim::File* replaced = m.FindFile(target)) {
        if (!(flags & MOVEFILE_REPLACE_EXISTING)) return call.Fail<BOOL>(0, ERROR_ALREADY_EXISTS);
        if (!isFile || (replaced->attributes & FILE_ATTRIBUTE_READONLY) ||
            !m.SharingAllows(target, DELETE, all))
            return call.Fail<BOOL>(0, ERROR_ACCESS_DENIED);
        m.UnlinkFile(target);
    } else if (!m.ParentExists(target)) {
        return call.Fail<BOOL>(0, ERROR_PATH_NOT_FOUND);
    }
    m.RenamePath(source, target);
    if (sim::File* moved = m.FindFile(target)) moved->times.change = m.systemTime;
    return call.Return<BOOL>(1);
}

BOOL Delete(Call& call, LPCWSTR path) {
    if (path == nullptr || *path == 0) return call.Fail<BOOL>(0, ERROR_PATH_NOT_FOUND);
    sim::Machine& m = call.machine();
    const std::u16string name = sim::Machine::NormalizePath(path);
    const sim::File* file = m.FindFile(name);
    if (file == nullptr)
        return call.Fail<BOOL>(
            0, m.DirectoryExists(name) ? ERROR_ACCESS_DENIED : m.NotFoundError(name));
    if (!m.SharingAllows(name, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE))
        return call.Fail<BOOL>(0, ERROR_SHARING_VIOLATION);
    if (file->attributes & FILE_ATTRIBUTE_READONLY) return call.Fail<BOOL>(0, ERROR_ACCESS_DENIED);
    m.UnlinkFile(name);
    return call.Return<BOOL>(1);
}

}  // namespace

BOOL MoveFileW(LPCWSTR existing, LPCWSTR newName) {
    Call call("MoveFileW", sim::Args(existing, newName));
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    if (existing == nullptr || newName == nullptr || *existing == 0 || *newName == 0)
        return call.Fail<BOOL>(0, ERROR_PATH_NOT_FOUND);
    return Move(call, existing, newName, 0);
}

BOOL MoveFileExW(LPCWSTR existing, LPCWSTR newName, DWORD flags) {
    Call call("MoveFileExW", sim::Args(existing, newName, flags));
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    if (existing == nullptr || *existing == 0) return call.Fail<BOOL>(0, ERROR_PATH_NOT_FOUND);
    sim::Machine& m = call.machine();
    // Only recorded now: the file need not exist, and being in use does not matter.
    if (flags & MOVEFILE_DELAY_UNTIL_REBOOT) {
        m.pendingRenames.push_back({sim::Machine::NormalizePath(existing),
                                    newName ? sim::Machine::NormalizePath(newName) : u""});
        return call.Return<BOOL>(1);
    }
    if (newName == nullptr) return Delete(call, existing);
    if (*newName == 0) return call.Fail<BOOL>(0, ERROR_PATH_NOT_FOUND);
    return Move(call, existing, newName, flags);
}

BOOL DeleteFileW(LPCWSTR path) {
    Call call("DeleteFileW", sim::Args(path));
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    return Delete(call, path);
}

BOOL CreateDirectoryW(LPCWSTR path, SECURITY_ATTRIBUTES*) {
    Call call("CreateDirectoryW", sim::Args(path));
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    if (path == nullptr || *path == 0) return call.Fail<BOOL>(0, ERROR_PATH_NOT_FOUND);
    sim::Machine& m = call.machine();
    const std::u16string name = sim::Machine::NormalizePath(path);
    if (m.DirectoryExists(name) || m.FindFile(name))
        return call.Fail<BOOL>(0, ERROR_ALREADY_EXISTS);
    if (!m.ParentExists(name)) return call.Fail<BOOL>(0, ERROR_PATH_NOT_FOUND);
    m.directories.insert(name);
    return call.Return<BOOL>(1);
}

BOOL RemoveDirectoryW(LPCWSTR path) {
    Call call("RemoveDirectoryW", sim::Args(path));
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    if (path == nullptr || *path == 0) return call.Fail<BOOL>(0, ERROR_PATH_NOT_FOUND);
    sim::Machine& m = call.machine();
    const std::u16string name = sim::Machine::NormalizePath(path);
    constexpr DWORD kNotAFolder = 267;  // ERROR_DIRECTORY
    if (m.FindFile(name)) return call.Fail<BOOL>(0, kNotAFolder);
    if (!m.directories.count(name))
        return call.Fail<BOOL>(
            0, m.DirectoryExists(name) ? ERROR_ACCESS_DENIED : m.NotFoundError(name));
    if (m.HasChildren(name)) return call.Fail<BOOL>(0, ERROR_DIR_NOT_EMPTY);
    m.directories.erase(name);
    return call.Return<BOOL>(1);
}

DWORD GetTempPathW(DWORD size, LPWSTR buffer) {
    Call call("GetTempPathW", sim::Args(size));
    if (call.injected) return call.Fail<DWORD>(0, *call.injected);
    std::u16string path = call.machine().tempPath;
    if (path.empty()) return call.Fail<DWORD>(0, ERROR_PATH_NOT_FOUND);
    if (path.back() != u'\\') path += u'\\';
    if (path.size() > MAX_PATH - 1) return call.Fail<DWORD>(0, ERROR_FILENAME_EXCED_RANGE);
    const DWORD needed = static_cast<DWORD>(path.size()) + 1;
    if (size < needed) {
        // Too small: the buffer is cleared and the length with the terminator returned.
        if (buffer) std::fill_n(buffer, size, u'\0');
        return call.Return(needed);
    }
    std::copy(path.begin(), path.end(), buffer);
    std::fill(buffer + path.size(), buffer + std::min<DWORD>(size, 32767), u'\0');
    return call.Return(needed - 1);
}

DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size) {
    Call call("GetModuleFileNameW", sim::Args(static_cast<const void*>(module), size));
    if (call.injected) return call.Fail<DWORD>(0, *call.injected);
    sim::Machine& m = call.machine();
    const auto handle = reinterpret_cast<std::uintptr_t>(module);
    std::u16string path;
    if (module == nullptr || handle == 0x00400000) {
        path = m.modulePath;
    } else if (const auto found = m.loadedLibraries.find(handle);
               found != m.loadedLibraries.end()) {
        path = found->second.first;
        if (path.find(u'\\') == std::u16string::npos) path = m.systemDirectory + u"\\" + path;
    } else {
        return call.Fail<DWORD>(0, ERROR_MOD_NOT_FOUND);
    }
    if (size == 0 || fileName == nullptr) return call.Fail<DWORD>(0, ERROR_INSUFFICIENT_BUFFER);
    if (path.size() < size) {
        std::copy(path.begin(), path.end(), fileName);
        fileName[path.size()] = 0;
        SetLastError(ERROR_SUCCESS);
        return call.Return(static_cast<DWORD>(path.size()));
    }
    // Cut to the buffer, terminator included; the length returned is the buffer's.
    std::copy_n(path.begin(), size - 1, fileName);
    fileName[size - 1] = 0;
    return call.Fail<DWORD>(size, ERROR_INSUFFICIENT_BUFFER);
}

DWORD GetFileVersionInfoSizeW(LPCWSTR path, DWORD* handle) {
    Call call("GetFileVersionInfoSizeW", sim::Args(path));
    if (handle) *handle = 0;
    if (call.injected) return call.Fail<DWORD>(0, *call.injected);
    DWORD error = 0;
    const auto resource = VersionResource(call.machine(), path, error);
    if (!resource) return call.Fail<DWORD>(0, error);
    return call.Return(static_cast<DWORD>(resource->size()));
}

BOOL GetFileVersionInfoW(LPCWSTR path, DWORD, DWORD length, void* data) {
    Call call("GetFileVersionInfoW", sim::Args(path, length));
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    if (data == nullptr) return call.Fail<BOOL>(0, ERROR_INVALID_PARAMETER);
    DWORD error = 0;
    const auto resource = VersionResource(call.machine(), path, error);
    if (!resource) return call.Fail<BOOL>(0, error);
    const std::size_t n = std::min<std::size_t>(length, resource->size());
    std::memcpy(data, resource->data(), n);
    return call.Return<BOOL>(1);
}

BOOL VerQueryValueW(const void* block, LPCWSTR subBlock, void** buffer, UINT* length) {
    Call call("VerQueryValueW", sim::Args(block, subBlock));
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    if (block == nullptr || subBlock == nullptr || buffer == nullptr || length == nullptr)
        return call.Fail<BOOL>(0, ERROR_INVALID_PARAMETER);
    if (std::u16string_view(subBlock) != u"\\")
        return call.Fail<BOOL>(0, ERROR_RESOURCE_TYPE_NOT_FOUND);
    // The root block: wLength, wValueLength, wType, the key "VS_VERSION_INFO", padding to a
    // 32-bit boundary, then the fixed information of wValueLength bytes.
    const auto* bytes = static_cast<const std::uint8_t*>(block);
    const std::size_t total = static_cast<std::size_t>(bytes[0] | bytes[1] << 8);
    const std::uint16_t valueLength = static_cast<std::uint16_t>(bytes[2] | bytes[3] << 8);
    std::size_t at = 6;
    while (at + 2 <= total && (bytes[at] != 0 || bytes[at + 1] != 0)) at += 2;
    if (at + 2 > total) return call.Fail<BOOL>(0, ERROR_INVALID_DATA);
    at = (at + 2 + 3) & ~std::size_t{3};
    *buffer = const_cast<std::uint8_t*>(bytes + at);
    *length = valueLength;
    return call.Return<BOOL>(1);
}

}  // namespace win
