// The whole update under Wine: the real ReelwrightUpdate.exe on a staged product at 4.2,
// operated like a user would (lab_run reads the progress dialog and the closing message and
// presses OK), then the files and records it left are checked. Screenshots of the dialog
// and of the message land in the e2e work folder's screenshots/ as test artifacts.
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
const std::string kProductExe = kWin32BuildDir + "/bin/ReelwrightUpdate.exe";
const std::string kWorkDir = E2E_WORK_DIR;
const std::string kPayloadDir = PAYLOAD_DIR;
const std::string kScreenshots = kWorkDir + "/screenshots";

constexpr char kUninstallKey[] = R"(HKLM\SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\)"
                                 "InstallShield_{7E1A4B90-5D3C-4F62-9A17-3B8C0D2E6F41}";
constexpr char kPatchEntryKey[] =
    R"(HKLM\SOFTWARE\Halvern Corporation\Shared Info\AppDB\Orlin Reelwright\PatchList\)"
    "KQ0000458107";
constexpr char kUpdateServiceKey[] = R"(SOFTWARE\Halvern Corporation\Orlin Update)";
constexpr char kCaption[] = "Orlin Reelwright Update Program";
constexpr char kStatusText[] = "Now processing...\nPlease wait for a while.";
constexpr std::time_t kPatchTime = 1384221600;  // 2013-11-12 02:00:00 UTC
constexpr uint32_t kAccessDenied = 0x80070005;
constexpr uint32_t kSharingViolation = 0x80070020;

// The files the table selects on the sample product, in work-list order.
const char* const kReplaced[] = {"ClipUploader.dll", "EdControls.dll", "EdCore.dll",
                                 "EdResource.dll",   "Reelwright.exe", "GpuProbe.dll",
                                 "RemoveKeys.bat",   "gpucal.ini"};

class WholeUpdate : public testing::Test {
  protected:
    static void SetUpTestSuite() {
        missing_ = e2e::WineLab(kLabDir, kWorkDir).MissingPrerequisites();
        if (!fs::exists(kProductExe)) missing_ += " " + kProductExe + " (build the win32 preset);";
        fs::create_directories(kScreenshots);
    }
    void SetUp() override {
        if (!missing_.empty()) GTEST_FAIL() << "cannot run under Wine:" << missing_;
        product_ = staging::ProductState::WithAllFilesAt("4.2.0.500");
        product_.WithoutFilesToCreate();
    }

    void Stage(const std::string& extra = "") {
        std::string script;
        for (const char* view : {"32", "64"})
            script += std::string("delete-tree ") + view + " \"" + kUpdateServiceKey + "\"\n";
        script += staging::StageScript(product_, staging::WindowsPathOf(FIXTURE_DIR)) + extra;
        ASSERT_EQ(lab_.Stage(script), "");
    }

    // The target of a selected file, on the Linux side.
    fs::path Target(const std::string& name) const {
        const bool trimkit = name == "GpuProbe.dll" || name == "gpucal.ini";
        return e2e::OnDriveC((trimkit ? product_.trimkitDir : product_.appDir) + u"\\" +
                             sim::Widen(name));
    }
    static std::string Payload(const std::string& name) {
        return e2e::ReadBytes(fs::path(kPayloadDir) / name);
    }
    void ExpectReplaced(const std::string& name) const {
        SCOPED_TRACE(name);
        EXPECT_EQ(e2e::ReadBytes(Target(name)), Payload(name));
        struct stat info {};
        ASSERT_EQ(stat(Target(name).c_str(), &info), 0);
        EXPECT_EQ(info.st_mtime, kPatchTime);
    }
    std::string DisplayVersion() const {
        return e2e::Get(lab_.ReadKey("32", kUninstallKey), "DisplayVersion").data;
    }

