#include "run/run_driver.h"

#include <functional>

#include "allocation_failure.h"
#include "engine/patch_table.h"
#include "platform/constants.h"
#include "run/message_catalogue.h"
#include "sim_test.h"

namespace {

using sim::View;

constexpr char16_t kUninstall[] =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    u"InstallShield_{7E1A4B90-5D3C-4F62-9A17-3B8C0D2E6F41}";
constexpr char16_t kService[] = u"SOFTWARE\\Halvern Corporation\\Orlin Update";
constexpr char16_t kMutex[] = u"Global\\HalvernOrwOrlINSUpdater-MutexAll";
constexpr win::HRESULT kAlreadyRunning = static_cast<win::HRESULT>(0x80070480u);

class RunDriverTest : public SimTest {
  protected:
    void Installed(const std::u16string& version) {
        machine().SetString(View::Wow32, kUninstall, u"DisplayVersion", version);
    }
    void ExpectOneBox(std::uint16_t id, win::UINT style, const std::string& what) {
        ASSERT_EQ(machine().messageBoxes.size(), 1u) << what;
        const sim::MessageBoxShown& box = machine().messageBoxes[0];
        EXPECT_EQ(box.text, LoadMessage(id)) << what;
        EXPECT_EQ(box.caption, u"Orlin Reelwright Update Program") << what;
        EXPECT_EQ(box.style, style) << what;
        EXPECT_EQ(box.owner, nullptr) << what;
    }
};

struct OutcomeCase {
    const char* what;
    std::function<void(sim::Machine&)> setUp;
    std::uint16_t messageId;
    win::UINT style;
    win::HRESULT exitCode;
};

TEST_F(RunDriverTest, EachRefusalEndsWithItsMessageAndExitCodeAndTheFirstCheckWins) {
    auto installed = [](std::u16string v) {
        return [v](sim::Machine& m) { m.SetString(View::Wow32, kUninstall, u"DisplayVersion", v); };
    };
    const OutcomeCase cases[] = {
        {"second start", [](sim::Machine& m) { m.HoldMutexElsewhere(kMutex); }, 1201, win::MB_OK,
         kAlreadyRunning},
        {"second start by a non-administrator",
         [](sim::Machine& m) {
             m.HoldMutexElsewhere(kMutex);
             m.SetAdministratorGroup(0x10);
         },
         1201, win::MB_OK, kAlreadyRunning},
        {"deny-only administrator", [](sim::Machine& m) { m.SetAdministratorGroup(0x10); }, 1219,
         win::MB_ICONWARNING, win::E_ACCESSDENIED},
        {"non-administrator on 32-bit Windows",
         [](sim::Machine& m) {
             m.SetAdministratorGroup(0);
             m.processorType = 586;
         },
         1219, win::MB_ICONWARNING, win::E_ACCESSDENIED},
        {"32-bit Windows, nothing installed", [](sim::Machine& m) { m.processorType = 586; }, 1216,
         win::MB_ICONWARNING, win::E_ACCESSDENIED},
        {"nothing installed", [](sim::Machine&) {}, 1217, win::MB_ICONWARNING, win::E_ACCESSDENIED},
        {"4.1.9.9999", installed(u"4.1.9.9999"), 1217, win::MB_ICONWARNING, win::E_ACCESSDENIED},
        {"4.3.0.11001", installed(u"4.3.0.11001"), 1217, win::MB_ICONWARNING, win::E_ACCESSDENIED},
        {"4.3", installed(u"4.3"), 1217, win::MB_ICONWARNING, win::E_ACCESSDENIED},
        {"version as a number",
         [](sim::Machine& m) { m.SetDword(View::Wow32, kUninstall, u"DisplayVersion", 4); }, 1217,
         win::MB_ICONWARNING, win::E_ACCESSDENIED},
        {"this update's version", installed(u"4.3.01.11140"), 1218, win::MB_ICONWARNING,
         win::E_ACCESSDENIED},
        {"this update's version spelt 4.3.1.11140", installed(u"4.3.1.11140"), 1218,
         win::MB_ICONWARNING, win::E_ACCESSDENIED},
        {"4.2.0.0 without product folders", installed(u"4.2.0.0"), 1202, win::MB_OK, win::S_OK},
        {"4.3.0.11000 without product folders", installed(u"4.3.0.11000"), 1202, win::MB_OK,
         win::S_OK},
        {"only in the 64-bit view",
         [](sim::Machine& m) {
             m.SetString(View::Wow64, kUninstall, u"DisplayVersion", u"4.2.0.0");
         },
         1202, win::MB_OK, win::S_OK},
    };
    for (const OutcomeCase& c : cases) {
        sim::ResetMachine();
        c.setUp(machine());
        EXPECT_EQ(RunUpdate(nullptr), c.exitCode) << c.what;
        ExpectOneBox(c.messageId, c.style, c.what);
        // The lock is released before the message is shown.
        std::size_t closed = 0, shown = 0;
        for (std::size_t i = 0; i < machine().calls.size(); ++i) {
            if (machine().calls[i].function == "CloseHandle") closed = i;
            if (machine().calls[i].function == "MessageBoxW") shown = i;
        }
        EXPECT_LT(closed, shown) << c.what;
        EXPECT_TRUE(machine().mutexRefs.empty() || c.messageId == 1201) << c.what;
    }
}

TEST_F(RunDriverTest, AFailedMutexIsNoReasonToStop) {
    machine().Fail("CreateMutexW", win::ERROR_ACCESS_DENIED);
    Installed(u"4.2.0.0");
    EXPECT_EQ(RunUpdate(nullptr), win::S_OK);
    ExpectOneBox(1202, win::MB_OK, "no lock");
}

TEST_F(RunDriverTest, TheUnattendedSwitchHidesEveryBoxAndKeepsTheExitCode) {
    struct Case {
        const char* what;
        win::DWORD type;
        std::vector<std::uint8_t> data;
        bool unattended;
    };
    const Case cases[] = {
        {"DWORD 1", win::REG_DWORD, {1, 0, 0, 0}, true},
        {"binary 01 00 00 00", win::REG_BINARY, {1, 0, 0, 0}, true},
        {"one byte 01", win::REG_BINARY, {1}, true},  // read into a zeroed four-byte buffer
        {"DWORD 0", win::REG_DWORD, {0, 0, 0, 0}, false},
        {"DWORD 2", win::REG_DWORD, {2, 0, 0, 0}, false},
        {"text 1", win::REG_SZ, {'1', 0, 0, 0}, false},
        {"longer than four bytes", win::REG_BINARY, {1, 0, 0, 0, 0}, false},
    };
    for (const Case& c : cases) {
        for (const bool mutexHeld : {false, true}) {
            sim::ResetMachine();
            machine().SetValue(View::Wow32, kService, u"LaunchInstaller", c.type, c.data);
            if (mutexHeld) machine().HoldMutexElsewhere(kMutex);
            EXPECT_EQ(ReadUnattendedSwitch(), c.unattended) << c.what;
            EXPECT_EQ(RunUpdate(nullptr), mutexHeld ? kAlreadyRunning : win::E_ACCESSDENIED)
                << c.what;
            EXPECT_EQ(machine().messageBoxes.size(), c.unattended ? 0u : 1u) << c.what;
        }
    }
}

TEST_F(RunDriverTest, TheSwitchIsReadInTheProgramsOwnViewOnly) {
    machine().SetDword(View::Wow64, kService, u"LaunchInstaller", 1);
    EXPECT_FALSE(ReadUnattendedSwitch());
    EXPECT_EQ(machine().CallsTo("RegOpenKeyExW")[0].arguments.substr(
                  machine().CallsTo("RegOpenKeyExW")[0].arguments.rfind(' ') + 1),
              "0x20019");
}

TEST_F(RunDriverTest, TheClosingMessageFollowsTheRunResult) {
    const ClosingMessage success = ClosingMessageFor(win::S_OK);
    EXPECT_TRUE(success.shown);
    EXPECT_EQ(success.text, u"Update completed successfully.");
    EXPECT_EQ(success.boxStyle, win::MB_OK);
    EXPECT_EQ(ClosingMessageFor(5).text, u"Update completed successfully.");

    EXPECT_FALSE(ClosingMessageFor(win::S_FALSE).shown);

    const ClosingMessage failure = ClosingMessageFor(win::E_OUTOFMEMORY);
    EXPECT_TRUE(failure.shown);
    EXPECT_EQ(failure.text, u"Package Update Failed.\r\n(code = 0x8007000e)");
    EXPECT_EQ(failure.boxStyle, win::MB_ICONERROR);
}

}  // namespace

