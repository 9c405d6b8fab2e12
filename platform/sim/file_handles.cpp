// Open files of the simulated machine: CreateFileW, the calls on its handles, and the
// handle-based attribute record that kernel32 exports by name.
#include <algorithm>
#include <cstring>

#include "platform/constants.h"
#include "platform/sim/call.h"
#include "platform/sim/kernel_exports.h"

namespace win {

namespace {

using sim::Call;

constexpr DWORD kReadData = 0x0001;    // FILE_READ_DATA
constexpr DWORD kWriteData = 0x0002;   // FILE_WRITE_DATA
constexpr DWORD kAppendData = 0x0004;  // FILE_APPEND_DATA
constexpr DWORD kNegativeSeek = 131;   // ERROR_NEGATIVE_SEEK
// Attributes a new file may be given; everything else in the argument is a flag.
constexpr DWORD kCreationAttributes = 0x31A7 | FILE_ATTRIBUTE_ENCRYPTED;

struct FileHandle : sim::KernelObject {
    explicit FileHandle(std::shared_ptr<sim::FileOpen> o) : open(std::move(o)) {}
    std::shared_ptr<sim::FileOpen> open;
    std::uint64_t position = 0;
    bool lastWriteSet = false;  // set explicitly: writes through this handle keep it
};

std::shared_ptr<FileHandle> FindFileHandle(sim::Machine& m, HANDLE handle) {
    return std::dynamic_pointer_cast<FileHandle>(m.FindHandle(handle));
}

DWORD NewFileAttributes(DWORD flagsAndAttributes) {
    return (flagsAndAttributes & kCreationAttributes & ~FILE_ATTRIBUTE_NORMAL) |
           FILE_ATTRIBUTE_ARCHIVE;
}

FILETIME ToFileTime(std::uint64_t value) {
    return {static_cast<DWORD>(value), static_cast<DWORD>(value >> 32)};
}

std::uint64_t FromFileTime(const FILETIME& time) {
    return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

// A time of 0 leaves the time as it is; so does -1, which on Windows also stops the
// handle's own updates of it.
void SetTime(std::uint64_t& time, std::uint64_t value) {
    if (value != 0 && value != ~std::uint64_t{0}) time = value;
}

// The handle's file, or null for a handle that is no open file.
sim::File* OpenedFile(Call& call, HANDLE handle, std::shared_ptr<FileHandle>& object) {
    object = FindFileHandle(call.machine(), handle);
    return object ? call.machine().FileOf(*object->open) : nullptr;
}

}  // namespace

HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD shareMode, SECURITY_ATTRIBUTES*,
                   DWORD disposition, DWORD flagsAndAttributes, HANDLE) {
    Call call("CreateFileW", sim::Args(path, access, shareMode, disposition, flagsAndAttributes));
    if (call.injected) return call.Fail(INVALID_HANDLE_VALUE, *call.injected);
    if (path == nullptr || *path == 0) return call.Fail(INVALID_HANDLE_VALUE, ERROR_PATH_NOT_FOUND);
    if (disposition < CREATE_NEW || disposition > TRUNCATE_EXISTING)
        return call.Fail(INVALID_HANDLE_VALUE, ERROR_INVALID_PARAMETER);
    sim::Machine& m = call.machine();
    const std::u16string name = sim::Machine::NormalizePath(path);
    const DWORD rights = sim::Machine::FileRights(access);

    // Folders open only with backup semantics, which the program never asks for.
    if (m.DirectoryExists(name)) {
        return call.Fail(INVALID_HANDLE_VALUE,
                         disposition == CREATE_NEW ? ERROR_FILE_EXISTS : ERROR_ACCESS_DENIED);
    }
    DWORD lastError = ERROR_SUCCESS;
    if (sim::File* file = m.FindFile(name)) {
        if (disposition == CREATE_NEW) return call.Fail(INVALID_HANDLE_VALUE, ERROR_FILE_EXISTS);
        const bool overwrite = disposition == CREATE_ALWAYS || disposition == TRUNCATE_EXISTING;
        if ((file->attributes & FILE_ATTRIBUTE_READONLY) &&
            (overwrite || (rights & (kWriteData | kAppendData))))
            return call.Fail(INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED);
        // Overwriting must not take hidden or system away unasked.
        const DWORD kept = FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM;
        if (disposition == CREATE_ALWAYS && (file->attributes & kept & ~flagsAndAttributes))
            return call.Fail(INVALID_HANDLE_VALUE, ERROR_ACCESS_DENIED);
        if (!m.SharingAllows(name, rights, shareMode))
            return call.Fail(INVALID_HANDLE_VALUE, ERROR_SHARING_VIOLATION);
        if (overwrite) {
            file->bytes.clear();
            if (disposition == CREATE_ALWAYS)
                file->attributes = NewFileAttributes(flagsAndAttributes);
            file->times.lastWrite = file->times.change = m.systemTime;
        }
        if (disposition == CREATE_ALWAYS || disposition == OPEN_ALWAYS)
            lastError = ERROR_ALREADY_EXISTS;
    } else {
        if (disposition == OPEN_EXISTING || disposition == TRUNCATE_EXISTING)
            return call.Fail(INVALID_HANDLE_VALUE, m.NotFoundError(name));
        if (!m.ParentExists(name)) return call.Fail(INVALID_HANDLE_VALUE, ERROR_PATH_NOT_FOUND);
        sim::File created;
        created.attributes = NewFileAttributes(flagsAndAttributes);
        created.times = {m.systemTime, m.systemTime, m.systemTime, m.systemTime};
        m.files[name] = std::move(created);
    }
    const HANDLE handle =
        m.AddHandle(std::make_shared<FileHandle>(m.OpenFile(name, access, shareMode)));
    SetLastError(lastError);
    return call.Pointer(handle);
}

BOOL ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read, OVERLAPPED*) {
    Call call("ReadFile", sim::Args(file, static_cast<const void*>(buffer), size));
    if (read) *read = 0;
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    std::shared_ptr<FileHandle> object;
    const sim::File* target = OpenedFile(call, file, object);
    if (target == nullptr) return call.Fail<BOOL>(0, ERROR_INVALID_HANDLE);
    if (!(object->open->access & kReadData)) return call.Fail<BOOL>(0, ERROR_ACCESS_DENIED);
    if (buffer == nullptr && size != 0) return call.Fail<BOOL>(0, ERROR_INVALID_PARAMETER);
    const std::uint64_t length = target->bytes.size();
    const std::uint64_t count =
        object->position < length ? std::min<std::uint64_t>(size, length - object->position) : 0;
    if (count != 0) std::memcpy(buffer, target->bytes.data() + object->position, count);
    object->position += count;
    if (read) *read = static_cast<DWORD>(count);
    return call.Return<BOOL>(1);
}

BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* written, OVERLAPPED*) {
    Call call("WriteFile", sim::Args(file, buffer, size));
    if (written) *written = 0;
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    std::shared_ptr<FileHandle> object;
    sim::File* target = OpenedFile(call, file, object);
    if (target == nullptr) return call.Fail<BOOL>(0, ERROR_INVALID_HANDLE);
    if (!(object->open->access & (kWriteData | kAppendData)))
        return call.Fail<BOOL>(0, ERROR_ACCESS_DENIED);
    if (buffer == nullptr && size != 0) return call.Fail<BOOL>(0, ERROR_INVALID_PARAMETER);
    // A handle with append access only writes at the end.
    if (!(object->open->access & kWriteData)) object->position = target->bytes.size();
    const std::uint64_t end = object->position + size;
    if (target->bytes.size() < end) target->bytes.resize(static_cast<std::size_t>(end));
    if (size != 0) std::memcpy(target->bytes.data() + object->position, buffer, size);
    object->position = end;
    sim::Machine& m = call.machine();
    if (!object->lastWriteSet) target->times.lastWrite = m.systemTime;
    target->times.change = m.systemTime;
    if (written) *written = size;
    return call.Return<BOOL>(1);
}

DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD moveMethod) {
    Call call("SetFilePointer", sim::Args(file, static_cast<int>(distance), moveMethod));
    if (call.injected) return call.Fail<DWORD>(INVALID_SET_FILE_POINTER, *call.injected);
    std::shared_ptr<FileHandle> object;
    const sim::File* target = OpenedFile(call, file, object);
    if (target == nullptr) return call.Fail<DWORD>(INVALID_SET_FILE_POINTER, ERROR_INVALID_HANDLE);
    // Without a high part the distance is a signed 32-bit value.
    const std::int64_t move =
        distanceHigh ? static_cast<std::int64_t>(
                           (static_cast<std::uint64_t>(static_cast<DWORD>(*distanceHigh)) << 32) |
                           static_cast<DWORD>(distance))
                     : distance;
    std::int64_t base = 0;
    switch (moveMethod) {
        case FILE_BEGIN:
            break;
        case FILE_CURRENT:
            base = static_cast<std::int64_t>(object->position);
            break;
        case FILE_END:
            base = static_cast<std::int64_t>(target->bytes.size());
            break;
        default:
            return call.Fail<DWORD>(INVALID_SET_FILE_POINTER, ERROR_INVALID_PARAMETER);
    }
    const std::int64_t position = base + move;
    if (position < 0) return call.Fail<DWORD>(INVALID_SET_FILE_POINTER, kNegativeSeek);
    if (!distanceHigh && position > 0xFFFFFFFE)
        return call.Fail<DWORD>(INVALID_SET_FILE_POINTER, ERROR_INVALID_PARAMETER);
    object->position = static_cast<std::uint64_t>(position);
    if (distanceHigh) *distanceHigh = static_cast<LONG>(object->position >> 32);
    // The low part alone cannot tell success from failure; the last error does.
    SetLastError(ERROR_SUCCESS);
    return call.Return(static_cast<DWORD>(object->position));
}

