#include "engine/file_replacement.h"

#include "platform/constants.h"
#include "sim_test.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

constexpr char16_t kTarget[] = u"C:\\P\\App\\Example.dll";
constexpr char16_t kInUse[] = u"C:\\P\\App\\Example.dll.tmp.4242-123456789";
constexpr char16_t kNew[] = u"C:\\T\\Example.dll";
constexpr char16_t kWorkFolder[] =
    u"C:\\Users\\Admin\\AppData\\Local\\Temp\\ReelwrightUpdate.exe.tmp";
constexpr win::DWORD kLoadedLibrary = win::FILE_SHARE_READ | win::FILE_SHARE_DELETE;
constexpr win::HRESULT kSharingViolation = static_cast<win::HRESULT>(0x80070020u);

const win::HMODULE kProgram = reinterpret_cast<win::HMODULE>(0x00400000);
const Bytes kOld = {'o', 'l', 'd'};
const Bytes kNewBytes = {'n', 'e', 'w', '!'};

class FileReplacementTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        machine().AddFile(kNew, kNewBytes);
    }
    // Both ways of reading and writing attributes must give the same results.
    void UseNameBasedAttributes() {
        machine().absentFunctions.insert("GetFileInformationByHandleEx");
    }
    Bytes BytesAt(const std::u16string& path) {
        const sim::File* file = machine().FindFile(path);
        return file ? file->bytes : Bytes{};
    }
};

TEST_F(FileReplacementTest, TheNewFileTakesTheTargetsAttributesExceptEncryption) {
    struct Case {
        const char* name;
        win::DWORD before, after;
    };
    const Case cases[] = {
        {"plain", 0x20, 0x20},       {"read-only", 0x21, 0x21},
        {"hidden", 0x22, 0x22},      {"read-only and hidden", 0x23, 0x23},
        {"encrypted", 0x4020, 0x20},
    };
    for (const bool byName : {false, true}) {
        for (const Case& c : cases) {
            SCOPED_TRACE(std::string(c.name) + (byName ? " by name" : " by handle"));
            sim::ResetMachine();
            if (byName) UseNameBasedAttributes();
            machine().AddFile(kNew, kNewBytes);
            machine().AddFile(kTarget, kOld, c.before);
            EXPECT_EQ(ReplaceTargetFile(kTarget, kNew), win::S_OK);
            EXPECT_EQ(BytesAt(kTarget), kNewBytes);
            ASSERT_NE(machine().FindFile(kTarget), nullptr);
            EXPECT_EQ(machine().FindFile(kTarget)->attributes, c.after);
            EXPECT_EQ(machine().CountCalls("GetFileAttributesW") != 0, byName);
        }
    }
}

TEST_F(FileReplacementTest, AnAbsentTargetIsCreatedWithTheNewFilesOwnAttributes) {
    machine().AddFile(kNew, kNewBytes, 0x21);
    machine().AddDirectory(u"C:\\P\\App");
    EXPECT_EQ(ReplaceTargetFile(kTarget, kNew), win::S_OK);
    ASSERT_NE(machine().FindFile(kTarget), nullptr);
    EXPECT_EQ(machine().FindFile(kTarget)->bytes, kNewBytes);
    EXPECT_EQ(machine().FindFile(kTarget)->attributes, 0x21u);
}

TEST_F(FileReplacementTest, ATargetInUseIsMovedAsideAndDeletedAtRestart) {
    machine().AddFile(kTarget, kOld);
    machine().HoldFileElsewhere(kTarget, win::GENERIC_READ, kLoadedLibrary);
    EXPECT_EQ(ReplaceTargetFile(kTarget, kNew), win::S_OK);
    EXPECT_EQ(BytesAt(kTarget), kNewBytes);
    EXPECT_EQ(BytesAt(kInUse), kOld);
    ASSERT_EQ(machine().pendingRenames.size(), 1u);
    EXPECT_EQ(machine().pendingRenames[0].source, sim::Machine::NormalizePath(kInUse));
    EXPECT_EQ(machine().pendingRenames[0].destination, u"");
}

