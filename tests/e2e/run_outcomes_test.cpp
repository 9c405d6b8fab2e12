// The real ReelwrightUpdate.exe under Wine: machine state staged in the registry, the program
// run to its end with its message box read and confirmed, the full exit code checked.
// Each case is one product start, which takes about a minute here; gtest's per-test time and
// the [ WINE ] line show where it goes.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <optional>
#include <ostream>
#include <string>

#include "product_state.h"
#include "tests/e2e/wine_lab.h"

namespace {

const std::string kWin32BuildDir = WIN32_BUILD_DIR;
const std::string kProductExe = kWin32BuildDir + "/bin/ReelwrightUpdate.exe";
const std::string kLabDir = kWin32BuildDir + "/lab";
const std::string kWorkDir = E2E_WORK_DIR;

const std::string kMakerKey = R"(SOFTWARE\Halvern Corporation)";
const std::string kUpdateServiceKey = R"(SOFTWARE\Halvern Corporation\Orlin Update)";
const std::string kUninstallKey = R"(SOFTWARE\Microsoft\Windows\CurrentVersion\Uninstall\)"
                                  "InstallShield_{7E1A4B90-5D3C-4F62-9A17-3B8C0D2E6F41}";
const std::string kMutex = R"(Global\HalvernOrwOrlINSUpdater-MutexAll)";

const std::string kCaption = "Orlin Reelwright Update Program";
const std::string kGermanCaption = "Orlin Reelwright-Updateprogramm";

constexpr uint32_t kAccessDenied = 0x80070005;
constexpr uint32_t kSingleInstance = 0x80070480;

// Nothing of the product or the maker in either registry view.
std::string CleanMachine() {
    std::string script;
    for (const std::string& key : {kMakerKey, kUninstallKey})
        for (const char* view : {"32", "64"})
            script += "delete-tree " + std::string(view) + " \"" + key + "\"\n";
    return script;
}

// The version the product's setup records, where the update reads it first.
std::string InstalledVersion(const std::string& version) {
    return "set-sz 32 \"" + kUninstallKey + "\" DisplayVersion " + version + "\n";
}
const std::string kUnattended = "set-dword 32 \"" + kUpdateServiceKey + "\" LaunchInstaller 1\n";

struct ExpectedBox {
    std::string caption;
    std::string text;
    std::string icon;
};

struct RunCase {
    const char* name;
    std::string state;  // stage script on top of the clean machine
    std::string holdMutex;
    std::optional<std::string> lang;
    std::string companion;           // a program running meanwhile
    std::optional<ExpectedBox> box;  // empty: no box may appear
    uint32_t exitCode;
};

// Names rather than bytes in gtest's listings.
void PrintTo(const RunCase& c, std::ostream* os) {
    *os << c.name;
}

// Installed products as the stager puts them in place, files included.
std::string Product(const staging::ProductState& state) {
    return staging::StageScript(state, staging::WindowsPathOf(FIXTURE_DIR));
}

staging::ProductState UpToDate() {
    staging::ProductState state = staging::ProductState::WithAllFilesAt("4.3.0.11001");
    state.displayVersion = u"4.3.0.11000";
    state.appDbVersion.clear();  // the two files to create are judged by it
    state.WithoutFilesToCreate();
    return state;
}

staging::ProductState WithoutHelpFolder() {
    staging::ProductState state = staging::ProductState::WithAllFilesAt("4.2.0.500");
    state.helpDir.clear();
    return state;
}

const std::string kMainProgram = kLabDir + "/blocking/Reelwright.exe";

const ExpectedBox kNoApplicableVersion{
    kCaption,
    "No software version applicable to this update is installed. The update will be cancelled.",
    "warning"};

const RunCase kCases[] = {
    {"NoProductInstalled", "", "", std::nullopt, "", kNoApplicableVersion, kAccessDenied},
    {"VersionAboveAcceptedRange", InstalledVersion("4.3.0.11001"), "", std::nullopt, "",
     kNoApplicableVersion, kAccessDenied},
    {"SameVersionInstalled", InstalledVersion("4.3.01.11140"), "", std::nullopt, "",
     ExpectedBox{kCaption,
                 "The version of Orlin Reelwright already installed on the computer is the same "
                 "version.\nThe program will quit.",
                 "warning"},
     kAccessDenied},
    {"AnotherRunInProgress", InstalledVersion("4.2.0.0"), kMutex, std::nullopt, "",
     ExpectedBox{kCaption, "Another instance of this update program is already running.", "none"},
     kSingleInstance},
    {"UnattendedShowsNoBox", kUnattended, "", std::nullopt, "", std::nullopt, kAccessDenied},
    {"GermanUserInterface", "", "", "de_DE.UTF-8", "",
     ExpectedBox{kGermanCaption,
                 "Es ist keine Softwareversion installiert, für die dieses Update gilt. Das Update "
                 "wird abgebrochen.",
                 "warning"},
     kAccessDenied},
    {"NothingToUpdateWhileTheMainProgramRuns", Product(UpToDate()), "", std::nullopt, kMainProgram,
     ExpectedBox{kCaption, "There is no need to update the program.", "none"}, 0},
    {"FolderRecordMissing", Product(WithoutHelpFolder()), "", std::nullopt, "",
     ExpectedBox{kCaption, "There is no target model for this program.", "none"}, 0},
    {"MainProgramRunning", Product(staging::ProductState::WithAllFilesAt("4.2.0.500")), "",
     std::nullopt, kMainProgram,
     ExpectedBox{kCaption,
                 "Cannot install because related programs are running.\nExit all programs, and "
                 "try again.",
                 "warning"},
     kAccessDenied},
};

std::string Hex(std::optional<uint32_t> code) {
    if (!code) return "no exit code";
    char text[16];
    std::snprintf(text, sizeof(text), "0x%08X", static_cast<unsigned>(*code));
    return text;
}

class RunOutcome : public testing::TestWithParam<RunCase> {
  protected:
    static void SetUpTestSuite() {
        missing_ = e2e::WineLab(kLabDir, kWorkDir).MissingPrerequisites();
        if (!std::filesystem::exists(kProductExe))
            missing_ += " " + kProductExe + " (build the win32 preset);";
    }
    void SetUp() override {
        if (!missing_.empty()) GTEST_FAIL() << "cannot run under Wine:" << missing_;
    }
    static std::string missing_;
};
std::string RunOutcome::missing_;

TEST_P(RunOutcome, ShowsItsBoxAndExits) {
    const RunCase& c = GetParam();
    e2e::WineLab lab(kLabDir, kWorkDir);

    const auto stageStart = std::chrono::steady_clock::now();
    ASSERT_EQ(lab.Stage(CleanMachine() + c.state), "");
    const double stageSeconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - stageStart).count();

