// The LZ expansion functions of the simulated machine, as lz32.dll behaves:
// - LZOpenFileW opens like OpenFile and, when that fails for any reason, tries once more
//   with the compressed name ("a.dll" -> "a.dl_"), whatever the style: a file it cannot
//   create because another process holds it is created under that name instead. A failed
//   open reports the second attempt's error and path. A handle opened for reading on an SZDD
//   file expands; any other handle reads the file as it is.
// - LZCopy writes what the source gives to the destination and returns the byte count. An
//   SZDD stream (mode 'A') is decoded until its bytes run out, whatever the header's length
//   says, so a truncated file gives fewer bytes rather than an error. The destination takes
//   the source's last-write time.
// - LZClose releases the handle.
// The handles are kernel handles of the machine, and the opens take part in the sharing
// checks of every file call.
//
// Injected failures: LZOpenFileW returns -1 with the error in nErrCode and the last error;
// LZCopy returns the injected value when it is negative as a LONG (an LZERROR_* code), else
// LZERROR_READ with the injected error as the last error; LZClose then keeps the handle open.
#include <algorithm>
#include <cstring>

#include "platform/constants.h"
#include "platform/sim/call.h"
#include "platform/sim/szdd_decoder.h"

namespace win {

namespace {

using sim::Call;

constexpr INT kHfileError = -1;
constexpr std::size_t kPathCapacity = sizeof(OFSTRUCT::szPathName);

// Style bits of OpenFile.
constexpr WORD kAccessMask = 0x0003;  // OF_READ, OF_WRITE, OF_READWRITE
constexpr WORD kShareMask = 0x0070;
constexpr WORD kShareDenyWrite = 0x0020;
constexpr WORD kShareDenyRead = 0x0030;
constexpr WORD kShareDenyNone = 0x0040;
// OF_PARSE, OF_DELETE, OF_VERIFY, OF_CANCEL, OF_PROMPT, OF_EXIST, OF_REOPEN, OF_SEARCH: the
// program never asks for them, so the simulation refuses them rather than guess.
constexpr WORD kUnsimulated = 0x0100 | 0x0200 | 0x0400 | 0x0800 | 0x2000 | 0x4000 | 0x8000;

struct LzHandle : sim::KernelObject {
    std::shared_ptr<sim::FileOpen> open;
    bool readable = false;
    bool writable = false;
    bool expands = false;  // opened for reading on an SZDD file
    // Where the next copy goes on: in the expanded data of an expanding source, in the file
    // of a destination.
    std::uint64_t position = 0;
};

std::shared_ptr<LzHandle> FindLzHandle(sim::Machine& m, INT handle) {
    if (handle < 0 || m.lzFiles.count(handle) == 0) return nullptr;
    return std::dynamic_pointer_cast<LzHandle>(
        m.FindHandle(reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(handle))));
}

DWORD ShareModeOf(WORD style) {
    switch (style & kShareMask) {
        case OF_SHARE_EXCLUSIVE:
            return 0;
        case kShareDenyWrite:
            return FILE_SHARE_READ;
        case kShareDenyRead:
            return FILE_SHARE_WRITE;
        case kShareDenyNone:
        default:  // compatibility mode
            return FILE_SHARE_READ | FILE_SHARE_WRITE;
    }
}

DWORD AccessOf(WORD style) {
    if (style & OF_CREATE) return GENERIC_READ | GENERIC_WRITE;
    switch (style & kAccessMask) {
        case OF_READ:
            return GENERIC_READ;
        case OF_WRITE:
            return GENERIC_WRITE;
        default:
            return GENERIC_READ | GENERIC_WRITE;
    }
}

// The ANSI form OFSTRUCT holds (code page 1252 as far as it matches Latin-1).
std::string ToAnsi(const std::u16string& text) {
    std::string out;
    for (char16_t c : text) {
        const bool direct = c < 0x80 || (c >= 0xA0 && c <= 0xFF);
        out += direct ? static_cast<char>(c) : '?';
    }
    return out;
}

// The name lz32 tries when a file cannot be opened: the extension's last character replaced
// by '_' ("a.dll" -> "a.dl_"), '_' appended to a shorter one, "._" to a name without one.
std::u16string CompressedName(const std::u16string& path) {
    const std::size_t slash = path.rfind(u'\\');
    const std::size_t base = slash == std::u16string::npos ? 0 : slash + 1;
    const std::size_t dot = path.find(u'.', base);
    if (dot == std::u16string::npos) return path + u"._";
    std::u16string name = path;
    if (name.size() - dot - 1 < 3) return name + u"_";
    name.back() = u'_';
    return name;
}

// The stream after the header, or nothing when the file has become too short for one.
std::span<const std::uint8_t> StreamOf(std::span<const std::uint8_t> bytes) {
    if (bytes.size() < sim::kSzddHeaderSize) return {};
    return bytes.subspan(sim::kSzddHeaderSize);
}

bool IsSzdd(std::span<const std::uint8_t> bytes) {
    return bytes.size() >= sim::kSzddHeaderSize &&
           std::equal(std::begin(sim::kSzddSignature), std::end(sim::kSzddSignature),
                      bytes.begin());
}

// The file's last-write time as the MS-DOS date and time OpenFile records.
void DosDateTime(std::uint64_t fileTime, WORD& date, WORD& time) {
    const std::uint64_t seconds = fileTime / 10'000'000u;
    const std::uint64_t secondOfDay = seconds % 86400;
    // Civil date from the days since 1601-01-01, by way of 0000-03-01 (proleptic Gregorian).
    const std::int64_t days = static_cast<std::int64_t>(seconds / 86400) - 134774 + 719468;
    const std::int64_t era = days / 146097;
    const std::int64_t dayOfEra = days - era * 146097;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t mp = (5 * dayOfYear + 2) / 153;
    const std::int64_t day = dayOfYear - (153 * mp + 2) / 5 + 1;
    const std::int64_t month = mp < 10 ? mp + 3 : mp - 9;
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);
    date = static_cast<WORD>(((year - 1980) << 9) | (month << 5) | day);
    time = static_cast<WORD>(((secondOfDay / 3600) << 11) | (((secondOfDay / 60) % 60) << 5) |
                             ((secondOfDay % 60) / 2));
}