    e2e::LabReport Run(const e2e::RunOptions& options) {
        const e2e::LabReport report = lab_.Run(kProductExe, options);
        std::printf("[   WINE   ] product run %.1f s\n", report.seconds);
        return report;
    }
    static void ExpectBox(const e2e::LabReport& report, const std::string& caption,
                          const std::string& text, const std::string& icon) {
        ASSERT_EQ(report.boxes.size(), 1u);
        EXPECT_EQ(report.boxes[0].caption, caption);
        EXPECT_EQ(report.boxes[0].text, text);
        EXPECT_EQ(report.boxes[0].icon, icon);
        EXPECT_EQ(report.boxes[0].buttons, "OK");
    }
    // The progress dialog, when the operator caught it (a short run can end between two of
    // its looks): the caption, the status text and the marquee bar.
    static void ExpectProgressDialog(const e2e::LabReport& report, const std::string& caption,
                                     const std::string& text) {
        ASSERT_LE(report.dialogs.size(), 1u);
        if (report.dialogs.empty()) {
            std::printf("[   WINE   ] the progress dialog came and went between two looks\n");
            return;
        }
        EXPECT_EQ(report.dialogs[0].caption, caption);
        EXPECT_EQ(report.dialogs[0].text, text);
        EXPECT_EQ(report.dialogs[0].progress, "marquee");
    }

    static std::string missing_;
    e2e::WineLab lab_{kLabDir, kWorkDir};
    staging::ProductState product_;
};
std::string WholeUpdate::missing_;

TEST_F(WholeUpdate, ReplacesTheFilesInUseIncludedWritesTheRecordsAndSaysSo) {
    Stage();
    const fs::path held = Target("EdCore.dll");
    const std::string heldBefore = e2e::ReadBytes(held);
    e2e::RunOptions options;
    options.companion = kLabDir + "/hold_file.exe";
    options.environment = {"LAB_HOLD_FILE=" + e2e::WindowsPath(held.string())};
    options.dialogScreenshot = kScreenshots + "/progress-en.bmp";
    options.screenshot = kScreenshots + "/done-en.bmp";
    const e2e::LabReport report = Run(options);
    SCOPED_TRACE("lab_run said:\n" + report.output + report.diagnostics);
    ASSERT_EQ(report.labStatus, 0);
    ASSERT_TRUE(report.exitCode.has_value());
    EXPECT_EQ(*report.exitCode, 0u);
    ExpectProgressDialog(report, kCaption, kStatusText);
    ExpectBox(report, kCaption, "Update completed successfully.", "none");

    for (const char* name : kReplaced) ExpectReplaced(name);
    // The held file went aside under its in-use name, to be deleted at the next restart.
    std::string inUse;
    for (const fs::directory_entry& entry : fs::directory_iterator(held.parent_path())) {
        const std::string name = entry.path().filename().string();
        if (name.rfind("EdCore.dll.tmp.", 0) == 0) inUse = name;
    }
    ASSERT_FALSE(inUse.empty());
    EXPECT_EQ(e2e::ReadBytes(held.parent_path() / inUse), heldBefore);
    const e2e::RegValues session =
        lab_.ReadKey("64", R"(HKLM\System\CurrentControlSet\Control\Session Manager)");
    EXPECT_NE(e2e::Get(session, "PendingFileRenameOperations").data.find(inUse), std::string::npos);
    EXPECT_EQ(DisplayVersion(), "4.3.01.11140");
    EXPECT_EQ(e2e::Get(lab_.ReadKey("32", kPatchEntryKey), "patchid").data, "KQ0000458107");

    // The same update again finds its own version installed.
    const e2e::LabReport again = Run({});
    SCOPED_TRACE("second run:\n" + again.output + again.diagnostics);
    ASSERT_TRUE(again.exitCode.has_value());
    EXPECT_EQ(*again.exitCode, kAccessDenied);
    ExpectBox(again, kCaption,
              "The version of Orlin Reelwright already installed on the computer is the same "
              "version.\nThe program will quit.",
              "warning");
}

