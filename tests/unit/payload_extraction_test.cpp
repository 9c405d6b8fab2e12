#include "engine/payload_extraction.h"

#include <fstream>
#include <iterator>

#include "platform/constants.h"
#include "sim_test.h"

namespace {

constexpr char16_t kWorkFolder[] = u"C:\\Users\\Admin\\AppData\\Local\\Temp\\Update.exe.tmp\\";
constexpr std::uint64_t kPatchTime = 0x01CEDF4AE4D41000;  // 2013-11-12 02:00:00 UTC

const win::HMODULE kProgram = reinterpret_cast<win::HMODULE>(0x00400000);

std::vector<std::uint8_t> ReadPayload(const std::string& name) {
    std::ifstream in(std::string(PAYLOAD_DIR) + "/" + name, std::ios::binary);
    EXPECT_TRUE(in) << "missing payload " << name;
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

class PayloadExtractionTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        machine().AddDirectory(kWorkFolder);
    }
    static PatchItem Item(std::size_t row, const std::u16string& folder = u"C:\\P\\App\\") {
        PatchItem item = PatchTable.at(row);
        item.fileName = folder + item.fileName;
        return item;
    }
    win::HRESULT Extract(const PatchItem& item) {
        return ExtractPayload(kWorkFolder, item, kProgram, expanded);
    }
    std::size_t FilesInWorkFolder() {
        std::size_t count = 0;
        const std::u16string prefix = sim::Machine::NormalizePath(kWorkFolder);
        for (const auto& [path, file] : machine().files) count += path.rfind(prefix, 0) == 0;
        return count;
    }
    std::u16string expanded = u"stale";
};

TEST_F(PayloadExtractionTest, ExpandsThePayloadWithTheFixedTimeAndLeavesNoCompressedFile) {
    struct Case {
        std::size_t row;
        const char* payload;
    };
    for (const Case c : {Case{0, "ClipUploader.dll"}, Case{5, "Reelwright.exe"},
                         Case{8, "RemoveKeys.bat"}, Case{9, "gpucal.ini"}}) {
        SCOPED_TRACE(c.payload);
        const PatchItem item = Item(c.row);
        ASSERT_EQ(Extract(item), win::S_OK);
        EXPECT_EQ(expanded, kWorkFolder + std::u16string(PatchTable[c.row].fileName));
        const sim::File* file = machine().FindFile(expanded);
        ASSERT_NE(file, nullptr);
        EXPECT_EQ(file->bytes, ReadPayload(c.payload));
        EXPECT_EQ(file->times.creation, kPatchTime);
        EXPECT_EQ(file->times.lastAccess, kPatchTime);
        EXPECT_EQ(file->times.lastWrite, kPatchTime);
        EXPECT_EQ(machine().FindFile(expanded + u".tmp"), nullptr);
        machine().files.erase(sim::Machine::NormalizePath(expanded));
    }
    // A negative id names the resource of its absolute value.
    const auto finds = machine().CallsTo("FindResourceW");
    EXPECT_NE(finds.at(2).arguments.find("#409"), std::string::npos);
}

TEST_F(PayloadExtractionTest, WritesTheResourceInOneCallFromTheResourceMemory) {
    ASSERT_EQ(Extract(Item(1)), win::S_OK);
    const auto writes = machine().CallsTo("WriteFile");
    ASSERT_EQ(writes.size(), 1u);
    const auto locks = machine().CallsTo("LockResource");
    ASSERT_EQ(locks.size(), 1u);
    // The write's buffer is the locked resource itself, not a copy.
    EXPECT_NE(writes[0].arguments.find(locks[0].result), std::string::npos) << writes[0].arguments;
}

TEST_F(PayloadExtractionTest, EachFailureGivesItsCodeAndLeavesWhatItShould) {
    struct Case {
        const char* name;
        const char* function;
        win::DWORD error;
        int occurrence;
        win::HRESULT result;
        std::size_t filesLeft;
    };
    const Case cases[] = {
        {"resource missing", "FindResourceW", 1814, 1, static_cast<win::HRESULT>(0x80070716u), 0},
        {"resource not loaded", "LoadResource", 1812, 1, static_cast<win::HRESULT>(0x80070714u), 0},
        {"resource not locked", "LockResource", 8, 1, static_cast<win::HRESULT>(0x80070008u), 0},
        {"compressed file not created", "CreateFileW", 5, 1, win::E_ACCESSDENIED, 0},
        {"write fails", "WriteFile", 112, 1, static_cast<win::HRESULT>(0x80070070u), 0},
        {"source LZ open fails", "LZOpenFileW", 2, 1, static_cast<win::HRESULT>(0x8007006Eu), 1},
        {"target LZ open fails", "LZOpenFileW", 5, 2, static_cast<win::HRESULT>(0x8007006Eu), 0},
        {"expansion fails", "LZCopy", 13, 1, static_cast<win::HRESULT>(0x8007006Eu), 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::ResetMachine();
        machine().AddDirectory(kWorkFolder);
        machine().Fail(c.function, c.error, c.occurrence);
        expanded = u"stale";
        EXPECT_EQ(Extract(Item(2)), c.result);
        EXPECT_TRUE(expanded.empty());
        EXPECT_EQ(FilesInWorkFolder(), c.filesLeft);
        EXPECT_EQ(machine().FindFile(std::u16string(kWorkFolder) + u"EdCore.dll.tmp"), nullptr);
    }
}

TEST_F(PayloadExtractionTest, AFileThatCannotBeReopenedIsKeptWithoutTheStamp) {
    machine().Fail("CreateFileW", 32, 2);
    ASSERT_EQ(Extract(Item(3)), win::S_OK);
    const sim::File* file = machine().FindFile(expanded);
    ASSERT_NE(file, nullptr);
    EXPECT_NE(file->times.lastWrite, kPatchTime);
    EXPECT_EQ(machine().CountCalls("SetFileTime"), 0u);
}

TEST_F(PayloadExtractionTest, TheWorkFolderHasOneSeparatorBeforeItsName) {
    for (const std::u16string temp : {u"C:\\T\\", u"C:\\T"}) {
        SCOPED_TRACE(sim::Narrow(temp));
        machine().tempPath = temp;
        EXPECT_EQ(MakeWorkFolder(u"setup.exe"), u"C:\\T\\setup.exe.tmp\\");
        EXPECT_TRUE(machine().DirectoryExists(u"C:\\T\\setup.exe.tmp"));
    }
    machine().tempPath = u"C:\\Missing\\Deeper\\";
    EXPECT_EQ(MakeWorkFolder(u"x"), u"C:\\Missing\\Deeper\\x.tmp\\");
    EXPECT_TRUE(machine().DirectoryExists(u"C:\\Missing\\Deeper\\x.tmp"));

    machine().Fail("GetTempPathW", 5);
    EXPECT_EQ(MakeWorkFolder(u"x"), u"");
}

TEST_F(PayloadExtractionTest, TheModulePathIsReadWithAGrowingBuffer) {
    const std::u16string longPath = u"C:\\" + std::u16string(500, u'm') + u"\\Update.exe";
    machine().modulePath = longPath;
    EXPECT_EQ(GetModulePath(), longPath);
    const auto calls = machine().CallsTo("GetModuleFileNameW");
    ASSERT_EQ(calls.size(), 3u);
    EXPECT_NE(calls[0].arguments.find("0x104"), std::string::npos);  // 260
    EXPECT_NE(calls[1].arguments.find("0x186"), std::string::npos);  // 390
    EXPECT_NE(calls[2].arguments.find("0x249"), std::string::npos);  // 585
}

}  // namespace
