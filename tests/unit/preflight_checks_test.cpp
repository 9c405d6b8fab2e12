#include "run/preflight_checks.h"

#include <algorithm>

#include "platform/constants.h"
#include "sim_test.h"

namespace {

class PreflightTest : public SimTest {};

TEST_F(PreflightTest, TheLockTellsCreatedFromAlreadyExistedAndFailed) {
    const SingleInstanceLock first = TakeSingleInstanceLock();
    EXPECT_EQ(first.state, LockState::Created);
    const SingleInstanceLock second = TakeSingleInstanceLock();
    EXPECT_EQ(second.state, LockState::AlreadyExisted);
    EXPECT_NE(second.handle, nullptr);
    EXPECT_NE(machine().CallsTo("CreateMutexW")[0].arguments.find(
                  "\"Global\\HalvernOrwOrlINSUpdater-MutexAll\""),
              std::string::npos);
    win::CloseHandle(second.handle);
    win::CloseHandle(first.handle);
    EXPECT_EQ(TakeSingleInstanceLock().state, LockState::Created);  // gone with its last handle

    sim::ResetMachine();
    machine().HoldMutexElsewhere(u"Global\\HalvernOrwOrlINSUpdater-MutexAll");
    EXPECT_EQ(TakeSingleInstanceLock().state, LockState::AlreadyExisted);

    sim::ResetMachine();
    machine().Fail("CreateMutexW", win::ERROR_ACCESS_DENIED);
    const SingleInstanceLock failed = TakeSingleInstanceLock();
    EXPECT_EQ(failed.state, LockState::Failed);
    EXPECT_EQ(failed.handle, nullptr);
}

TEST_F(PreflightTest, OnlyAnEnabledAdministratorsGroupCounts) {
    struct Case {
        const char* what;
        void (*setUp)(sim::Machine&);
        bool administrator;
    };
    const Case cases[] = {
        {"enabled group", [](sim::Machine&) {}, true},
        {"deny only",
         [](sim::Machine& m) { m.SetAdministratorGroup(win::SE_GROUP_USE_FOR_DENY_ONLY); }, false},
        {"present, not enabled", [](sim::Machine& m) { m.SetAdministratorGroup(0); }, false},
        {"not a member",
         [](sim::Machine& m) {
             m.tokenGroups.pop_back();
             m.tokenGroups.erase(m.tokenGroups.begin() + 2);
         },
         false},
        {"token does not open",
         [](sim::Machine& m) { m.Fail("OpenProcessToken", win::ERROR_ACCESS_DENIED); }, false},
        {"size query fails otherwise",
         [](sim::Machine& m) { m.Fail("GetTokenInformation", win::ERROR_ACCESS_DENIED, 1); },
         false},
        {"groups query fails",
         [](sim::Machine& m) { m.Fail("GetTokenInformation", win::ERROR_ACCESS_DENIED, 2); },
         false},
        {"SID not built",
         [](sim::Machine& m) { m.Fail("AllocateAndInitializeSid", win::ERROR_NOT_ENOUGH_MEMORY); },
         false},
    };
    const OsVersionRecord nt{win::VER_PLATFORM_WIN32_NT};
    for (const Case& c : cases) {
        sim::ResetMachine();
        c.setUp(machine());
        EXPECT_EQ(IsUserAdministrator(nt), c.administrator) << c.what;
        // The token and the SID are released on every way out.
        const auto opens = machine().CallsTo("OpenProcessToken");
        const auto opened = std::count_if(opens.begin(), opens.end(),
                                          [](const sim::CallRecord& r) { return r.result == "1"; });
        EXPECT_EQ(machine().CountCalls("CloseHandle"), static_cast<std::size_t>(opened)) << c.what;
        EXPECT_EQ(machine().allocatedSids.size(), 0u) << c.what;
    }
}

TEST_F(PreflightTest, AnythingButNtCountsAsAdministratorAndAFailedQueryReadsAsPlatformZero) {
    machine().Fail("OpenProcessToken", win::ERROR_ACCESS_DENIED);
    EXPECT_TRUE(IsUserAdministrator(OsVersionRecord{win::VER_PLATFORM_WIN32_WINDOWS}));

    machine().Fail("GetVersionExW", win::ERROR_INVALID_PARAMETER);
    const OsVersionRecord failed = QueryOsVersion();
    EXPECT_EQ(failed.platformId, 0u);
    EXPECT_TRUE(IsUserAdministrator(failed));
}

// The record is the process's own, so this runs in a fresh process.
TEST_F(PreflightTest, TheVersionRecordIsFilledOnceAlsoWhenTheQueryFails) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            machine().Fail("GetVersionExW", win::ERROR_INVALID_PARAMETER, 1);
            const bool zero = CurrentOsVersion().platformId == 0;
            const bool still = CurrentOsVersion().platformId == 0 && IsUserAdministrator();
            std::exit(zero && still && machine().CountCalls("GetVersionExW") == 1 ? 0 : 1);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(PreflightTest, SixtyFourBitMeansAnAmd64OrIa64Processor) {
    const std::pair<win::DWORD, bool> cases[] = {
        {8664, true}, {2200, true}, {586, false}, {386, false}};
    for (const auto& [type, is64] : cases) {
        machine().processorType = type;
        EXPECT_EQ(IsNative64BitProcessor(), is64) << type;
        EXPECT_EQ(IsRunningUnderWow64(), is64) << type;
    }
}

TEST_F(PreflightTest, Wow64IsNoWhenTheProbeIsMissingOrFails) {
    machine().absentFunctions.insert("IsWow64Process");
    EXPECT_FALSE(IsRunningUnderWow64());
    sim::ResetMachine();
    machine().Fail("IsWow64Process", win::ERROR_ACCESS_DENIED);
    EXPECT_FALSE(IsRunningUnderWow64());
}

TEST_F(PreflightTest, ProgramsAreFoundByTheirExactFileName) {
    machine().StartProcess(u"reelwright.exe");
    EXPECT_FALSE(IsProgramRunning(u"Reelwright.exe"));
    EXPECT_FALSE(AreBlockingProgramsRunning());
    machine().StartProcess(u"ClipOptimizer.exe");
    EXPECT_TRUE(AreBlockingProgramsRunning());
    machine().StartProcess(u"Reelwright.exe");
    EXPECT_TRUE(IsProgramRunning(u"Reelwright.exe"));
    // Every snapshot taken was closed again.
    EXPECT_EQ(machine().CountCalls("CloseHandle"),
              machine().CountCalls("CreateToolhelp32Snapshot"));

    machine().Fail("CreateToolhelp32Snapshot", win::ERROR_ACCESS_DENIED);
    EXPECT_FALSE(IsProgramRunning(u"Reelwright.exe"));
}

}  // namespace
