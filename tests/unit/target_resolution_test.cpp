#include "inspect/target_resolution.h"

#include <algorithm>
#include <map>

#include "platform/constants.h"
#include "sim_test.h"

namespace {

using sim::View;

constexpr char16_t kApp[] = u"C:\\P\\App";
constexpr char16_t kTrimkit[] = u"C:\\P\\Trimkit\\";
constexpr char16_t kHelp[] = u"D:\\Help";
constexpr char16_t kUninstall[] =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    u"InstallShield_{7E1A4B90-5D3C-4F62-9A17-3B8C0D2E6F41}";
constexpr char16_t kAppDb[] =
    u"Software\\Halvern Corporation\\Shared Info\\AppDB\\Orlin Reelwright";

class TargetResolutionTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        RegisterFolders(View::Wow32);
        machine().SetString(View::Wow32, kUninstall, u"DisplayVersion", u"4.2.0.0");
        machine().SetString(View::Wow32, kAppDb, u"version", u"4.2.0.0");
    }
    void RegisterFolders(View view) {
        machine().SetString(view, u"Software\\Halvern Corporation\\Orlin Reelwright\\1.0\\App",
                            u"ApplicationDir", kApp);
        machine().SetString(view, u"Software\\Halvern Corporation\\Orlin Reelwright\\1.0\\Common",
                            u"TrimkitPath", kTrimkit);
        machine().SetString(view, u"Software\\Halvern Corporation\\Orlin Creation Help", u"HelpDir",
                            kHelp);
    }
    static std::u16string FolderOf(const PatchItem& row) {
        switch (row.folderId) {
            case AppFolder:
                return u"C:\\P\\App\\";
            case TrimkitFolder:
                return kTrimkit;
            default:
                return u"D:\\Help\\";
        }
    }
    // Puts every row's file in place at the fixture version given (text files for the
    // rows judged by the product version).
    void InstallAll(const std::string& version) {
        for (const PatchItem& row : PatchTable) Install(row, version);
    }
    void Install(const PatchItem& row, const std::string& version) {
        if (row.useFileVersion) {
            machine().AddFile(FolderOf(row) + row.fileName, Fixture(version));
        } else {
            machine().AddFile(FolderOf(row) + row.fileName, {'r', 'e', 'm'});
        }
    }
    const std::vector<std::uint8_t>& Fixture(const std::string& version) {
        auto& bytes = fixtures_[version];
        if (bytes.empty())
            bytes = ReadFixture(version == "none" ? "library_unversioned.dll"
                                                  : "library_" + version + ".dll");
        return bytes;
    }
    // Which table rows the work list holds, by index.
    static std::vector<int> Rows(const PatchWorkList& list) {
        std::vector<int> rows;
        for (const PatchItem& item : list) {
            for (int i = 0; i < static_cast<int>(kPatchRowCount); ++i) {
                if (item.payloadId == PatchTable[i].payloadId) rows.push_back(i);
            }
        }
        return rows;
    }

  private:
    std::map<std::string, std::vector<std::uint8_t>> fixtures_;
};

TEST_F(TargetResolutionTest, TheTableHoldsItsElevenRowsInOrder) {
    const std::pair<std::int32_t, const char16_t*> rows[] = {
        {401, u"ClipUploader.dll"}, {402, u"EdControls.dll"},  {403, u"EdCore.dll"},
        {404, u"EdResource.dll"},   {405, u"OrlinUpdate.dll"}, {406, u"Reelwright.exe"},
        {407, u"GpuProbe.dll"},     {408, u"OrlinUpdate.dll"}, {-409, u"RemoveKeys.bat"},
        {-410, u"gpucal.ini"},      {411, u"gpucal.dll"}};
    for (std::size_t i = 0; i < kPatchRowCount; ++i) {
        const PatchItem& row = PatchTable[i];
        EXPECT_EQ(row.payloadId, rows[i].first) << i;
        EXPECT_EQ(row.fileName, rows[i].second) << i;
        EXPECT_TRUE(row.applyOn32Bit && row.applyOn64Bit) << i;
        EXPECT_EQ(row.useFileVersion, i == 8 || i == 9 ? 0 : 1) << i;
        const PatchFileTime& t = row.fileTime;
        EXPECT_EQ(
            std::vector<int>({t.year, t.month, t.day, t.hour, t.minute, t.second, t.millisecond}),
            std::vector<int>({2013, 11, 12, 2, 0, 0, 0}));
    }
    EXPECT_EQ(PatchTable[4].folderId, AppFolder);
    EXPECT_EQ(PatchTable[7].folderId, HelpFolder);
}