namespace {

constexpr char16_t kAppKey[] = u"Software\\Halvern Corporation\\Orlin Reelwright\\1.0\\App";

class RunDriverWithProductTest : public RunDriverTest {
  protected:
    void SetUp() override {
        RunDriverTest::SetUp();
        Installed(u"4.2.0.0");
        machine().SetString(View::Wow32,
                            u"Software\\Halvern Corporation\\Shared Info\\AppDB\\Orlin Reelwright",
                            u"version", u"4.2.0.0");
        machine().SetString(View::Wow32, kAppKey, u"ApplicationDir", u"C:\\P\\App");
        machine().SetString(View::Wow32,
                            u"Software\\Halvern Corporation\\Orlin Reelwright\\1.0\\Common",
                            u"TrimkitPath", u"C:\\P\\Trimkit");
        machine().SetString(View::Wow32, u"Software\\Halvern Corporation\\Orlin Creation Help",
                            u"HelpDir", u"C:\\P\\Help");
    }
    void InstallEdCore(const std::string& version) {
        machine().AddFile(u"C:\\P\\App\\EdCore.dll", ReadFixture("library_" + version + ".dll"));
    }
};

TEST_F(RunDriverWithProductTest, NothingToUpdateComesBeforeTheBlockingProgramTest) {
    InstallEdCore("4.3.0.11001");  // present, above its bound
    // The files to create are judged by the application database's version: outside.
    machine().SetString(View::Wow32,
                        u"Software\\Halvern Corporation\\Shared Info\\AppDB\\Orlin Reelwright",
                        u"version", u"4.4.0.0");
    machine().StartProcess(u"Reelwright.exe");
    EXPECT_EQ(RunUpdate(nullptr), win::S_OK);
    ExpectOneBox(1203, win::MB_OK, "nothing to update");
}

TEST_F(RunDriverWithProductTest, ABlockingProgramStopsARunThatHasFilesToUpdate) {
    InstallEdCore("4.2.0.500");
    for (const char16_t* program : {u"Reelwright.exe", u"ClipOptimizer.exe"}) {
        sim::ResetMachine();
        SetUp();
        InstallEdCore("4.2.0.500");
        machine().StartProcess(program);
        EXPECT_EQ(RunUpdate(nullptr), win::E_ACCESSDENIED) << sim::Narrow(program);
        ExpectOneBox(1215, win::MB_ICONWARNING, sim::Narrow(program));
    }
}

TEST_F(RunDriverWithProductTest, FilesToCreateAloneStillGoOnPastTheEmptyListTest) {
    machine().StartProcess(u"Reelwright.exe");  // no file present: the list holds rows 8 and 9
    EXPECT_EQ(RunUpdate(nullptr), win::E_ACCESSDENIED);
    ExpectOneBox(1215, win::MB_ICONWARNING, "rows to create");
}

TEST_F(RunDriverWithProductTest, RunningOutOfMemoryForTheWorkListEndsAsAFailedRun) {
    InstallEdCore("4.2.0.500");  // with the two files to create: the list grows to four
    win::HRESULT result;
    {
        FailingAllocations outOfMemory(4 * sizeof(PatchItem));
        result = RunUpdate(nullptr);
        EXPECT_GT(outOfMemory.failures(), 0);
    }
    EXPECT_EQ(result, win::E_OUTOFMEMORY);
    ASSERT_EQ(machine().messageBoxes.size(), 1u);
    EXPECT_EQ(machine().messageBoxes[0].text, u"Package Update Failed.\r\n(code = 0x8007000e)");
    EXPECT_EQ(machine().messageBoxes[0].style, win::MB_ICONERROR);
    EXPECT_TRUE(machine().mutexRefs.empty());  // the lock was released
}

}  // namespace

