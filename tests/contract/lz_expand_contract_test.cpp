// The LZ expansion functions as the payload extraction uses them: what our packer writes
// expands to its input byte for byte, and damaged, plain and unreachable files come out as
// lz32 makes of them.
#include <fstream>
#include <iterator>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "contract_test.h"
#include "platform/constants.h"
#include "tools/szdd/szdd_pack.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr win::WORD kReadExclusive = win::OF_READ | win::OF_SHARE_EXCLUSIVE;
constexpr win::WORD kCreateExclusive = win::OF_CREATE | win::OF_WRITE | win::OF_SHARE_EXCLUSIVE;
constexpr win::INT kNoSuchHandle = 0x7FF0;

Bytes FromString(const std::string& text) {
    return Bytes(text.begin(), text.end());
}

Bytes Random(std::size_t n, std::uint32_t seed) {
    std::mt19937 gen(seed);
    Bytes out(n);
    for (auto& b : out) b = static_cast<std::uint8_t>(gen());
    return out;
}

// A file of the build as the host sees it (on Windows through Wine's Z: drive).
Bytes HostFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    EXPECT_TRUE(in.good()) << path;
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

// `distance` random bytes, then their first 18 again.
Bytes RepeatedAfter(std::size_t distance) {
    Bytes data = Random(distance, 77);
    const Bytes head(data.begin(), data.begin() + 18);
    data.insert(data.end(), head.begin(), head.end());
    return data;
}

std::u16string Digits(int n) {
    const std::string text = std::to_string(n);
    return std::u16string(text.begin(), text.end());
}

std::string Narrow(const std::u16string& text) {
    return std::string(text.begin(), text.end());
}

void WriteBytes(const std::u16string& path, const Bytes& bytes) {
    contract::WriteTextFile(path, std::string(bytes.begin(), bytes.end()));
}

std::optional<Bytes> ReadBytes(const std::u16string& path) {
    const win::HANDLE file = win::CreateFileW(path.c_str(), win::GENERIC_READ, win::FILE_SHARE_READ,
                                              nullptr, win::OPEN_EXISTING, 0, nullptr);
    if (file == win::INVALID_HANDLE_VALUE) return std::nullopt;
    Bytes bytes;
    std::uint8_t chunk[65536];
    win::DWORD read = 0;
    while (win::ReadFile(file, chunk, sizeof chunk, &read, nullptr) && read != 0)
        bytes.insert(bytes.end(), chunk, chunk + read);
    win::CloseHandle(file);
    return bytes;
}

// An SZDD header claiming `length` bytes, in mode `mode`, before `stream`.
Bytes Szdd(std::uint32_t length, Bytes stream, std::uint8_t mode = 'A') {
    Bytes file = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33, mode, 0};
    for (int shift = 0; shift < 32; shift += 8)
        file.push_back(static_cast<std::uint8_t>(length >> shift));
    file.insert(file.end(), stream.begin(), stream.end());
    return file;
}

// An LZOpenFileW handle as the program opens one: a zeroed OFSTRUCT with its size set.
struct LzOpen {
    LzOpen(std::u16string path, win::WORD style) : name(std::move(path)) {
        info.cBytes = sizeof info;
        handle = win::LZOpenFileW(name.data(), &info, style);
        error = win::GetLastError();
    }
    ~LzOpen() {
        if (handle >= 0) win::LZClose(handle);
    }
    LzOpen(const LzOpen&) = delete;
    LzOpen& operator=(const LzOpen&) = delete;

    std::u16string name;
    win::OFSTRUCT info{};
    win::INT handle = -1;
    win::DWORD error = 0;
};

struct Expansion {
    win::LONG result = 0;
    std::optional<Bytes> output;
};

// Expands `source` into `source` + ".out" the way payload extraction does.
Expansion Expand(const std::u16string& source) {
    Expansion expansion;
    const std::u16string target = source + u".out";
    {
        const LzOpen from(source, kReadExclusive);
        const LzOpen to(target, kCreateExclusive);
        EXPECT_GE(from.handle, 0) << from.info.szPathName;
        EXPECT_GE(to.handle, 0) << to.info.szPathName;
        expansion.result = win::LZCopy(from.handle, to.handle);
    }
    expansion.output = ReadBytes(target);
    return expansion;
}

class LzExpandContract : public ContractTest {};

