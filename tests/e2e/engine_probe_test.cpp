// The patch engine and the records of the real program under Wine, on a staged product at
// 4.2: engine_probe.exe (tests/e2e/probe) runs them with the program's own payloads while
// another process holds one of the targets open like a loaded library. The files are then
// compared with the sample payloads, and the records read back with the real registry API.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdio>
#include <ctime>
#include <filesystem>
#include <string>

#include "platform/sim/machine.h"
#include "product_state.h"
#include "tests/e2e/wine_lab.h"

namespace {

namespace fs = std::filesystem;

const std::string kWin32BuildDir = WIN32_BUILD_DIR;
const std::string kLabDir = kWin32BuildDir + "/lab";
const std::string kProbe = kLabDir + "/engine_probe.exe";
const std::string kWorkDir = E2E_WORK_DIR;
const std::string kPayloadDir = PAYLOAD_DIR;

constexpr char kAppKey[] = R"(SOFTWARE\Halvern Corporation\Orlin Reelwright\1.0\App)";
constexpr char kAppDbKey[] = R"(SOFTWARE\Halvern Corporation\Shared Info\AppDB\Orlin Reelwright)";
constexpr char kUninstallKey[] = R"(SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\)"
                                 "InstallShield_{7E1A4B90-5D3C-4F62-9A17-3B8C0D2E6F41}";
constexpr char kHelpKey[] = R"(SOFTWARE\Halvern Corporation\Orlin Creation Help\1.0)";
constexpr char kTemplateKey[] = R"(SOFTWARE\Halvern Corporation\Orlin Reelwright Template Data)";
constexpr char kVersion[] = "4.3.01.11140";
constexpr std::time_t kPatchTime = 1384221600;  // 2013-11-12 02:00:00 UTC

std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

using e2e::Get;
using e2e::OnDriveC;
using e2e::ReadBytes;

class EngineUnderWine : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        missing_ = e2e::WineLab(kLabDir, kWorkDir).MissingPrerequisites();
        if (!fs::exists(kProbe)) missing_ += " " + kProbe + " (build the win32 preset);";
    }
    void SetUp() override {
        if (!missing_.empty()) GTEST_FAIL() << "cannot run under Wine:" << missing_;
    }

    e2e::RegValues ReadKey(const std::string& view, const std::string& path) const {
        return lab_.ReadKey(view, path);
    }

    static std::string missing_;
    e2e::WineLab lab_{kLabDir, kWorkDir};
};
std::string EngineUnderWine::missing_;

