// Version resources of real PE files as the program reads them.
#include "contract_test.h"
#include "inspect/version_values.h"

namespace {

using contract::FixturePath;

class FileVersionContract : public ContractTest {};

TEST_F(FileVersionContract, TheFixedFileVersionOfLibrariesBuiltWithTheirVersions) {
    EXPECT_EQ(ReadFileVersion(FixturePath(u"library_4.2.0.500.dll")), (VersionQuad{4, 2, 0, 500}));
    EXPECT_EQ(ReadFileVersion(FixturePath(u"library_4.3.0.11000.dll")),
              (VersionQuad{4, 3, 0, 11000}));
    EXPECT_EQ(ReadFileVersion(FixturePath(u"library_4.3.0.11001.dll")),
              (VersionQuad{4, 3, 0, 11001}));
    EXPECT_EQ(ReadFileVersion(FixturePath(u"program_4.3.0.11000.exe")),
              (VersionQuad{4, 3, 0, 11000}));
}

TEST_F(FileVersionContract, NoVersionForFilesWithoutAUsableVersionResource) {
    const std::u16string text = contract::ScratchFolder() + u"\\notes.txt";
    contract::WriteTextFile(text, "just some text\r\n");
    const std::u16string cases[] = {
        FixturePath(u"library_unversioned.dll"),
        FixturePath(u"library_short_version.dll"),
        text,
        contract::ScratchFolder(),
        contract::ScratchFolder() + u"\\missing.dll",
    };
    for (const std::u16string& path : cases)
        EXPECT_EQ(ReadFileVersion(path), std::nullopt) << std::string(path.begin(), path.end());
}

}  // namespace