TEST_F(TargetResolutionTest, FileVersionRowsApplyWithinTheirBoundsInclusive) {
    struct Case {
        std::string version;
        std::vector<int> rows;  // file-version rows selected when every file has this version
    };
    const Case cases[] = {
        {"0.0.0.0", {0, 1, 2, 3, 4, 5, 6, 7, 10}},
        {"2.0.4.11000", {0, 1, 2, 3, 4, 5, 6, 7, 10}},
        {"2.0.4.11001", {0, 1, 2, 3, 4, 5, 6, 7}},
        {"3.3.0.0", {0, 1, 2, 3, 4, 5, 6, 7}},
        {"3.3.0.1", {0, 1, 2, 3, 5, 6}},
        {"4.3.0.0", {0, 1, 2, 3, 5, 6}},
        {"4.3.0.1", {1, 3, 6}},
        {"4.3.0.11000", {1, 3, 6}},
        {"4.3.0.11001", {}},
        {"none", {}},  // no version resource: never selected, yet present
    };
    for (const Case& c : cases) {
        sim::ResetMachine();
        SetUp();
        InstallAll(c.version);
        PatchWorkList list;
        const std::int32_t result = ResolveTargets(list);
        std::vector<int> expected = c.rows;
        expected.insert(std::upper_bound(expected.begin(), expected.end(), 7), {8, 9});
        EXPECT_EQ(Rows(list), expected) << c.version;
        EXPECT_EQ(result, static_cast<std::int32_t>(expected.size())) << c.version;
    }
}

TEST_F(TargetResolutionTest, WorkItemsAreRowCopiesWithTheFullTargetPath) {
    InstallAll("2.0.4.11000");                        // inside every row's range
    PatchWorkList list = {PatchItem{}, PatchItem{}};  // emptied first
    ASSERT_EQ(ResolveTargets(list), 11);
    EXPECT_EQ(list[0].fileName, u"C:\\P\\App\\ClipUploader.dll");  // separator added
    EXPECT_EQ(list[6].fileName, u"C:\\P\\Trimkit\\GpuProbe.dll");  // none doubled
    EXPECT_EQ(list[4].fileName, u"C:\\P\\App\\OrlinUpdate.dll");
    EXPECT_EQ(list[7].fileName, u"D:\\Help\\OrlinUpdate.dll");
    EXPECT_EQ(list[7].payloadId, 408);
    EXPECT_EQ(list[8].minVersion, (VersionQuad{4, 1, 0, 0}));
    EXPECT_EQ(list[10].maxVersion, (VersionQuad{2, 0, 4, 11000}));
    EXPECT_EQ(PatchTable[0].fileName, u"ClipUploader.dll");  // the table itself is unchanged
    EXPECT_EQ(TargetFolderTable[0].path, kApp);
    EXPECT_EQ(TargetFolderTable[1].path, kTrimkit);
    EXPECT_EQ(TargetFolderTable[2].path, kHelp);
}

TEST_F(TargetResolutionTest, AMissingFolderRecordMeansNoTargetProduct) {
    InstallAll("4.2.0.500");
    for (const char16_t* value : {u"ApplicationDir", u"TrimkitPath", u"HelpDir"}) {
        sim::ResetMachine();
        SetUp();
        InstallAll("4.2.0.500");
        for (const char16_t* key : {u"Software\\Halvern Corporation\\Orlin Reelwright\\1.0\\App",
                                    u"Software\\Halvern Corporation\\Orlin Reelwright\\1.0\\Common",
                                    u"Software\\Halvern Corporation\\Orlin Creation Help"})
            machine().SetString(View::Wow32, key, value, u"");
        PatchWorkList list;
        EXPECT_EQ(ResolveTargets(list), -1) << sim::Narrow(value);
        EXPECT_TRUE(list.empty());
    }
}

TEST_F(TargetResolutionTest, FolderRecordsInThe64BitViewAreFoundToo) {
    sim::ResetMachine();
    RegisterFolders(View::Wow64);
    machine().SetString(View::Wow32, kUninstall, u"DisplayVersion", u"4.2.0.0");
    InstallAll("4.3.0.11001");
    PatchWorkList list;
    EXPECT_EQ(ResolveTargets(list), 2);  // only the two rows judged by the product version
}

TEST_F(TargetResolutionTest, AbsentTargetsAreCreatedOnlyForNegativePayloadsByTheAppDbVersion) {
    struct Case {
        std::u16string appDbVersion;
        std::vector<int> rows;
    };
    const Case cases[] = {
        {u"4.2.0.0", {8, 9}},     {u"4.1.0.0", {8, 9}}, {u"4.0.5.0", {9}},
        {u"4.3.0.11000", {8, 9}}, {u"4.3.0.11001", {}}, {u"", {}},
    };
    for (const Case& c : cases) {
        sim::ResetMachine();
        SetUp();
        machine().SetString(View::Wow32, kAppDb, u"version", c.appDbVersion);
        PatchWorkList list;
        EXPECT_EQ(ResolveTargets(list), -1) << sim::Narrow(c.appDbVersion);  // nothing present
        EXPECT_EQ(Rows(list), c.rows) << sim::Narrow(c.appDbVersion);
    }
}