// One OpenFile attempt: fills `info` as OpenFile does and opens the file, or gives the error.
INT OpenOnce(sim::Machine& m, const std::u16string& path, OFSTRUCT& info, WORD style,
             DWORD& error) {
    info.cBytes = sizeof(OFSTRUCT);
    info.nErrCode = 0;
    const auto fail = [&](DWORD e) {
        error = e;
        info.nErrCode = static_cast<WORD>(e);
        return kHfileError;
    };
    std::u16string full = path;
    std::replace(full.begin(), full.end(), u'/', u'\\');
    const std::string ansi = ToAnsi(full);
    if (ansi.size() >= kPathCapacity) return fail(ERROR_INVALID_DATA);
    std::memcpy(info.szPathName, ansi.c_str(), ansi.size() + 1);

    const std::u16string name = sim::Machine::NormalizePath(full);
    const bool create = (style & OF_CREATE) != 0;
    const DWORD access = AccessOf(style);
    const DWORD share = ShareModeOf(style);
    if (m.DirectoryExists(name)) return fail(ERROR_ACCESS_DENIED);
    sim::File* file = m.FindFile(name);
    error = ERROR_SUCCESS;
    if (file != nullptr) {
        const bool writes = (access & GENERIC_WRITE) != 0;
        if ((file->attributes & FILE_ATTRIBUTE_READONLY) && (writes || create))
            return fail(ERROR_ACCESS_DENIED);
        // Replacing a hidden or system file needs those attributes asked for, as the
        // FILE_ATTRIBUTE_NORMAL that OF_CREATE passes does not.
        if (create && (file->attributes & (FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM)))
            return fail(ERROR_ACCESS_DENIED);
        if (!m.SharingAllows(name, access, share)) return fail(ERROR_SHARING_VIOLATION);
        if (create) {
            file->bytes.clear();
            file->attributes = FILE_ATTRIBUTE_ARCHIVE;
            file->times.lastWrite = file->times.change = m.systemTime;
            error = ERROR_ALREADY_EXISTS;  // what CREATE_ALWAYS leaves when it replaces
        } else {
            DosDateTime(file->times.lastWrite, info.Reserved1, info.Reserved2);
        }
    } else if (!create) {
        // A file to open is looked for along a search path, which finds nothing either way
        // when its folder is missing too.
        return fail(ERROR_FILE_NOT_FOUND);
    } else if (!m.ParentExists(name)) {
        return fail(ERROR_PATH_NOT_FOUND);
    } else {
        sim::File created;
        created.attributes = FILE_ATTRIBUTE_ARCHIVE;
        created.times = {m.systemTime, m.systemTime, m.systemTime, m.systemTime};
        m.files[name] = std::move(created);
    }

    auto object = std::make_shared<LzHandle>();
    object->open = m.OpenFile(name, access, share);
    object->readable = (access & GENERIC_READ) != 0;
    object->writable = (access & GENERIC_WRITE) != 0;
    // Only a plain read open looks at the header (LZInit); others read the file as it is.
    const std::vector<std::uint8_t>& contents = m.FileOf(*object->open)->bytes;
    object->expands = (style & ~kShareMask) == OF_READ && IsSzdd(contents) && contents[8] == 'A';
    const auto handle = static_cast<INT>(reinterpret_cast<std::uintptr_t>(m.AddHandle(object)));
    m.lzFiles[handle] = sim::Machine::LzFile{name, object->writable};
    return handle;
}

}  // namespace

