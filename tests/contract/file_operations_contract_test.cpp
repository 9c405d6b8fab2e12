// The file calls the program relies on to write, stamp and expand payloads and to replace
// targets that are read-only, hidden or in use by another program.
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "contract_test.h"
#include "platform/constants.h"

namespace {

using contract::FreshFolder;

constexpr win::DWORD kShareAll =
    win::FILE_SHARE_READ | win::FILE_SHARE_WRITE | win::FILE_SHARE_DELETE;
// How a running program holds a library it loaded: it may be renamed, not overwritten.
constexpr win::DWORD kLoadedLibrary = win::FILE_SHARE_READ | win::FILE_SHARE_DELETE;
constexpr win::DWORD kReadWrite = win::GENERIC_READ | win::GENERIC_WRITE;
constexpr win::DWORD kNotAFolder = 267;        // ERROR_DIRECTORY
constexpr win::DWORD kNegativeSeek = 131;      // ERROR_NEGATIVE_SEEK
constexpr win::DWORD kBadPathName = 161;       // ERROR_BAD_PATHNAME
constexpr win::DWORD kUntouched = 0xDEADBEEF;  // a last error no call sets

// 2013-11-12 02:00:00 UTC as a FILETIME: 100 ns units since 1601-01-01.
constexpr std::uint64_t DaysFromCivil(int y, unsigned m, unsigned d) {
    y -= m <= 2;
    const int era = (y >= 0 ? y : y - 399) / 400;
    const unsigned yoe = static_cast<unsigned>(y - era * 400);
    const unsigned doy = (153 * (m > 2 ? m - 3 : m + 9) + 2) / 5 + d - 1;
    const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return static_cast<std::uint64_t>(era * 146097 + static_cast<int>(doe));
}
constexpr std::uint64_t kPatchTime =
    ((DaysFromCivil(2013, 11, 12) - DaysFromCivil(1601, 1, 1)) * 86400 + 2 * 3600) * 10000000;
static_assert(kPatchTime == 0x01CEDF4AE4D41000);

win::FILETIME ToFileTime(std::uint64_t value) {
    return {static_cast<win::DWORD>(value), static_cast<win::DWORD>(value >> 32)};
}
std::uint64_t FromFileTime(const win::FILETIME& time) {
    return (std::uint64_t{time.dwHighDateTime} << 32) | time.dwLowDateTime;
}

// A CreateFileW handle, closed when it goes; remembers the last error the open left.
class OpenFile {
  public:
    OpenFile(const std::u16string& path, win::DWORD access, win::DWORD share,
             win::DWORD disposition = win::OPEN_EXISTING,
             win::DWORD attributes = win::FILE_ATTRIBUTE_NORMAL) {
        win::SetLastError(kUntouched);
        handle_ = win::CreateFileW(path.c_str(), access, share, nullptr, disposition, attributes,
                                   nullptr);
        error_ = win::GetLastError();
    }
    ~OpenFile() { Close(); }
    OpenFile(const OpenFile&) = delete;
    OpenFile& operator=(const OpenFile&) = delete;

    bool is_open() const { return handle_ != win::INVALID_HANDLE_VALUE; }
    win::DWORD error() const { return error_; }
    win::HANDLE get() const { return handle_; }
    void Close() {
        if (is_open()) win::CloseHandle(handle_);
        handle_ = win::INVALID_HANDLE_VALUE;
    }
    // Everything from the start.
    std::string ReadAll() const {
        std::string text;
        if (win::SetFilePointer(handle_, 0, nullptr, win::FILE_BEGIN) != 0) return "<seek failed>";
        char chunk[4096];
        win::DWORD read = 0;
        while (win::ReadFile(handle_, chunk, sizeof chunk, &read, nullptr) && read != 0)
            text.append(chunk, read);
        return text;
    }