BOOL SetEndOfFile(HANDLE file) {
    Call call("SetEndOfFile", sim::Args(file));
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    std::shared_ptr<FileHandle> object;
    sim::File* target = OpenedFile(call, file, object);
    if (target == nullptr) return call.Fail<BOOL>(0, ERROR_INVALID_HANDLE);
    if (!(object->open->access & kWriteData)) return call.Fail<BOOL>(0, ERROR_ACCESS_DENIED);
    target->bytes.resize(static_cast<std::size_t>(object->position));
    sim::Machine& m = call.machine();
    if (!object->lastWriteSet) target->times.lastWrite = m.systemTime;
    target->times.change = m.systemTime;
    return call.Return<BOOL>(1);
}

BOOL GetFileTime(HANDLE file, FILETIME* creation, FILETIME* lastAccess, FILETIME* lastWrite) {
    Call call("GetFileTime", sim::Args(file));
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    std::shared_ptr<FileHandle> object;
    const sim::File* target = OpenedFile(call, file, object);
    if (target == nullptr) return call.Fail<BOOL>(0, ERROR_INVALID_HANDLE);
    if (creation) *creation = ToFileTime(target->times.creation);
    if (lastAccess) *lastAccess = ToFileTime(target->times.lastAccess);
    if (lastWrite) *lastWrite = ToFileTime(target->times.lastWrite);
    return call.Return<BOOL>(1);
}

BOOL SetFileTime(HANDLE file, const FILETIME* creation, const FILETIME* lastAccess,
                 const FILETIME* lastWrite) {
    const auto value = [](const FILETIME* time) {
        return time ? static_cast<unsigned long long>(FromFileTime(*time)) : 0ull;
    };
    Call call("SetFileTime", sim::Args(file, value(creation), value(lastAccess), value(lastWrite)));
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    std::shared_ptr<FileHandle> object;
    sim::File* target = OpenedFile(call, file, object);
    if (target == nullptr) return call.Fail<BOOL>(0, ERROR_INVALID_HANDLE);
    if (!(object->open->access & FILE_WRITE_ATTRIBUTES))
        return call.Fail<BOOL>(0, ERROR_ACCESS_DENIED);
    SetTime(target->times.creation, value(creation));
    SetTime(target->times.lastAccess, value(lastAccess));
    SetTime(target->times.lastWrite, value(lastWrite));
    if (value(lastWrite) != 0) object->lastWriteSet = true;
    target->times.change = call.machine().systemTime;
    return call.Return<BOOL>(1);
}

}  // namespace win