TEST_F(TargetResolutionTest, PresentProductVersionRowsAreJudgedByTheUninstallVersion) {
    Install(PatchTable[8], "");
    Install(PatchTable[9], "");
    machine().SetString(View::Wow32, kAppDb, u"version", u"3.0.0.0");  // no longer decides
    PatchWorkList list;
    EXPECT_EQ(ResolveTargets(list), 2);
    EXPECT_EQ(Rows(list), (std::vector<int>{8, 9}));

    machine().SetString(View::Wow32, kUninstall, u"DisplayVersion", u"4.3.0.11001");
    EXPECT_EQ(ResolveTargets(list), 0);  // present but out of range: nothing to update
    EXPECT_TRUE(list.empty());
}

TEST_F(TargetResolutionTest, ADirectoryNamedLikeATargetCountsAsAbsent) {
    for (const PatchItem& row : PatchTable) machine().AddDirectory(FolderOf(row) + row.fileName);
    machine().SetString(View::Wow32, kAppDb, u"version", u"4.0.5.0");
    PatchWorkList list;
    EXPECT_EQ(ResolveTargets(list), -1);
    EXPECT_EQ(Rows(list), (std::vector<int>{9}));
}

TEST_F(TargetResolutionTest, TheTwoOrlinUpdateRowsAreJudgedIndependently) {
    Install(PatchTable[4], "3.3.0.1");  // application folder: above its bound
    Install(PatchTable[7], "3.3.0.0");  // help folder: at its bound
    PatchWorkList list;
    EXPECT_EQ(ResolveTargets(list), 3);
    EXPECT_EQ(Rows(list), (std::vector<int>{7, 8, 9}));
}

TEST_F(TargetResolutionTest, LongPathsGetTheirPrefixFrom260Characters) {
    const std::u16string at259 = u"C:\\" + std::u16string(256, u'a');
    const std::u16string at260 = at259 + u"b";
    const std::u16string unc = u"\\\\server\\share\\" + std::u16string(290, u'c');
    const std::u16string prefixed = u"\\\\?\\C:\\" + std::u16string(400, u'd');
    EXPECT_EQ(ToLongPath(at259), at259);
    EXPECT_EQ(ToLongPath(at260), u"\\\\?\\" + at260);
    EXPECT_EQ(ToLongPath(unc), u"\\\\?\\UNC" + unc.substr(1));
    EXPECT_EQ(ToLongPath(prefixed), prefixed);
    EXPECT_EQ(ToLongPath(u"\\\\?"), u"\\\\?");
    EXPECT_EQ(ToLongPath(u"..\\" + std::u16string(300, u'e')),
              u"\\\\?\\..\\" + std::u16string(300, u'e'));
}

TEST_F(TargetResolutionTest, TargetsInLongFoldersAreFoundThroughTheLongForm) {
    const std::u16string deep = u"C:\\" + std::u16string(250, u'x');
    machine().SetString(View::Wow32, u"Software\\Halvern Corporation\\Orlin Reelwright\\1.0\\App",
                        u"ApplicationDir", deep);
    machine().AddFile(deep + u"\\EdControls.dll", Fixture("4.2.0.500"));
    PatchWorkList list;
    ASSERT_EQ(ResolveTargets(list), 3);
    EXPECT_EQ(list[0].fileName, u"\\\\?\\" + deep + u"\\EdControls.dll");
}

}  // namespace

#include "product_state.h"
#include "stage_sim.h"

namespace {

class StagedProductTest : public SimTest {
  protected:
    std::int32_t Resolve(const staging::ProductState& state, PatchWorkList& list) {
        const std::string error = staging::ApplyStageScript(
            machine(), staging::StageScript(state, staging::WindowsPathOf(FIXTURE_DIR)));
        EXPECT_EQ(error, "");
        return ResolveTargets(list);
    }
};

TEST_F(StagedProductTest, ASampleProductAt42SelectsTheRowsItsVersionsFall) {
    for (const bool only64 : {false, true}) {
        staging::ProductState state = staging::ProductState::WithAllFilesAt("4.2.0.500");
        state.only64BitView = only64;
        PatchWorkList list;
        EXPECT_EQ(Resolve(state, list), 8)
            << only64;  // not the two OrlinUpdate.dll, not gpucal.dll
        ASSERT_EQ(list.size(), 8u);
        EXPECT_EQ(list.front().fileName,
                  u"C:\\Program Files (x86)\\Halvern\\Orlin Reelwright\\ClipUploader.dll");
        EXPECT_EQ(list.back().fileName,
                  u"C:\\Program Files (x86)\\Halvern\\Orlin Reelwright\\Trimkit\\gpucal.ini");
    }
}

TEST_F(StagedProductTest, RestagingReplacesTheEarlierProduct) {
    PatchWorkList list;
    Resolve(staging::ProductState::WithAllFilesAt("4.2.0.500"), list);
    staging::ProductState newer = staging::ProductState::WithAllFilesAt("4.3.0.11001");
    newer.WithoutFilesToCreate();
    newer.appDbVersion.clear();
    EXPECT_EQ(Resolve(newer, list), 0);
    EXPECT_TRUE(list.empty());
    staging::ProductState unregistered;
    unregistered.helpDir.clear();
    EXPECT_EQ(Resolve(unregistered, list), -1);
}

}  // namespace
