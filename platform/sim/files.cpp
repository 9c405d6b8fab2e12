// Files of the simulated machine and the version information of PE files.
#include <cstring>

#include "platform/constants.h"
#include "platform/sim/call.h"
#include "platform/sim/resource_file.h"

namespace win {

namespace {

using sim::Call;

// A missing file whose folder is missing too is a missing path.
DWORD NotFoundError(const sim::Machine& m, const std::u16string& path) {
    const std::u16string normal = sim::Machine::NormalizePath(path);
    const std::size_t slash = normal.rfind(u'\\');
    if (slash == std::u16string::npos || slash < 2) return ERROR_PATH_NOT_FOUND;
    const std::u16string folder = normal.substr(0, slash == 2 ? 3 : slash);
    if (folder.size() <= 3 || m.DirectoryExists(folder)) return ERROR_FILE_NOT_FOUND;
    return ERROR_PATH_NOT_FOUND;
}

// The version resource of a file, or the error the version functions give.
std::optional<std::span<const std::uint8_t>> VersionResource(const sim::Machine& m, LPCWSTR path,
                                                             DWORD& error) {
    const sim::File* file = path ? m.FindFile(path) : nullptr;
    if (file == nullptr) {
        error = path ? NotFoundError(m, path) : ERROR_INVALID_PARAMETER;
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
    if (const sim::File* file = m.FindFile(path)) return call.Return(file->attributes);
    if (m.DirectoryExists(path)) return call.Return(FILE_ATTRIBUTE_DIRECTORY);
    return call.Fail<DWORD>(INVALID_FILE_ATTRIBUTES, NotFoundError(m, path));
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