TEST_F(EngineUnderWine, ReplacesTheSelectedFilesAndWritesTheRecords) {
    staging::ProductState product = staging::ProductState::WithAllFilesAt("4.2.0.500");
    product.WithoutFilesToCreate();
    const std::u16string app = product.appDir;
    const std::u16string trimkit = product.trimkitDir;
    std::string state = staging::StageScript(product, staging::WindowsPathOf(FIXTURE_DIR));
    const std::string appDir = sim::Narrow(app);
    state += "set-sz 32 " + Quoted(kAppKey) + " CurrentVersion 4.2.0.0\n";
    state += "set-sz 32 " + Quoted(kAppKey) + " ApplicationPath " + appDir + "\\Reelwright.exe\n";
    state += "set-sz 32 " + Quoted(kHelpKey) + " Version 4.2.0.0\n";
    state += "set-sz 32 " + Quoted(std::string(kTemplateKey) + "\\2D\\4.2.0.0\\Old") + " x 1\n";
    state += "write-file " + Quoted(appDir + "\\version.txt") + " 4.2.0.0\n";
    ASSERT_EQ(lab_.Stage(state), "");

    const fs::path held = OnDriveC(app + u"\\EdCore.dll");
    const std::string heldBefore = ReadBytes(held);
    e2e::RunOptions options;
    options.companion = kLabDir + "/hold_file.exe";
    options.environment = {"LAB_HOLD_FILE=" + e2e::WindowsPath(held.string())};
    const e2e::LabReport report = lab_.Run(kProbe, options);
    std::printf("[   WINE   ] engine run %.1f s\n", report.seconds);
    SCOPED_TRACE("lab_run said:\n" + report.output + report.diagnostics);
    ASSERT_EQ(report.labStatus, 0);
    ASSERT_TRUE(report.exitCode.has_value());
    EXPECT_EQ(*report.exitCode, 0u);

    // The files the table selects carry the payload bytes and the fixed time; the two
    // OrlinUpdate.dll rows and gpucal.dll are newer than their rows allow and stay.
    const std::pair<std::u16string, const char*> replaced[] = {
        {app, "ClipUploader.dll"}, {app, "EdControls.dll"}, {app, "EdCore.dll"},
        {app, "EdResource.dll"},   {app, "Reelwright.exe"}, {trimkit, "GpuProbe.dll"},
        {app, "RemoveKeys.bat"},   {trimkit, "gpucal.ini"},
    };
    for (const auto& [folder, name] : replaced) {
        SCOPED_TRACE(name);
        const fs::path file = OnDriveC(folder + u"\\" + sim::Widen(name));
        EXPECT_EQ(ReadBytes(file), ReadBytes(fs::path(kPayloadDir) / name));
        struct stat info {};
        ASSERT_EQ(stat(file.c_str(), &info), 0);
        EXPECT_EQ(info.st_mtime, kPatchTime);
    }
    EXPECT_NE(ReadBytes(OnDriveC(app + u"\\OrlinUpdate.dll")),
              ReadBytes(fs::path(kPayloadDir) / "OrlinUpdate.dll"));

    // The held file went aside under its in-use name, to be deleted at the next restart.
    std::string inUseName;
    for (const fs::directory_entry& entry : fs::directory_iterator(held.parent_path())) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("EdCore.dll.tmp.", 0) == 0) inUseName = name;
    }
    ASSERT_FALSE(inUseName.empty());
    EXPECT_EQ(ReadBytes(held.parent_path() / inUseName), heldBefore);
    const e2e::RegValues session =
        ReadKey("64", R"(HKLM\System\CurrentControlSet\Control\Session Manager)");
    ASSERT_EQ(session.count("PendingFileRenameOperations"), 1u);
    EXPECT_NE(Get(session, "PendingFileRenameOperations").data.find(inUseName), std::string::npos);

    // The records, in the 32-bit view.
    const std::string entryKey = std::string("HKLM\\") + kAppDbKey + "\\PatchList\\KQ0000458107";
    const e2e::RegValues entry = ReadKey("32", entryKey);
    EXPECT_EQ(Get(entry, "patchid").data, "KQ0000458107");
    EXPECT_EQ(Get(entry, "patchname").data, "Orlin Reelwright");
    EXPECT_EQ(Get(entry, "version").data, kVersion);
    EXPECT_EQ(Get(entry, "version").size, 26u);
    EXPECT_EQ(Get(entry, "InstallerPath").data, appDir + "\\RemoveKeys.bat");
    EXPECT_EQ(Get(entry, "SilentUninstall").size, 2u);

    const e2e::RegValues appKey = ReadKey("32", std::string("HKLM\\") + kAppKey);
    EXPECT_EQ(Get(appKey, "OriginalVersion").data, "4.2.0.0");
    EXPECT_EQ(Get(appKey, "CurrentVersion").data, kVersion);
    EXPECT_EQ(Get(ReadKey("32", std::string("HKLM\\") + kHelpKey), "Version").data, kVersion);
    const e2e::CommandResult templates =
        lab_.RunTool("reg_read", {"32", std::string("HKLM\\") + kTemplateKey + "\\2D"});
    EXPECT_EQ(templates.out, "key\t4.3.01.11140\r\n");

    // The classes root is one tree for both views (a 64-bit reader's default).
    const e2e::RegValues association = ReadKey("64", R"(HKCR\.orw-xml)");
    EXPECT_EQ(Get(association, "@").data, "HalvernReelwrightProject");
    const e2e::RegValues protocol = ReadKey("64", R"(HKCR\halvern-orlin-reelwright)");
    EXPECT_EQ(Get(protocol, "URL Protocol").size, 2u);
    EXPECT_EQ(Get(protocol, "@").data, "Orlin Reelwright");
    EXPECT_EQ(Get(ReadKey("64", R"(HKCR\halvern-orlin-reelwright\shell\open\command)"), "@").data,
              "\"" + appDir + "\\Reelwright.exe\" \"%1\"");
    EXPECT_EQ(Get(ReadKey("64", R"(HKCR\halvern-orlin-reelwright\DefaultIcon)"), "@").data,
              appDir + "\\Reelwright.exe,0");

    const e2e::RegValues uninstall = ReadKey("32", std::string("HKLM\\") + kUninstallKey);
    EXPECT_EQ(Get(uninstall, "DisplayVersion").data, kVersion);
    const std::time_t now = std::time(nullptr);
    char today[16];
    std::strftime(today, sizeof today, "%Y%m%d", std::localtime(&now));
    EXPECT_EQ(Get(uninstall, "InstallDate").data, today);

    // The history: the new version first, the old line kept, the counter and update 1.
    const std::string history = ReadBytes(OnDriveC(app + u"\\version.txt"));
    EXPECT_EQ(history.rfind("4.3.01.11140\r\n4.2.0.0\r\nUpdateCount=1\r\nUpdated_1_Date=", 0), 0u)
        << history;
    EXPECT_NE(history.find("\r\nUpdated_1_ProductName=Orlin Reelwright\r\n"
                           "Updated_1_Version=4.3.01.11140\r\n"
                           "Updated_1_ProductGUID={7E1A4B90-5D3C-4F62-9A17-3B8C0D2E6F41}\r\n"),
              std::string::npos)
        << history;
}

}  // namespace