TEST_F(LzExpandContract, PackedFilesExpandToTheirInput) {
    Bytes spacesThenText(5000, ' ');  // matches taken from the window's initial spaces
    for (char c : std::string("then text")) spacesThenText.push_back(static_cast<std::uint8_t>(c));
    const struct {
        std::string name;
        Bytes data;
    } cases[] = {
        {"empty", {}},
        {"1 byte", FromString("a")},
        {"2 bytes", FromString("ab")},
        {"3 bytes", FromString("aaa")},
        {"4 bytes", FromString("    ")},
        {"5 bytes", FromString("abcab")},
        {"6 bytes", FromString("a a a ")},
        {"7 bytes", FromString("abcabca")},
        {"8 bytes", FromString("abcdefgh")},
        {"9 bytes", {0, 0xFF, 0, 0xFF, 0, 0xFF, 0, 0xFF, 0}},
        {"run of 40", Bytes(40, 'z')},
        {"spaces then text", spacesThenText},
        {"leading spaces", FromString("   leading spaces, then   more   spaces")},
        {"text", FromString("It was the best of times, it was the worst of times, it was the age "
                            "of wisdom, it was the age of foolishness, it was the epoch of "
                            "belief, it was the epoch of incredulity.\r\n")},
        {"random", Random(20000, 11)},
        // The only match reaches the oldest byte of the window; then one byte out of reach.
        {"repeat at 4096", RepeatedAfter(4096)},
        {"repeat at 4097", RepeatedAfter(4097)},
        {"program", HostFile(PAYLOAD_DIR "/Reelwright.exe")},
        {"library", HostFile(PAYLOAD_DIR "/EdCore.dll")},
    };
    const std::u16string folder = contract::FreshFolder(u"LzRoundTrip");
    int n = 0;
    for (const auto& c : cases) {
        const std::u16string source = folder + u"\\case" + Digits(n++) + u".bi_";
        WriteBytes(source, szdd::PackSzdd(c.data, 'n'));
        const Expansion e = Expand(source);
        EXPECT_EQ(e.result, static_cast<win::LONG>(c.data.size())) << c.name;
        ASSERT_TRUE(e.output.has_value()) << c.name;
        EXPECT_TRUE(*e.output == c.data) << c.name << ": " << e.output->size() << " bytes";
    }
}

TEST_F(LzExpandContract, ThePayloadResourcesExpandToThePayloadFiles) {
    const struct {
        win::WORD id;
        const char* file;
    } payloads[] = {
        {401, "ClipUploader.dll"}, {402, "EdControls.dll"},       {403, "EdCore.dll"},
        {404, "EdResource.dll"},   {405, "OrlinUpdate.dll"},      {406, "Reelwright.exe"},
        {407, "GpuProbe.dll"},     {408, "help/OrlinUpdate.dll"}, {409, "RemoveKeys.bat"},
        {410, "gpucal.ini"},       {411, "gpucal.dll"},
    };
    const win::HMODULE self = win::GetModuleHandleW(nullptr);
    const std::u16string folder = contract::FreshFolder(u"LzPayloads");
    for (const auto& p : payloads) {
        const win::HRSRC found = win::FindResourceW(self, win::MakeIntResource(p.id), u"PATCH");
        ASSERT_NE(found, nullptr) << p.id;
        const auto* data =
            static_cast<const std::uint8_t*>(win::LockResource(win::LoadResource(self, found)));
        ASSERT_NE(data, nullptr) << p.id;
        const std::u16string source = folder + u"\\payload" + Digits(p.id) + u".tmp";
        WriteBytes(source, Bytes(data, data + win::SizeofResource(self, found)));
        const Bytes expected = HostFile(std::string(PAYLOAD_DIR "/") + p.file);
        const Expansion e = Expand(source);
        EXPECT_EQ(e.result, static_cast<win::LONG>(expected.size())) << p.file;
        ASSERT_TRUE(e.output.has_value()) << p.file;
        EXPECT_TRUE(*e.output == expected) << p.file;
    }
}