INT LZOpenFileW(LPWSTR fileName, OFSTRUCT* reOpenBuffer, WORD style) {
    Call call("LZOpenFileW", sim::Args(fileName, static_cast<DWORD>(style)));
    if (reOpenBuffer == nullptr) return call.Fail<INT>(kHfileError, ERROR_INVALID_PARAMETER);
    const BYTE callerSize = reOpenBuffer->cBytes;
    if (call.injected) {
        reOpenBuffer->nErrCode = static_cast<WORD>(*call.injected);
        return call.Fail<INT>(kHfileError, *call.injected);
    }
    if (fileName == nullptr || (style & kUnsimulated) != 0) {
        reOpenBuffer->nErrCode = static_cast<WORD>(ERROR_INVALID_PARAMETER);
        return call.Fail<INT>(kHfileError, ERROR_INVALID_PARAMETER);
    }
    sim::Machine& m = call.machine();
    DWORD error = 0;
    INT handle = OpenOnce(m, fileName, *reOpenBuffer, style, error);
    if (handle == kHfileError)
        handle = OpenOnce(m, CompressedName(fileName), *reOpenBuffer, style, error);
    if (handle == kHfileError) {
        reOpenBuffer->cBytes = callerSize;
        return call.Fail<INT>(kHfileError, error);
    }
    sim::SetThreadError(error);
    return call.Return(handle);
}

LONG LZCopy(INT source, INT destination) {
    Call call("LZCopy", sim::Args(source, destination));
    if (call.injected) {
        const auto code = static_cast<LONG>(*call.injected);
        if (code < 0) return call.Return(code);
        return call.Fail<LONG>(LZERROR_READ, *call.injected);
    }
    sim::Machine& m = call.machine();
    // lz32 first reads the header through the handle; a handle it cannot use there counts
    // as nothing to copy.
    const std::shared_ptr<LzHandle> from = FindLzHandle(m, source);
    if (from == nullptr) return call.Return<LONG>(0);
    const sim::File* in = m.FileOf(*from->open);
    if (in == nullptr || !from->readable) return call.Return<LONG>(LZERROR_READ);
    const std::span<const std::uint8_t> bytes = in->bytes;

    std::vector<std::uint8_t> out;
    if (from->expands) {
        // Carries on where an earlier copy through this handle stopped.
        out = sim::ExpandSzddStream(StreamOf(bytes));
        const std::size_t done = std::min<std::uint64_t>(from->position, out.size());
        out.erase(out.begin(), out.begin() + static_cast<std::ptrdiff_t>(done));
        from->position += out.size();
    } else if (IsSzdd(bytes)) {
        // Expanded from the start through a handle of its own for this copy; an unknown
        // compression mode fails that header check, which again copies nothing.
        if (bytes[8] != 'A') return call.Return<LONG>(0);
        out = sim::ExpandSzddStream(StreamOf(bytes));
    } else {
        // The header check rewinds a plain handle: the whole file is copied.
        out.assign(bytes.begin(), bytes.end());
    }
    if (out.empty()) return call.Return<LONG>(0);

    const std::shared_ptr<LzHandle> to = FindLzHandle(m, destination);
    sim::File* target = to && to->writable ? m.FileOf(*to->open) : nullptr;
    if (target == nullptr) return call.Return<LONG>(LZERROR_WRITE);
    if (target->bytes.size() < to->position + out.size())
        target->bytes.resize(to->position + out.size());
    std::copy(out.begin(), out.end(),
              target->bytes.begin() + static_cast<std::ptrdiff_t>(to->position));
    to->position += out.size();
    target->times.lastWrite = in->times.lastWrite;
    target->times.change = m.systemTime;
    return call.Return(static_cast<LONG>(out.size()));
}

void LZClose(INT file) {
    Call call("LZClose", sim::Args(file));
    sim::Machine& m = call.machine();
    if (call.injected) {
        m.Log("LZClose", sim::Args(file), "kept open");
        return;
    }
    if (FindLzHandle(m, file) != nullptr) {
        m.CloseHandle(reinterpret_cast<HANDLE>(static_cast<std::uintptr_t>(file)));
        m.lzFiles.erase(file);
    }
    m.Log("LZClose", sim::Args(file), "");
}

}  // namespace win