  private:
    win::HANDLE handle_ = win::INVALID_HANDLE_VALUE;
    win::DWORD error_ = 0;
};

std::string Contents(const std::u16string& path) {
    const OpenFile file(path, win::GENERIC_READ, kShareAll);
    return file.is_open() ? file.ReadAll() : "<missing>";
}

bool Exists(const std::u16string& path) {
    return win::GetFileAttributesW(path.c_str()) != win::INVALID_FILE_ATTRIBUTES;
}

void SetLastWriteTime(const std::u16string& path, std::uint64_t time) {
    const OpenFile file(path, win::GENERIC_WRITE, 0);
    ASSERT_TRUE(file.is_open()) << file.error();
    const win::FILETIME value = ToFileTime(time);
    ASSERT_TRUE(win::SetFileTime(file.get(), nullptr, nullptr, &value));
}

std::uint64_t LastWriteTime(const std::u16string& path) {
    const OpenFile file(path, win::GENERIC_READ, kShareAll);
    win::FILETIME value{};
    if (!file.is_open() || !win::GetFileTime(file.get(), nullptr, nullptr, &value)) return 0;
    return FromFileTime(value);
}

// Refusals that Windows documents and Wine, as run here, lets through: running as root it
// writes read-only files, it overwrites hidden files unasked, and it does not check a
// handle's access when times or attributes are set through it. Those checks are skipped
// under Wine; the sim keeps to the documented behaviour.
bool WineLetsThrough(bool refusalWineLacks) {
    return refusalWineLacks && contract::RunsUnderWine();
}

// A failed call's result and last error, or 0 for success.
win::DWORD ErrorOf(win::BOOL succeeded) {
    return succeeded ? 0 : win::GetLastError();
}

class FileOperationsContract : public ContractTest {};

TEST_F(FileOperationsContract, CreateFileDispositionsOnPresentAndMissingFiles) {
    struct Case {
        const char* name;
        win::DWORD disposition;
        bool present;
        win::DWORD error;  // of a failed open, or the last error a successful one leaves
        bool opens;
        const char* contents;  // afterwards
    };
    const Case cases[] = {
        {"create new, present", win::CREATE_NEW, true, win::ERROR_FILE_EXISTS, false, "old"},
        {"create new, missing", win::CREATE_NEW, false, kUntouched, true, ""},
        {"create always, present", win::CREATE_ALWAYS, true, win::ERROR_ALREADY_EXISTS, true, ""},
        {"create always, missing", win::CREATE_ALWAYS, false, win::ERROR_SUCCESS, true, ""},
        {"open existing, present", win::OPEN_EXISTING, true, kUntouched, true, "old"},
        {"open existing, missing", win::OPEN_EXISTING, false, win::ERROR_FILE_NOT_FOUND, false,
         "<missing>"},
        {"open always, present", win::OPEN_ALWAYS, true, win::ERROR_ALREADY_EXISTS, true, "old"},
        {"open always, missing", win::OPEN_ALWAYS, false, win::ERROR_SUCCESS, true, ""},
        {"truncate, present", win::TRUNCATE_EXISTING, true, kUntouched, true, ""},
        {"truncate, missing", win::TRUNCATE_EXISTING, false, win::ERROR_FILE_NOT_FOUND, false,
         "<missing>"},
    };
    const std::u16string folder = FreshFolder(u"Dispositions");
    char16_t name = u'a';
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::u16string path = folder + u"\\" + name++ + u".txt";
        if (c.present) contract::WriteTextFile(path, "old");
        {
            const OpenFile file(path, kReadWrite, 0, c.disposition);
            EXPECT_EQ(file.is_open(), c.opens);
            // Whether a plain success clears the last error is not promised.
            if (c.error != kUntouched) {
                EXPECT_EQ(file.error(), c.error);
            }
        }
        EXPECT_EQ(Contents(path), c.contents);
    }
}