TEST_F(WholeUpdate, UnattendedDoesTheSameWorkWithoutAMessageBox) {
    Stage(std::string("set-dword 32 \"") + kUpdateServiceKey + "\" LaunchInstaller 1\n");
    const e2e::LabReport report = Run({});
    SCOPED_TRACE("lab_run said:\n" + report.output + report.diagnostics);
    ASSERT_TRUE(report.exitCode.has_value());
    EXPECT_EQ(*report.exitCode, 0u);
    EXPECT_TRUE(report.boxes.empty());
    ExpectProgressDialog(report, kCaption, kStatusText);  // only the boxes are switched off
    for (const char* name : kReplaced) ExpectReplaced(name);
    EXPECT_EQ(DisplayVersion(), "4.3.01.11140");
}

TEST_F(WholeUpdate, AFailingItemShowsItsCodeKeepsWhatWasDoneAndWritesNoRecords) {
    Stage();
    // A target held without delete sharing can be neither overwritten nor moved aside.
    const fs::path held = Target("EdCore.dll");
    const std::string heldBefore = e2e::ReadBytes(held);
    e2e::RunOptions options;
    options.companion = kLabDir + "/hold_file.exe";
    options.environment = {"LAB_HOLD_FILE=" + e2e::WindowsPath(held.string()),
                           "LAB_HOLD_SHARE=read"};
    options.lang = "de_DE.UTF-8";
    options.dialogScreenshot = kScreenshots + "/progress-de.bmp";
    options.screenshot = kScreenshots + "/failed-de.bmp";
    const e2e::LabReport report = Run(options);
    SCOPED_TRACE("lab_run said:\n" + report.output + report.diagnostics);
    ASSERT_TRUE(report.exitCode.has_value());
    EXPECT_EQ(*report.exitCode, kSharingViolation);
    const std::string caption = "Orlin Reelwright-Updateprogramm";
    ExpectProgressDialog(report, caption, "Verarbeitung läuft...\nBitte warten Sie einen Moment.");
    ExpectBox(report, caption, "Die Paketaktualisierung ist fehlgeschlagen.\r\n(Code = 0x80070020)",
              "error");

    ExpectReplaced("ClipUploader.dll");
    ExpectReplaced("EdControls.dll");
    EXPECT_EQ(e2e::ReadBytes(held), heldBefore);
    EXPECT_NE(e2e::ReadBytes(Target("EdResource.dll")), Payload("EdResource.dll"));
    EXPECT_EQ(DisplayVersion(), "4.2.0.0");
    EXPECT_TRUE(lab_.ReadKey("32", kPatchEntryKey).empty());
}

// The operator's WM_CLOSE races with the worker, which needs well under a second for the
// sample's files: either the loop ends first (the run has no result, 1, which closes without
// a message, and the worker skips the records), or the worker was done already (a normal
// run). Both are whole runs; which one happened is printed. The early close itself is
// pinned down on the simulated machine, where the worker can be held.
TEST_F(WholeUpdate, ClosingTheProgressDialogFromOutsideLeavesAWholeRun) {
    Stage();
    e2e::RunOptions options;
    options.closeDialog = true;
    const e2e::LabReport report = Run(options);
    SCOPED_TRACE("lab_run said:\n" + report.output + report.diagnostics);
    ASSERT_EQ(report.dialogs.size(), 1u) << "the operator never saw the dialog";
    EXPECT_EQ(report.dialogs[0].caption, kCaption);
    ASSERT_TRUE(report.exitCode.has_value());
    if (*report.exitCode == 1u) {
        std::printf("[   WINE   ] the close ended the loop before the worker was done\n");
        EXPECT_TRUE(report.boxes.empty());
        EXPECT_EQ(DisplayVersion(), "4.2.0.0");
    } else {
        std::printf("[   WINE   ] the worker was done before the close arrived\n");
        EXPECT_EQ(*report.exitCode, 0u);
        ExpectBox(report, kCaption, "Update completed successfully.", "none");
        EXPECT_EQ(DisplayVersion(), "4.3.01.11140");
        for (const char* name : kReplaced) ExpectReplaced(name);
    }
}

}  // namespace
