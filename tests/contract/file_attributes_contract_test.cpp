// File attributes and the long-path forms through which the program finds its targets.
#include "contract_test.h"
#include "inspect/target_resolution.h"
#include "inspect/version_values.h"
#include "platform/constants.h"

namespace {

using contract::ScratchFolder;

class FileAttributesContract : public ContractTest {};

TEST_F(FileAttributesContract, FilesFoldersAndWhatIsMissing) {
    const std::u16string folder = ScratchFolder() + u"\\Attributes";
    contract::MakeFolder(folder);
    contract::CopyFixture(u"library_4.2.0.500.dll", folder + u"\\EdCore.dll");

    const win::DWORD file = win::GetFileAttributesW((folder + u"\\EdCore.dll").c_str());
    ASSERT_NE(file, win::INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(file & win::FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_NE(win::GetFileAttributesW(folder.c_str()) & win::FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_NE(win::GetFileAttributesW((folder + u"\\").c_str()) & win::FILE_ATTRIBUTE_DIRECTORY,
              0u);

    EXPECT_EQ(win::GetFileAttributesW((folder + u"\\Missing.dll").c_str()),
              win::INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(win::GetLastError(), win::ERROR_FILE_NOT_FOUND);
    EXPECT_EQ(win::GetFileAttributesW((folder + u"\\No\\Missing.dll").c_str()),
              win::INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(win::GetLastError(), win::ERROR_PATH_NOT_FOUND);
}

TEST_F(FileAttributesContract, ThePrefixedFormReachesTheSameFiles) {
    const std::u16string folder = ScratchFolder() + u"\\Prefixed";
    contract::MakeFolder(folder);
    contract::CopyFixture(u"library_4.3.0.11000.dll", folder + u"\\EdControls.dll");
    const std::u16string prefixed = u"\\\\?\\" + folder + u"\\EdControls.dll";
    EXPECT_EQ(win::GetFileAttributesW(prefixed.c_str()),
              win::GetFileAttributesW((folder + u"\\EdControls.dll").c_str()));
    EXPECT_EQ(ReadFileVersion(prefixed), (VersionQuad{4, 3, 0, 11000}));
}

TEST_F(FileAttributesContract, TargetsBeyondMaxPathAreReachedInTheLongForm) {
    std::u16string folder = ScratchFolder();
    while (folder.size() < 280) folder += u"\\" + std::u16string(40, u'f');
    const std::u16string target = ToLongPath(folder + u"\\EdCore.dll");
    ASSERT_EQ(target.rfind(u"\\\\?\\", 0), 0u);
    contract::MakeFolder(ToLongPath(folder));
    contract::CopyFixture(u"library_4.3.0.11001.dll", target);

    const win::DWORD attributes = win::GetFileAttributesW(target.c_str());
    ASSERT_NE(attributes, win::INVALID_FILE_ATTRIBUTES);
    EXPECT_EQ(attributes & win::FILE_ATTRIBUTE_DIRECTORY, 0u);
    EXPECT_EQ(ReadFileVersion(target), (VersionQuad{4, 3, 0, 11001}));
}

}  // namespace