TEST_F(LzExpandContract, DamagedAndPlainFilesComeOutAsTheStreamAllows) {
    const Bytes eightLiterals = {0xFF, 'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'};
    // A literal 'q', 18 bytes copied from it (offset 0xFF0, where it went), then a match
    // cut after its first byte.
    const Bytes cutMatch = {0x01, 'q', 0xF0, 0xFF, 0xF0};
    Bytes shortHeader = Szdd(5, {});
    shortHeader.resize(13);
    const struct {
        std::string name;
        Bytes file;
        Bytes output;
    } cases[] = {
        // The header's length is not what ends the expansion: the stream's end is.
        {"complete", Szdd(8, eightLiterals), FromString("abcdefgh")},
        {"truncated", Szdd(8, Bytes(eightLiterals.begin(), eightLiterals.begin() + 6)),
         FromString("abcde")},
        {"cut match", Szdd(30, cutMatch), Bytes(19, 'q')},
        {"length too long", Szdd(100, eightLiterals), FromString("abcdefgh")},
        {"length too short", Szdd(3, eightLiterals), FromString("abcdefgh")},
        {"header only", Szdd(10, {}), {}},
        {"unknown mode", Szdd(8, eightLiterals, 'B'), {}},
        // Anything else is copied as it is.
        {"plain text", FromString("not compressed at all\r\n"),
         FromString("not compressed at all\r\n")},
        {"signature without a header", shortHeader, shortHeader},
        {"empty", {}, {}},
    };
    const std::u16string folder = contract::FreshFolder(u"LzDamaged");
    int n = 0;
    for (const auto& c : cases) {
        const std::u16string source = folder + u"\\case" + Digits(n++) + u".tx_";
        WriteBytes(source, c.file);
        const Expansion e = Expand(source);
        EXPECT_EQ(e.result, static_cast<win::LONG>(c.output.size())) << c.name;
        ASSERT_TRUE(e.output.has_value()) << c.name;
        EXPECT_TRUE(*e.output == c.output) << c.name << ": " << e.output->size() << " bytes";
    }
}

TEST_F(LzExpandContract, AnOpenFillsTheRecordWithTheAnsiPath) {
    const std::u16string folder = contract::FreshFolder(u"LzRecord");
    const std::u16string path = folder + u"\\EdCore.dll.tmp";
    WriteBytes(path, szdd::PackSzdd(FromString("record"), 'p'));
    const LzOpen file(path, kReadExclusive);
    ASSERT_GE(file.handle, 0);
    EXPECT_EQ(file.info.cBytes, sizeof(win::OFSTRUCT));
    EXPECT_EQ(file.info.nErrCode, 0);
    EXPECT_EQ(std::string(file.info.szPathName), Narrow(path));
    const LzOpen created(folder + u"\\EdCore.dll", kCreateExclusive);
    ASSERT_GE(created.handle, 0);
    EXPECT_EQ(std::string(created.info.szPathName), Narrow(folder + u"\\EdCore.dll"));
}