namespace {

const win::HINSTANCE kProgramInstance = reinterpret_cast<win::HINSTANCE>(0x00400000);

TEST_F(RunDriverWithProductTest, APatchRunClosesWithItsResultOnceTheLockIsReleased) {
    struct Case {
        const char* what;
        bool unattended;
        win::DWORD copyError;  // 0: the copies succeed
        win::HRESULT exitCode;
        const char16_t* text;
        win::UINT style;
    };
    const Case cases[] = {
        {"done", false, 0, win::S_OK, u"Update completed successfully.", win::MB_OK},
        {"a file could not be replaced", false, 112, static_cast<win::HRESULT>(0x80070070u),
         u"Package Update Failed.\r\n(code = 0x80070070)", win::MB_ICONERROR},
        {"done, unattended", true, 0, win::S_OK, nullptr, 0},
        {"failed, unattended", true, 112, static_cast<win::HRESULT>(0x80070070u), nullptr, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        sim::ResetMachine();
        SetUp();
        InstallEdCore("4.2.0.500");
        machine().AddDirectory(u"C:\\P\\Trimkit");  // where gpucal.ini is created
        if (c.unattended) machine().SetDword(View::Wow32, kService, u"LaunchInstaller", 1);
        if (c.copyError != 0) machine().Fail("CopyFileW", c.copyError);
        EXPECT_EQ(RunUpdate(kProgramInstance), c.exitCode);
        EXPECT_EQ(machine().CountCalls("CreateDialogIndirectParamW"), 1u);
        if (c.text == nullptr) {
            EXPECT_TRUE(machine().messageBoxes.empty());
        } else {
            ASSERT_EQ(machine().messageBoxes.size(), 1u);
            EXPECT_EQ(machine().messageBoxes[0].text, c.text);
            EXPECT_EQ(machine().messageBoxes[0].style, c.style);
            EXPECT_EQ(machine().messageBoxes[0].caption, u"Orlin Reelwright Update Program");
        }
        // The lock is held through the patch process (past the worker's closing message)
        // and released before the box.
        const auto& calls = machine().calls;
        const std::string lock = machine().CallsTo("CreateMutexW").at(0).result;
        std::size_t released = calls.size(), workerDone = calls.size(), shown = calls.size();
        for (std::size_t i = 0; i < calls.size(); ++i) {
            if (calls[i].function == "CloseHandle" && calls[i].arguments == lock) released = i;
            if (calls[i].function == "PostMessageW") workerDone = i;
            if (calls[i].function == "MessageBoxW") shown = i;
        }
        EXPECT_LT(workerDone, released);
        EXPECT_TRUE(c.text == nullptr || released < shown);
        EXPECT_TRUE(machine().mutexRefs.empty());
    }
}

}  // namespace