TEST_F(FileReplacementTest, ATargetThatCanBeNeitherWrittenNorMovedIsLeftAlone) {
    machine().AddFile(kTarget, kOld);
    machine().HoldFileElsewhere(kTarget, win::GENERIC_READ, win::FILE_SHARE_READ);
    EXPECT_EQ(ReplaceTargetFile(kTarget, kNew), kSharingViolation);
    EXPECT_EQ(BytesAt(kTarget), kOld);
    EXPECT_EQ(machine().FindFile(kInUse), nullptr);
    EXPECT_TRUE(machine().pendingRenames.empty());
}

TEST_F(FileReplacementTest, ACopyFailingAfterTheMovePutsTheOldFileBackAndSchedulesNothing) {
    machine().AddFile(kTarget, kOld);
    machine().HoldFileElsewhere(kTarget, win::GENERIC_READ, kLoadedLibrary);
    machine().Fail("CopyFileW", 112, 2);
    EXPECT_EQ(ReplaceTargetFile(kTarget, kNew), static_cast<win::HRESULT>(0x80070070u));
    EXPECT_EQ(BytesAt(kTarget), kOld);
    EXPECT_EQ(machine().FindFile(kInUse), nullptr);
    EXPECT_TRUE(machine().pendingRenames.empty());
}