TEST_F(LzExpandContract, AMissingFileIsLookedForUnderItsCompressedNameToo) {
    const std::u16string folder = contract::FreshFolder(u"LzMissing");
    {
        const LzOpen missing(folder + u"\\missing.tmp", kReadExclusive);
        EXPECT_LT(missing.handle, 0);
        EXPECT_EQ(missing.error, win::ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(missing.info.nErrCode, win::ERROR_FILE_NOT_FOUND);
        EXPECT_EQ(missing.info.cBytes, sizeof(win::OFSTRUCT));
        // The record names the last name tried.
        EXPECT_EQ(std::string(missing.info.szPathName), Narrow(folder + u"\\missing.tm_"));
    }
    {
        const LzOpen noFolder(folder + u"\\none\\missing.tmp", kReadExclusive);
        EXPECT_LT(noFolder.handle, 0);
        EXPECT_EQ(noFolder.info.nErrCode, win::ERROR_FILE_NOT_FOUND);
        const LzOpen createInNoFolder(folder + u"\\none\\new.dll", kCreateExclusive);
        EXPECT_LT(createInNoFolder.handle, 0);
        EXPECT_EQ(createInNoFolder.info.nErrCode, win::ERROR_PATH_NOT_FOUND);
        EXPECT_EQ(createInNoFolder.error, win::ERROR_PATH_NOT_FOUND);
    }
    WriteBytes(folder + u"\\packed.dl_", szdd::PackSzdd(FromString("under the packed name"), 'l'));
    const LzOpen packed(folder + u"\\packed.dll", kReadExclusive);
    ASSERT_GE(packed.handle, 0);
    EXPECT_EQ(std::string(packed.info.szPathName), Narrow(folder + u"\\packed.dl_"));
}

TEST_F(LzExpandContract, AnExclusiveOpenKeepsOthersOut) {
    const std::u16string folder = contract::FreshFolder(u"LzInUse");
    const std::u16string path = folder + u"\\EdCore.dll";
    WriteBytes(path, szdd::PackSzdd(FromString("held"), 'l'));
    const LzOpen holder(path, kReadExclusive);
    ASSERT_GE(holder.handle, 0);

    const win::HANDLE other =
        win::CreateFileW(path.c_str(), win::GENERIC_READ,
                         win::FILE_SHARE_READ | win::FILE_SHARE_WRITE | win::FILE_SHARE_DELETE,
                         nullptr, win::OPEN_EXISTING, 0, nullptr);
    EXPECT_EQ(other, win::INVALID_HANDLE_VALUE);
    EXPECT_EQ(win::GetLastError(), win::ERROR_SHARING_VIOLATION);
    if (other != win::INVALID_HANDLE_VALUE) win::CloseHandle(other);

    // The second open fails on the file and then on its compressed name, which is missing.
    const LzOpen reader(path, kReadExclusive);
    EXPECT_LT(reader.handle, 0);
    EXPECT_EQ(reader.info.nErrCode, win::ERROR_FILE_NOT_FOUND);
    // Creating it fails the same way, and so the compressed name is created instead.
    const LzOpen writer(path, kCreateExclusive);
    EXPECT_GE(writer.handle, 0);
    EXPECT_EQ(std::string(writer.info.szPathName), Narrow(folder + u"\\EdCore.dl_"));
}

TEST_F(LzExpandContract, PathsMustFitTheRecord) {
    const std::u16string folder = contract::FreshFolder(u"LzLong");
    for (const std::size_t length : {127u, 128u}) {
        std::u16string path = folder + u"\\";
        path += std::u16string(length - path.size() - 4, u'n') + u".txt";
        ASSERT_EQ(path.size(), length);
        WriteBytes(path, FromString("fits?"));
        LzOpen file(path, kReadExclusive);
        if (length < sizeof file.info.szPathName) {
            EXPECT_GE(file.handle, 0) << length;
            EXPECT_EQ(std::string(file.info.szPathName), Narrow(path));
        } else {
            EXPECT_LT(file.handle, 0) << length;
            EXPECT_EQ(file.info.nErrCode, win::ERROR_INVALID_DATA) << length;
        }
    }
}

TEST_F(LzExpandContract, CopyingThroughUnusableHandles) {
    const std::u16string folder = contract::FreshFolder(u"LzHandles");
    const std::u16string packed = folder + u"\\data.tx_";
    WriteBytes(packed, szdd::PackSzdd(FromString("some data"), 't'));
    const LzOpen target(folder + u"\\data.txt", kCreateExclusive);
    ASSERT_GE(target.handle, 0);
    // An unusable source counts as nothing to copy; an unusable target fails the write.
    EXPECT_EQ(win::LZCopy(kNoSuchHandle, target.handle), 0);
    {
        const LzOpen source(packed, kReadExclusive);
        EXPECT_EQ(win::LZCopy(source.handle, kNoSuchHandle), win::LZERROR_WRITE);
    }
    {
        const LzOpen source(packed, kReadExclusive);
        WriteBytes(folder + u"\\plain.txt", FromString("plain"));
        const LzOpen plain(folder + u"\\plain.txt", kReadExclusive);
        // A handle opened for reading takes no writes.
        EXPECT_EQ(win::LZCopy(plain.handle, source.handle), win::LZERROR_WRITE);
        // A second copy through an expanding handle finds it used up.
        EXPECT_EQ(win::LZCopy(source.handle, target.handle), 9);
        EXPECT_EQ(win::LZCopy(source.handle, target.handle), 0);
    }
}

TEST_F(LzExpandContract, TheCopyTakesTheSourcesLastWriteTime) {
    const std::u16string folder = contract::FreshFolder(u"LzTime");
    const std::u16string packed = folder + u"\\data.tx_";
    WriteBytes(packed, szdd::PackSzdd(FromString("stamped"), 't'));
    const win::FILETIME stamp = {0xE4D41000u, 0x01CEDF4Au};  // 2013-11-12 02:00 UTC
    {
        const win::HANDLE file = win::CreateFileW(packed.c_str(), win::GENERIC_WRITE, 0, nullptr,
                                                  win::OPEN_EXISTING, 0, nullptr);
        ASSERT_NE(file, win::INVALID_HANDLE_VALUE);
        EXPECT_TRUE(win::SetFileTime(file, nullptr, nullptr, &stamp));
        win::CloseHandle(file);
    }
    ASSERT_EQ(Expand(packed).result, 7);
    const win::HANDLE copy =
        win::CreateFileW((packed + u".out").c_str(), win::GENERIC_READ, win::FILE_SHARE_READ,
                         nullptr, win::OPEN_EXISTING, 0, nullptr);
    ASSERT_NE(copy, win::INVALID_HANDLE_VALUE);
    win::FILETIME written{};
    EXPECT_TRUE(win::GetFileTime(copy, nullptr, nullptr, &written));
    win::CloseHandle(copy);
    EXPECT_EQ(written.dwHighDateTime, stamp.dwHighDateTime);
    EXPECT_EQ(written.dwLowDateTime, stamp.dwLowDateTime);
}

}  // namespace