namespace sim {

using win::BOOL;
using win::DWORD;

BOOL PLATFORM_API GetFileInformationByHandleEx(win::HANDLE file, int infoClass, void* info,
                                               DWORD size) {
    Call call("GetFileInformationByHandleEx", Args(file, infoClass, size));
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    const auto object = win::FindFileHandle(call.machine(), file);
    const File* target = object ? call.machine().FileOf(*object->open) : nullptr;
    if (target == nullptr) return call.Fail<BOOL>(0, win::ERROR_INVALID_HANDLE);
    if (infoClass != win::FileBasicInfo || info == nullptr)
        return call.Fail<BOOL>(0, win::ERROR_INVALID_PARAMETER);
    if (size < sizeof(win::FILE_BASIC_INFO)) return call.Fail<BOOL>(0, win::ERROR_BAD_LENGTH);
    win::FILE_BASIC_INFO record{};
    record.CreationTime = static_cast<win::LONGLONG>(target->times.creation);
    record.LastAccessTime = static_cast<win::LONGLONG>(target->times.lastAccess);
    record.LastWriteTime = static_cast<win::LONGLONG>(target->times.lastWrite);
    record.ChangeTime = static_cast<win::LONGLONG>(target->times.change);
    record.FileAttributes = target->attributes ? target->attributes : win::FILE_ATTRIBUTE_NORMAL;
    std::memcpy(info, &record, sizeof record);
    return call.Return<BOOL>(1);
}

BOOL PLATFORM_API SetFileInformationByHandle(win::HANDLE file, int infoClass, void* info,
                                             DWORD size) {
    win::FILE_BASIC_INFO record{};
    if (info != nullptr && size >= sizeof record) std::memcpy(&record, info, sizeof record);
    Call call("SetFileInformationByHandle", Args(file, infoClass, size, record.FileAttributes));
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    const auto object = win::FindFileHandle(call.machine(), file);
    File* target = object ? call.machine().FileOf(*object->open) : nullptr;
    if (target == nullptr) return call.Fail<BOOL>(0, win::ERROR_INVALID_HANDLE);
    if (infoClass != win::FileBasicInfo || info == nullptr)
        return call.Fail<BOOL>(0, win::ERROR_INVALID_PARAMETER);
    if (size < sizeof record) return call.Fail<BOOL>(0, win::ERROR_BAD_LENGTH);
    if (!(object->open->access & win::FILE_WRITE_ATTRIBUTES))
        return call.Fail<BOOL>(0, win::ERROR_ACCESS_DENIED);
    // A folder's attribute, or another that only the file system sets, is refused.
    if (record.FileAttributes & win::FILE_ATTRIBUTE_DIRECTORY)
        return call.Fail<BOOL>(0, win::ERROR_INVALID_PARAMETER);
    win::SetTime(target->times.creation, static_cast<std::uint64_t>(record.CreationTime));
    win::SetTime(target->times.lastAccess, static_cast<std::uint64_t>(record.LastAccessTime));
    win::SetTime(target->times.lastWrite, static_cast<std::uint64_t>(record.LastWriteTime));
    if (record.LastWriteTime != 0) object->lastWriteSet = true;
    target->times.change = record.ChangeTime != 0 && record.ChangeTime != -1
                               ? static_cast<std::uint64_t>(record.ChangeTime)
                               : call.machine().systemTime;
    // Attributes 0 leave them as they are.
    if (record.FileAttributes != 0)
        target->attributes = Machine::ChangedAttributes(target->attributes, record.FileAttributes);
    return call.Return<BOOL>(1);
}

}  // namespace sim