TEST_F(FileReplacementTest, DeletesPlainProtectedAndInUseTargets) {
    struct Case {
        const char* name;
        win::DWORD attributes;
        win::DWORD holderSharing;  // 0: nobody holds the file
        bool byName;
        win::HRESULT result;
        bool movedAside;
    };
    const Case cases[] = {
        {"plain", 0x20, 0, false, win::S_OK, false},
        {"read-only", 0x21, 0, false, win::S_OK, false},
        {"read-only and hidden, by name", 0x23, 0, true, win::S_OK, false},
        {"held with delete sharing", 0x20, win::FILE_SHARE_READ | win::FILE_SHARE_DELETE, false,
         win::S_OK, false},
        {"in use and not movable", 0x20, win::FILE_SHARE_READ, false, kSharingViolation, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        sim::ResetMachine();
        if (c.byName) UseNameBasedAttributes();
        machine().AddFile(kTarget, kOld, c.attributes);
        if (c.holderSharing)
            machine().HoldFileElsewhere(kTarget, win::GENERIC_READ, c.holderSharing);
        EXPECT_EQ(DeleteTargetFile(kTarget), c.result);
        EXPECT_EQ(machine().FindFile(kTarget) != nullptr, c.result != win::S_OK);
        EXPECT_EQ(machine().FindFile(kInUse) != nullptr, c.movedAside);
        EXPECT_EQ(machine().pendingRenames.size(), c.movedAside ? 1u : 0u);
    }
    sim::ResetMachine();
    EXPECT_EQ(DeleteTargetFile(kTarget), static_cast<win::HRESULT>(0x80070003u));
}

// A file the system refuses to delete while it is in use, but lets be renamed (a mapped
// image): moved aside and deleted at the next restart.
TEST_F(FileReplacementTest, ATargetThatCannotBeDeletedInUseIsMovedAsideForTheRestart) {
    machine().AddFile(kTarget, kOld);
    machine().Fail("DeleteFileW", win::ERROR_SHARING_VIOLATION, 1);
    EXPECT_EQ(DeleteTargetFile(kTarget), win::S_OK);
    EXPECT_EQ(machine().FindFile(kTarget), nullptr);
    EXPECT_EQ(BytesAt(kInUse), kOld);
    ASSERT_EQ(machine().pendingRenames.size(), 1u);
    EXPECT_EQ(machine().pendingRenames[0].source, sim::Machine::NormalizePath(kInUse));
}

TEST_F(FileReplacementTest, AppliesTheItemsInOrderAndRemovesTheWorkFolder) {
    machine().AddFile(u"C:\\P\\App\\ClipUploader.dll", kOld);
    PatchWorkList items = WorkItems({0, 8, 9});
    PatchItem removal = items[0];
    removal.payloadId = 0;
    removal.fileName = u"C:\\P\\App\\Obsolete.dll";
    machine().AddFile(removal.fileName, kOld);
    items.push_back(removal);
    machine().AddDirectory(u"C:\\P\\Trimkit");

    EXPECT_EQ(ApplyPatchItems(items, kProgram), win::S_OK);
    EXPECT_NE(BytesAt(u"C:\\P\\App\\ClipUploader.dll"), kOld);
    EXPECT_NE(machine().FindFile(u"C:\\P\\App\\RemoveKeys.bat"), nullptr);
    EXPECT_NE(machine().FindFile(u"C:\\P\\Trimkit\\gpucal.ini"), nullptr);
    EXPECT_EQ(machine().FindFile(removal.fileName), nullptr);
    EXPECT_EQ(machine().CountCalls("SHCreateDirectory"), 1u);
    EXPECT_FALSE(machine().DirectoryExists(kWorkFolder));
}

TEST_F(FileReplacementTest, StopsAtTheFirstFailingItem) {
    for (const std::size_t row : {0, 1, 2}) {
        machine().AddFile(WorkItems({row})[0].fileName, kOld);
    }
    machine().HoldFileElsewhere(u"C:\\P\\App\\EdControls.dll", win::GENERIC_READ,
                                win::FILE_SHARE_READ);
    EXPECT_EQ(ApplyPatchItems(WorkItems({0, 1, 2}), kProgram), kSharingViolation);
    EXPECT_NE(BytesAt(u"C:\\P\\App\\ClipUploader.dll"), kOld);
    EXPECT_EQ(BytesAt(u"C:\\P\\App\\EdControls.dll"), kOld);
    EXPECT_EQ(BytesAt(u"C:\\P\\App\\EdCore.dll"), kOld);
    EXPECT_EQ(machine().CountCalls("FindResourceW"), 2u);
    EXPECT_FALSE(machine().DirectoryExists(kWorkFolder));  // the expanded file was deleted
}

TEST_F(FileReplacementTest, AFailureThatLeavesAFileKeepsTheWorkFolder) {
    machine().Fail("LZCopy", 13);
    EXPECT_EQ(ApplyPatchItems(WorkItems({0, 1}), kProgram), static_cast<win::HRESULT>(0x8007006Eu));
    EXPECT_TRUE(machine().DirectoryExists(kWorkFolder));
    EXPECT_EQ(machine().FindFile(u"C:\\P\\App\\ClipUploader.dll"), nullptr);
    EXPECT_EQ(machine().CountCalls("FindResourceW"), 1u);
}

TEST_F(FileReplacementTest, AnEmptyListCreatesAndRemovesTheWorkFolder) {
    EXPECT_EQ(ApplyPatchItems({}, kProgram), win::S_OK);
    EXPECT_EQ(machine().CountCalls("SHCreateDirectory"), 1u);
    EXPECT_EQ(machine().CountCalls("RemoveDirectoryW"), 1u);
    EXPECT_FALSE(machine().DirectoryExists(kWorkFolder));
}

TEST_F(FileReplacementTest, WithoutATemporaryFolderNoItemIsTouched) {
    machine().AddFile(u"C:\\P\\App\\ClipUploader.dll", kOld);
    machine().Fail("GetTempPathW", 5);
    EXPECT_EQ(ApplyPatchItems(WorkItems({0}), kProgram), win::E_INVALIDARG);
    EXPECT_EQ(BytesAt(u"C:\\P\\App\\ClipUploader.dll"), kOld);
    EXPECT_EQ(machine().CountCalls("FindResourceW"), 0u);
}

TEST_F(FileReplacementTest, AProgramWithoutAFileNameNamesTheWorkFolderByProcessAndTime) {
    machine().Fail("GetModuleFileNameW", 5);
    EXPECT_EQ(ApplyPatchItems({}, kProgram), win::S_OK);
    const auto created = machine().CallsTo("SHCreateDirectory");
    ASSERT_EQ(created.size(), 1u);
    EXPECT_NE(created[0].arguments.find("\\Temp\\1092.075bcd15.tmp\\"), std::string::npos)
        << created[0].arguments;
}

}  // namespace