    e2e::RunOptions options;
    options.holdMutex = c.holdMutex;
    options.lang = c.lang;
    options.companion = c.companion;
    const e2e::LabReport report = lab.Run(kProductExe, options);
    std::printf("[   WINE   ] stage %.1f s, product run %.1f s\n", stageSeconds, report.seconds);
    SCOPED_TRACE("lab_run said:\n" + report.output + report.diagnostics);

    ASSERT_EQ(report.labStatus, 0);
    ASSERT_FALSE(report.timedOut);
    EXPECT_EQ(Hex(report.exitCode), Hex(c.exitCode));
    if (!c.box) {
        EXPECT_TRUE(report.boxes.empty());
        return;
    }
    ASSERT_EQ(report.boxes.size(), 1u);
    const e2e::SeenBox& box = report.boxes[0];
    EXPECT_EQ(box.caption, c.box->caption);
    EXPECT_EQ(box.text, c.box->text);
    EXPECT_EQ(box.icon, c.box->icon);
    EXPECT_EQ(box.buttons, "OK");
}

std::string CaseName(const testing::TestParamInfo<RunCase>& c) {
    return c.param.name;
}

INSTANTIATE_TEST_SUITE_P(UnderWine, RunOutcome, testing::ValuesIn(kCases), CaseName);

}  // namespace