TEST_F(FileOperationsContract, CreateFileRefusesFoldersProtectedFilesAndMissingPaths) {
    const std::u16string folder = FreshFolder(u"Refusals");
    const std::u16string readOnly = folder + u"\\ReadOnly.dll";
    const std::u16string hidden = folder + u"\\Hidden.dll";
    contract::WriteTextFile(readOnly, "old");
    contract::WriteTextFile(hidden, "old");
    ASSERT_TRUE(win::SetFileAttributesW(readOnly.c_str(), win::FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(win::SetFileAttributesW(hidden.c_str(), win::FILE_ATTRIBUTE_HIDDEN));
    struct Case {
        const char* name;
        std::u16string path;
        win::DWORD access, disposition, attributes;
        win::DWORD error;  // 0: opens
        bool wineLacks = false;
    };
    const Case cases[] = {
        {"a folder", folder, win::GENERIC_READ, win::OPEN_EXISTING, win::FILE_ATTRIBUTE_NORMAL,
         win::ERROR_ACCESS_DENIED},
        {"in a missing folder", folder + u"\\No\\New.dll", kReadWrite, win::CREATE_ALWAYS,
         win::FILE_ATTRIBUTE_NORMAL, win::ERROR_PATH_NOT_FOUND},
        {"missing, in a missing folder", folder + u"\\No\\New.dll", win::GENERIC_READ,
         win::OPEN_EXISTING, win::FILE_ATTRIBUTE_NORMAL, win::ERROR_PATH_NOT_FOUND},
        {"read-only, for writing", readOnly, win::GENERIC_WRITE, win::OPEN_EXISTING,
         win::FILE_ATTRIBUTE_NORMAL, win::ERROR_ACCESS_DENIED, true},
        {"read-only, for reading", readOnly, win::GENERIC_READ, win::OPEN_EXISTING,
         win::FILE_ATTRIBUTE_NORMAL, 0},
        {"read-only, attributes only", readOnly, win::GENERIC_READ | win::FILE_WRITE_ATTRIBUTES,
         win::OPEN_EXISTING, win::FILE_ATTRIBUTE_NORMAL, 0},
        {"hidden, overwritten as a plain file", hidden, kReadWrite, win::CREATE_ALWAYS,
         win::FILE_ATTRIBUTE_NORMAL, win::ERROR_ACCESS_DENIED, true},
        {"hidden, opened for writing", hidden, kReadWrite, win::OPEN_EXISTING,
         win::FILE_ATTRIBUTE_NORMAL, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        if (WineLetsThrough(c.wineLacks)) continue;
        const OpenFile file(c.path, c.access, 0, c.disposition, c.attributes);
        EXPECT_EQ(file.is_open(), c.error == 0);
        if (c.error != 0) {
            EXPECT_EQ(file.error(), c.error);
        }
    }
    EXPECT_EQ(Contents(hidden), "old");
    const OpenFile overwrite(hidden, kReadWrite, 0, win::CREATE_ALWAYS, win::FILE_ATTRIBUTE_HIDDEN);
    EXPECT_TRUE(overwrite.is_open()) << overwrite.error();
}

TEST_F(FileOperationsContract, ShareModesAreCheckedBothWays) {
    struct Case {
        const char* name;
        win::DWORD firstAccess, firstShare, secondAccess, secondShare;
        bool allowed;
    };
    const win::DWORD r = win::GENERIC_READ, w = win::GENERIC_WRITE, d = win::DELETE;
    const win::DWORD sr = win::FILE_SHARE_READ, sw = win::FILE_SHARE_WRITE;
    const Case cases[] = {
        {"two readers sharing reading", r, sr, r, sr, true},
        {"a writer where only reading is shared", r, sr, w, sr, false},
        {"a reader that does not share the writing going on", w, sr | sw, r, sr, false},
        {"a reader sharing the writing", w, sr, r, sw, true},
        {"a rename where deleting is shared", r, kLoadedLibrary, d, kShareAll, true},
        {"a rename where deleting is not shared", r, sr, d, kShareAll, false},
        {"attributes only, against an exclusive open", r, 0, win::FILE_WRITE_ATTRIBUTES, 0, true},
        {"the attribute open, against a loaded library", r, kLoadedLibrary,
         r | win::FILE_WRITE_ATTRIBUTES, sr, true},
        {"an exclusive open, against a loaded library", r, kLoadedLibrary, kReadWrite, 0, false},
    };
    const std::u16string path = FreshFolder(u"Sharing") + u"\\Shared.dll";
    contract::WriteTextFile(path, "data");
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OpenFile first(path, c.firstAccess, c.firstShare);
        ASSERT_TRUE(first.is_open()) << first.error();
        {
            const OpenFile second(path, c.secondAccess, c.secondShare);
            EXPECT_EQ(second.is_open(), c.allowed);
            if (!c.allowed) {
                EXPECT_EQ(second.error(), win::ERROR_SHARING_VIOLATION);
            }
        }
        first.Close();
        const OpenFile after(path, c.secondAccess, c.secondShare);
        EXPECT_TRUE(after.is_open()) << after.error();
    }
}

TEST_F(FileOperationsContract, ReadWriteSeekAndTruncateThroughOneHandle) {
    const std::u16string path = FreshFolder(u"ReadWrite") + u"\\Data.bin";
    const OpenFile file(path, kReadWrite, 0, win::CREATE_ALWAYS);
    ASSERT_TRUE(file.is_open()) << file.error();
    // One call writes a whole payload.
    std::vector<char> big(3 * 1024 * 1024 + 17);
    for (std::size_t i = 0; i < big.size(); ++i) big[i] = static_cast<char>(i * 7);
    win::DWORD done = 0;
    ASSERT_TRUE(win::WriteFile(file.get(), big.data(), static_cast<win::DWORD>(big.size()), &done,
                               nullptr));
    EXPECT_EQ(done, big.size());
    EXPECT_EQ(file.ReadAll(), std::string(big.begin(), big.end()));

    EXPECT_EQ(win::SetFilePointer(file.get(), 0, nullptr, win::FILE_BEGIN), 0u);
    ASSERT_TRUE(win::SetEndOfFile(file.get()));
    ASSERT_TRUE(win::WriteFile(file.get(), "hello world", 11, &done, nullptr));
    EXPECT_EQ(win::SetFilePointer(file.get(), 5, nullptr, win::FILE_BEGIN), 5u);
    ASSERT_TRUE(win::SetEndOfFile(file.get()));
    EXPECT_EQ(win::SetFilePointer(file.get(), 0, nullptr, win::FILE_END), 5u);
    EXPECT_EQ(win::SetFilePointer(file.get(), -2, nullptr, win::FILE_CURRENT), 3u);
    char text[8] = {};
    ASSERT_TRUE(win::ReadFile(file.get(), text, sizeof text, &done, nullptr));
    EXPECT_EQ(std::string(text, done), "lo");
    ASSERT_TRUE(win::ReadFile(file.get(), text, sizeof text, &done, nullptr));
    EXPECT_EQ(done, 0u);  // the end reads nothing and succeeds

    EXPECT_EQ(win::SetFilePointer(file.get(), -10, nullptr, win::FILE_BEGIN),
              win::INVALID_SET_FILE_POINTER);
    EXPECT_EQ(win::GetLastError(), kNegativeSeek);

    const OpenFile reader(path, win::GENERIC_READ, kShareAll);
    EXPECT_FALSE(reader.is_open());  // the first handle shares nothing
}

TEST_F(FileOperationsContract, HandlesDoOnlyWhatTheirAccessAllows) {
    const std::u16string path = FreshFolder(u"Access") + u"\\Data.bin";
    contract::WriteTextFile(path, "data");
    win::DWORD done = 0;
    char byte = 0;
    {
        const OpenFile reader(path, win::GENERIC_READ, kShareAll);
        EXPECT_EQ(ErrorOf(win::WriteFile(reader.get(), "x", 1, &done, nullptr)),
                  win::ERROR_ACCESS_DENIED);
        const win::FILETIME time = ToFileTime(kPatchTime);
        if (!WineLetsThrough(true)) {
            EXPECT_EQ(ErrorOf(win::SetFileTime(reader.get(), &time, &time, &time)),
                      win::ERROR_ACCESS_DENIED);
        }
    }
    const OpenFile writer(path, win::GENERIC_WRITE, kShareAll);
    EXPECT_EQ(ErrorOf(win::ReadFile(writer.get(), &byte, 1, &done, nullptr)),
              win::ERROR_ACCESS_DENIED);
}

TEST_F(FileOperationsContract, FileTimesRoundTripInUtc) {
    const std::u16string path = FreshFolder(u"Times") + u"\\Stamped.dll";
    contract::WriteTextFile(path, "data");
    const OpenFile file(path, kReadWrite, 0);
    ASSERT_TRUE(file.is_open()) << file.error();
    const win::FILETIME stamp = ToFileTime(kPatchTime);
    ASSERT_TRUE(win::SetFileTime(file.get(), &stamp, &stamp, &stamp));
    win::FILETIME creation{}, access{}, write{};
    ASSERT_TRUE(win::GetFileTime(file.get(), &creation, &access, &write));
    EXPECT_EQ(FromFileTime(creation), kPatchTime);
    EXPECT_EQ(FromFileTime(access), kPatchTime);
    EXPECT_EQ(FromFileTime(write), kPatchTime);

    // A null time stays as it is.
    const win::FILETIME later = ToFileTime(kPatchTime + 36000000000ull);
    ASSERT_TRUE(win::SetFileTime(file.get(), nullptr, nullptr, &later));
    ASSERT_TRUE(win::GetFileTime(file.get(), &creation, &access, &write));
    // Wine keeps no creation time of its own: it reports the last-write time.
    if (!contract::RunsUnderWine()) {
        EXPECT_EQ(FromFileTime(creation), kPatchTime);
    }
    EXPECT_EQ(FromFileTime(access), kPatchTime);
    EXPECT_EQ(FromFileTime(write), kPatchTime + 36000000000ull);
}

TEST_F(FileOperationsContract, AttributesByName) {
    const std::u16string path = FreshFolder(u"ByName") + u"\\Target.dll";
    contract::WriteTextFile(path, "data");
    const win::DWORD protectedBits = win::FILE_ATTRIBUTE_READONLY | win::FILE_ATTRIBUTE_HIDDEN;
    EXPECT_NE(win::GetFileAttributesW(path.c_str()) & win::FILE_ATTRIBUTE_ARCHIVE, 0u);
    ASSERT_TRUE(win::SetFileAttributesW(path.c_str(), protectedBits));
    EXPECT_EQ(win::GetFileAttributesW(path.c_str()) & protectedBits, protectedBits);
    // No bits at all clears them, as FILE_ATTRIBUTE_NORMAL does.
    ASSERT_TRUE(win::SetFileAttributesW(path.c_str(), 0));
    EXPECT_EQ(win::GetFileAttributesW(path.c_str()) & protectedBits, 0u);
    ASSERT_TRUE(win::SetFileAttributesW(path.c_str(), win::FILE_ATTRIBUTE_READONLY));
    ASSERT_TRUE(win::SetFileAttributesW(path.c_str(), win::FILE_ATTRIBUTE_NORMAL));
    EXPECT_EQ(win::GetFileAttributesW(path.c_str()) & protectedBits, 0u);
    EXPECT_EQ(ErrorOf(win::SetFileAttributesW((path + u".missing").c_str(), 0)),
              win::ERROR_FILE_NOT_FOUND);
}

TEST_F(FileOperationsContract, AttributesByHandle) {
    const win::HMODULE kernel = win::GetModuleHandleW(u"kernel32.dll");
    ASSERT_NE(kernel, nullptr);
    const auto getInfo = reinterpret_cast<win::GetFileInformationByHandleExProc>(
        win::GetProcAddress(kernel, "GetFileInformationByHandleEx"));
    const auto setInfo = reinterpret_cast<win::SetFileInformationByHandleProc>(
        win::GetProcAddress(kernel, "SetFileInformationByHandle"));
    ASSERT_NE(getInfo, nullptr);
    ASSERT_NE(setInfo, nullptr);

    const std::u16string path = FreshFolder(u"ByHandle") + u"\\Target.dll";
    contract::WriteTextFile(path, "data");
    SetLastWriteTime(path, kPatchTime);
    const win::DWORD protectedBits = win::FILE_ATTRIBUTE_READONLY | win::FILE_ATTRIBUTE_HIDDEN;
    const auto attributes = [&] { return win::GetFileAttributesW(path.c_str()) & protectedBits; };
    {
        // The program's attribute open.
        const OpenFile file(path, win::GENERIC_READ | win::FILE_WRITE_ATTRIBUTES,
                            win::FILE_SHARE_READ);
        ASSERT_TRUE(file.is_open()) << file.error();
        win::FILE_BASIC_INFO info{};
        ASSERT_TRUE(getInfo(file.get(), win::FileBasicInfo, &info, sizeof info));
        EXPECT_EQ(static_cast<std::uint64_t>(info.LastWriteTime), kPatchTime);
        EXPECT_NE(info.FileAttributes & win::FILE_ATTRIBUTE_ARCHIVE, 0u);
        EXPECT_EQ(info.FileAttributes & win::FILE_ATTRIBUTE_DIRECTORY, 0u);
        EXPECT_EQ(ErrorOf(getInfo(file.get(), win::FileBasicInfo, &info, sizeof info - 8)),
                  win::ERROR_BAD_LENGTH);

        // The whole record written back: only the attribute word changes.
        info.FileAttributes |= protectedBits;
        ASSERT_TRUE(setInfo(file.get(), win::FileBasicInfo, &info, sizeof info));
        EXPECT_EQ(attributes(), protectedBits);
        // Zero times and zero attributes change nothing.
        win::FILE_BASIC_INFO unchanged{};
        ASSERT_TRUE(setInfo(file.get(), win::FileBasicInfo, &unchanged, sizeof unchanged));
        EXPECT_EQ(attributes(), protectedBits);
        win::FILE_BASIC_INFO cleared{};
        cleared.FileAttributes = win::FILE_ATTRIBUTE_NORMAL;
        ASSERT_TRUE(setInfo(file.get(), win::FileBasicInfo, &cleared, sizeof cleared));
        EXPECT_EQ(attributes(), 0u);
    }
    EXPECT_EQ(LastWriteTime(path), kPatchTime);

    const OpenFile reader(path, win::GENERIC_READ, kShareAll);
    win::FILE_BASIC_INFO info{};
    ASSERT_TRUE(getInfo(reader.get(), win::FileBasicInfo, &info, sizeof info));
    info.FileAttributes = win::FILE_ATTRIBUTE_READONLY;
    if (!WineLetsThrough(true)) {
        EXPECT_EQ(ErrorOf(setInfo(reader.get(), win::FileBasicInfo, &info, sizeof info)),
                  win::ERROR_ACCESS_DENIED);
        EXPECT_EQ(attributes(), 0u);
    }
}

TEST_F(FileOperationsContract, CopyOverProtectedAndHeldTargets) {
    struct Case {
        const char* name;
        win::DWORD targetAttributes;
        bool held;
        win::DWORD holderShare;
        win::BOOL failIfExists;
        win::DWORD error;  // 0: copied
        bool wineLacks = false;
    };
    const Case cases[] = {
        {"a plain target", win::FILE_ATTRIBUTE_NORMAL, false, 0, false, 0},
        {"a read-only target", win::FILE_ATTRIBUTE_READONLY, false, 0, false,
         win::ERROR_ACCESS_DENIED, true},
        {"a hidden target", win::FILE_ATTRIBUTE_HIDDEN, false, 0, false, win::ERROR_ACCESS_DENIED,
         true},
        {"a loaded library", win::FILE_ATTRIBUTE_NORMAL, true, kLoadedLibrary, false,
         win::ERROR_SHARING_VIOLATION},
        {"a target held exclusively", win::FILE_ATTRIBUTE_NORMAL, true, 0, false,
         win::ERROR_SHARING_VIOLATION},
        {"a target that must not exist", win::FILE_ATTRIBUTE_NORMAL, false, 0, true,
         win::ERROR_FILE_EXISTS},
    };
    const std::u16string folder = FreshFolder(u"Copy");
    const std::u16string source = folder + u"\\New.dll";
    contract::WriteTextFile(source, "new");
    char16_t name = u'a';
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const std::u16string target = folder + u"\\" + name++ + u".dll";
        if (WineLetsThrough(c.wineLacks)) continue;
        contract::WriteTextFile(target, "old");
        ASSERT_TRUE(win::SetFileAttributesW(target.c_str(), c.targetAttributes));
        {
            std::optional<OpenFile> holder;
            if (c.held) holder.emplace(target, win::GENERIC_READ, c.holderShare);
            EXPECT_EQ(ErrorOf(win::CopyFileW(source.c_str(), target.c_str(), c.failIfExists)),
                      c.error);
            if (holder) {
                EXPECT_EQ(holder->ReadAll(), "old");
            }
        }
        EXPECT_EQ(Contents(target), c.error ? "old" : "new");
    }
}

TEST_F(FileOperationsContract, ACopyTakesTheSourcesAttributesAndLastWriteTime) {
    const std::u16string folder = FreshFolder(u"CopyStamp");
    const std::u16string source = folder + u"\\New.dll";
    contract::WriteTextFile(source, "new");
    SetLastWriteTime(source, kPatchTime);
    ASSERT_TRUE(win::SetFileAttributesW(source.c_str(), win::FILE_ATTRIBUTE_READONLY));
    const std::u16string existing = folder + u"\\Existing.dll";
    contract::WriteTextFile(existing, "old");
    for (const std::u16string& target : {folder + u"\\Created.dll", existing}) {
        SCOPED_TRACE(std::string(target.begin(), target.end()));
        ASSERT_TRUE(win::CopyFileW(source.c_str(), target.c_str(), false)) << win::GetLastError();
        const win::DWORD attributes = win::GetFileAttributesW(target.c_str());
        // Wine applies the source's read-only bit only to a target it creates.
        if (target != existing || !contract::RunsUnderWine()) {
            EXPECT_NE(attributes & win::FILE_ATTRIBUTE_READONLY, 0u);
        }
        EXPECT_NE(attributes & win::FILE_ATTRIBUTE_ARCHIVE, 0u);
        EXPECT_EQ(LastWriteTime(target), kPatchTime);
        EXPECT_EQ(Contents(target), "new");
    }
}

TEST_F(FileOperationsContract, ALoadedLibraryIsMovedAsideAndReplacedUnderItsName) {
    const std::u16string folder = FreshFolder(u"InUse");
    const std::u16string target = folder + u"\\Example.dll";
    const std::u16string inUse = target + u".tmp.4242-123456789";
    const std::u16string fresh = folder + u"\\New.dll";
    contract::WriteTextFile(target, "old");
    contract::WriteTextFile(fresh, "new");
    const OpenFile holder(target, win::GENERIC_READ, kLoadedLibrary);
    ASSERT_TRUE(holder.is_open()) << holder.error();

    EXPECT_EQ(ErrorOf(win::CopyFileW(fresh.c_str(), target.c_str(), false)),
              win::ERROR_SHARING_VIOLATION);
    ASSERT_TRUE(win::MoveFileW(target.c_str(), inUse.c_str())) << win::GetLastError();
    EXPECT_FALSE(Exists(target));
    // Scheduling the delete for the next restart works on a file in use and deletes nothing now.
    EXPECT_TRUE(win::MoveFileExW(inUse.c_str(), nullptr, win::MOVEFILE_DELAY_UNTIL_REBOOT))
        << win::GetLastError();
    ASSERT_TRUE(win::CopyFileW(fresh.c_str(), target.c_str(), false)) << win::GetLastError();

    EXPECT_EQ(Contents(target), "new");
    EXPECT_EQ(Contents(inUse), "old");
    EXPECT_EQ(holder.ReadAll(), "old");  // the holder went along with the file
}

TEST_F(FileOperationsContract, AFileHeldWithoutDeleteSharingStaysWhereItIs) {
    const std::u16string folder = FreshFolder(u"Held");
    const std::u16string target = folder + u"\\Example.dll";
    const std::u16string other = folder + u"\\Other.dll";
    contract::WriteTextFile(target, "old");
    contract::WriteTextFile(other, "other");
    {
        const OpenFile holder(target, win::GENERIC_READ, win::FILE_SHARE_READ);
        ASSERT_TRUE(holder.is_open()) << holder.error();
        EXPECT_EQ(ErrorOf(win::MoveFileW(target.c_str(), (target + u".moved").c_str())),
                  win::ERROR_SHARING_VIOLATION);
        EXPECT_EQ(ErrorOf(win::DeleteFileW(target.c_str())), win::ERROR_SHARING_VIOLATION);
        EXPECT_TRUE(win::MoveFileExW(target.c_str(), nullptr, win::MOVEFILE_DELAY_UNTIL_REBOOT))
            << win::GetLastError();
        EXPECT_EQ(Contents(target), "old");
    }
    EXPECT_EQ(ErrorOf(win::MoveFileW(target.c_str(), other.c_str())), win::ERROR_ALREADY_EXISTS);
    EXPECT_EQ(ErrorOf(win::MoveFileW((folder + u"\\Missing.dll").c_str(), other.c_str())),
              win::ERROR_FILE_NOT_FOUND);
    ASSERT_TRUE(win::MoveFileExW(target.c_str(), other.c_str(), win::MOVEFILE_REPLACE_EXISTING))
        << win::GetLastError();
    EXPECT_EQ(Contents(other), "old");
    EXPECT_FALSE(Exists(target));
}

TEST_F(FileOperationsContract, DeleteFileRefusesReadOnlyInUseAndMissingFiles) {
    const std::u16string folder = FreshFolder(u"Delete");
    const std::u16string readOnly = folder + u"\\ReadOnly.dll";
    contract::WriteTextFile(readOnly, "old");
    ASSERT_TRUE(win::SetFileAttributesW(readOnly.c_str(), win::FILE_ATTRIBUTE_READONLY));
    EXPECT_EQ(ErrorOf(win::DeleteFileW(readOnly.c_str())), win::ERROR_ACCESS_DENIED);
    EXPECT_TRUE(Exists(readOnly));
    EXPECT_EQ(ErrorOf(win::DeleteFileW((folder + u"\\Missing.dll").c_str())),
              win::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(ErrorOf(win::DeleteFileW((folder + u"\\No\\Missing.dll").c_str())),
              win::ERROR_PATH_NOT_FOUND);
    EXPECT_EQ(ErrorOf(win::DeleteFileW(folder.c_str())), win::ERROR_ACCESS_DENIED);

    // A holder that shares deleting does not stop it; the file is gone once it lets go.
    const std::u16string shared = folder + u"\\Shared.dll";
    contract::WriteTextFile(shared, "old");
    {
        const OpenFile holder(shared, win::GENERIC_READ, kShareAll);
        EXPECT_TRUE(win::DeleteFileW(shared.c_str())) << win::GetLastError();
    }
    EXPECT_FALSE(Exists(shared));
}

TEST_F(FileOperationsContract, TheTemporaryPathAndItsLengthRules) {
    const win::DWORD needed = win::GetTempPathW(0, nullptr);
    ASSERT_GT(needed, 3u);  // the length with the terminator
    std::u16string path(needed, u'x');
    EXPECT_EQ(win::GetTempPathW(needed, path.data()), needed - 1);
    EXPECT_EQ(path[needed - 2], u'\\');
    EXPECT_EQ(path[needed - 1], u'\0');
    std::u16string small(needed - 1, u'x');
    EXPECT_EQ(win::GetTempPathW(needed - 1, small.data()), needed);
}

TEST_F(FileOperationsContract, TheModuleFileNameIsCutToTheBuffer) {
    std::u16string full(1024, u'x');
    const win::DWORD length = win::GetModuleFileNameW(nullptr, full.data(), 1024);
    ASSERT_GT(length, 3u);
    ASSERT_LT(length, 1024u);
    EXPECT_EQ(full[length], u'\0');
    full.resize(length);
    EXPECT_NE(full.find(u'\\'), std::u16string::npos);

    // A buffer without room for the terminator: the length returned is not smaller than it.
    std::u16string cut(length, u'x');
    win::SetLastError(kUntouched);
    EXPECT_GE(win::GetModuleFileNameW(nullptr, cut.data(), length), length);
    EXPECT_EQ(win::GetLastError(), win::ERROR_INSUFFICIENT_BUFFER);
    EXPECT_EQ(cut.substr(0, length - 1), full.substr(0, length - 1));
}

TEST_F(FileOperationsContract, ShellCreatesNestedFoldersAndReportsExistingOnes) {
    const std::u16string folder = FreshFolder(u"Shell");
    const std::u16string nested = folder + u"\\a\\b\\c.tmp\\";
    EXPECT_EQ(win::SHCreateDirectory(nullptr, nested.c_str()), 0);
    EXPECT_NE(win::GetFileAttributesW(nested.c_str()) & win::FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_EQ(win::SHCreateDirectory(nullptr, nested.c_str()),
              static_cast<int>(win::ERROR_ALREADY_EXISTS));
    EXPECT_EQ(win::SHCreateDirectory(nullptr, u"relative\\folder"), static_cast<int>(kBadPathName));
    contract::WriteTextFile(folder + u"\\file", "x");
    EXPECT_EQ(win::SHCreateDirectory(nullptr, (folder + u"\\file\\sub").c_str()),
              static_cast<int>(win::ERROR_PATH_NOT_FOUND));
}

TEST_F(FileOperationsContract, FoldersAreRemovedOnlyWhenEmpty) {
    const std::u16string folder = FreshFolder(u"Remove");
    const std::u16string withFile = folder + u"\\WithFile";
    const std::u16string withFolder = folder + u"\\WithFolder";
    ASSERT_TRUE(win::CreateDirectoryW(withFile.c_str(), nullptr));
    ASSERT_TRUE(win::CreateDirectoryW(withFolder.c_str(), nullptr));
    EXPECT_EQ(ErrorOf(win::CreateDirectoryW(withFile.c_str(), nullptr)), win::ERROR_ALREADY_EXISTS);
    EXPECT_EQ(ErrorOf(win::CreateDirectoryW((folder + u"\\No\\Sub").c_str(), nullptr)),
              win::ERROR_PATH_NOT_FOUND);
    ASSERT_TRUE(win::CreateDirectoryW((withFolder + u"\\Sub").c_str(), nullptr));
    contract::WriteTextFile(withFile + u"\\left.dll", "x");

    EXPECT_EQ(ErrorOf(win::RemoveDirectoryW(withFile.c_str())), win::ERROR_DIR_NOT_EMPTY);
    EXPECT_EQ(ErrorOf(win::RemoveDirectoryW(withFolder.c_str())), win::ERROR_DIR_NOT_EMPTY);
    EXPECT_EQ(ErrorOf(win::RemoveDirectoryW((withFile + u"\\left.dll").c_str())), kNotAFolder);
    EXPECT_EQ(ErrorOf(win::RemoveDirectoryW((folder + u"\\Missing").c_str())),
              win::ERROR_FILE_NOT_FOUND);
    ASSERT_TRUE(win::DeleteFileW((withFile + u"\\left.dll").c_str()));
    EXPECT_TRUE(win::RemoveDirectoryW((withFile + u"\\").c_str())) << win::GetLastError();
    EXPECT_FALSE(Exists(withFile));
}

TEST_F(FileOperationsContract, PathHelpers) {
    struct Case {
        const char16_t* path;
        std::size_t nameAt;
    };
    const Case cases[] = {
        {u"C:\\P\\App\\Example.dll", 9}, {u"C:\\P\\App\\", 5},        {u"Example.dll", 0},
        {u"C:Example.dll", 2},           {u"\\\\?\\C:\\T\\x.tmp", 9}, {u"", 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.path, c.path + std::char_traits<char16_t>::length(c.path)));
        EXPECT_EQ(win::PathFindFileNameW(c.path), c.path + c.nameAt);
    }
    const std::u16string folder = FreshFolder(u"Exists");
    contract::WriteTextFile(folder + u"\\file.dll", "x");
    EXPECT_TRUE(win::PathFileExistsW((folder + u"\\file.dll").c_str()));
    EXPECT_TRUE(win::PathFileExistsW(folder.c_str()));
    EXPECT_FALSE(win::PathFileExistsW((folder + u"\\missing.dll").c_str()));
    EXPECT_FALSE(win::PathFileExistsW(nullptr));
}

}  // namespace
