#include "engine/restart_session.h"

#include "platform/constants.h"
#include "sim_test.h"

namespace {

class RestartSessionTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        machine().AddFile(u"C:\\P\\a.dll", {1});
        machine().AddFile(u"C:\\P\\b.dll", {2});
    }
    void TearDown() override { CloseRestartSession(session); }
    const sim::RestartManager::Session* OnlySession() {
        const auto& sessions = machine().restartManager.sessions;
        return sessions.size() == 1 ? &sessions.begin()->second : nullptr;
    }
    RestartSession session;
};

TEST_F(RestartSessionTest, LoadsTheLibraryFromTheSystemFolderOnNt6AndLater) {
    OpenRestartSession(session);
    ASSERT_NE(session.rmLibrary, nullptr);
    const auto loads = machine().CallsTo("LoadLibraryW");
    ASSERT_EQ(loads.size(), 1u);
    EXPECT_EQ(loads[0].arguments, "\"C:\\Windows\\system32\\Rstrtmgr.dll\"");
    EXPECT_EQ(session.needsRegistration, 1);
    EXPECT_EQ(session.sessionHandle, 0u);
}

TEST_F(RestartSessionTest, WithoutTheLibraryNothingHappensAndRegistrationReportsOne) {
    struct Case {
        const char* name;
        win::DWORD platform, major;
        bool installed;
    };
    for (const Case c : {Case{"Windows XP", 2, 5, true}, Case{"Windows 9x", 1, 6, true},
                         Case{"no Rstrtmgr.dll", 2, 6, false}}) {
        SCOPED_TRACE(c.name);
        sim::ResetMachine();
        machine().platformId = c.platform;
        machine().majorVersion = c.major;
        machine().restartManager.installed = c.installed;
        OpenRestartSession(session);
        EXPECT_EQ(session.rmLibrary, nullptr);
        // Older systems do not even try; a missing library is tried once.
        EXPECT_EQ(machine().CountCalls("LoadLibraryW"), c.installed ? 0u : 1u);
        EXPECT_EQ(RegisterSessionFiles(session), 1u);
        ShutDownSessionApplications(session);
        RestartSessionApplications(session);
        CloseRestartSession(session);
        EXPECT_TRUE(machine().restartManager.sessions.empty());
        EXPECT_EQ(machine().CountCalls("FreeLibrary"), 0u);
    }
}

TEST_F(RestartSessionTest, KeepsTheExistingNonEmptyPiecesInOrder) {
    OpenRestartSession(session);
    EXPECT_EQ(SetSessionFiles(session, u";C:\\P\\b.dll;;C:\\P\\missing.dll;C:\\P\\a.dll;"), 2u);
    EXPECT_EQ(session.files, (std::vector<std::u16string>{u"C:\\P\\b.dll", u"C:\\P\\a.dll"}));
    EXPECT_EQ(SetSessionFiles(session, u""), 0u);
    EXPECT_TRUE(session.files.empty());
    EXPECT_EQ(session.needsRegistration, 1);
}

TEST_F(RestartSessionTest, RegistersOnceUntilTheFilesChange) {
    OpenRestartSession(session);
    SetSessionFiles(session, u"C:\\P\\a.dll;C:\\P\\b.dll");
    ASSERT_EQ(RegisterSessionFiles(session), 0u);
    EXPECT_EQ(session.needsRegistration, 0);
    EXPECT_NE(session.sessionHandle, 0u);
    EXPECT_NE(session.sessionKey[0], 0);
    EXPECT_EQ(RegisterSessionFiles(session), 0u);
    EXPECT_EQ(machine().CountCalls("RmRegisterResources"), 1u);

    ShutDownSessionApplications(session);
    EXPECT_EQ(machine().CallsTo("RmShutdown").at(0).arguments.find("0x1, 0x1"), 0u);
    RestartSessionApplications(session);
    const auto* registered = OnlySession();
    ASSERT_NE(registered, nullptr);
    EXPECT_EQ(registered->files, (std::vector<std::u16string>{u"C:\\P\\a.dll", u"C:\\P\\b.dll"}));
    EXPECT_TRUE(registered->shutDown);
    EXPECT_TRUE(registered->restarted);

    CloseRestartSession(session);
    EXPECT_TRUE(registered->ended);
    EXPECT_TRUE(machine().loadedLibraries.empty());
    EXPECT_EQ(session.rmLibrary, nullptr);
    EXPECT_EQ(session.sessionKey[0], 0);
    EXPECT_TRUE(session.files.empty());
}

TEST_F(RestartSessionTest, TargetsThatDoNotExistYetGiveARegistrationOfNoFiles) {
    OpenRestartSession(session);
    EXPECT_EQ(SetSessionFiles(session, u"C:\\P\\new.bat;C:\\P\\new.ini"), 0u);
    EXPECT_EQ(RegisterSessionFiles(session), 0u);
    ASSERT_EQ(machine().CountCalls("RmRegisterResources"), 1u);
    EXPECT_EQ(machine().CallsTo("RmRegisterResources")[0].arguments.find("0x1, 0x0,"), 0u);
}

TEST_F(RestartSessionTest, AFailedStartIsReturnedAndNothingIsRegistered) {
    machine().Fail("RmStartSession", 1235);
    OpenRestartSession(session);
    SetSessionFiles(session, u"C:\\P\\a.dll");
    EXPECT_EQ(RegisterSessionFiles(session), 1235u);
    EXPECT_EQ(session.sessionHandle, 0u);
    EXPECT_EQ(machine().CountCalls("RmRegisterResources"), 0u);
    CloseRestartSession(session);
    EXPECT_EQ(machine().CountCalls("RmEndSession"), 0u);
}

TEST_F(RestartSessionTest, AFailedRegistrationLeavesTheSessionToBeRestartedAndEnded) {
    machine().Fail("RmRegisterResources", 5);
    OpenRestartSession(session);
    SetSessionFiles(session, u"C:\\P\\a.dll");
    EXPECT_EQ(RegisterSessionFiles(session), 5u);
    EXPECT_EQ(session.needsRegistration, 1);
    ASSERT_NE(session.sessionHandle, 0u);
    RestartSessionApplications(session);
    CloseRestartSession(session);
    EXPECT_EQ(machine().CountCalls("RmRestart"), 1u);
    EXPECT_EQ(machine().CountCalls("RmEndSession"), 1u);
}

TEST_F(RestartSessionTest, AMissingFunctionCountsAsErrorOne) {
    for (const char* missing : {"RmStartSession", "RmRegisterResources"}) {
        SCOPED_TRACE(missing);
        sim::ResetMachine();
        machine().absentFunctions.insert(missing);
        OpenRestartSession(session);
        EXPECT_EQ(RegisterSessionFiles(session), 1u);
        CloseRestartSession(session);
    }
}

}  // namespace
