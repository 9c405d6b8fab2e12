#include "engine/patch_process.h"

#include <algorithm>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <thread>

#include "allocation_failure.h"
#include "platform/constants.h"
#include "platform/sim/desktop.h"
#include "run/message_catalogue.h"
#include "sim_test.h"

namespace {

using sim::View;
using Bytes = std::vector<std::uint8_t>;

const win::HMODULE kProgram = reinterpret_cast<win::HMODULE>(0x00400000);
const Bytes kOld = {'o', 'l', 'd'};
constexpr char16_t kCaption[] = u"Orlin Reelwright Update Program";
constexpr char16_t kAppDb[] =
    u"Software\\Halvern Corporation\\Shared Info\\AppDB\\Orlin Reelwright";
constexpr char16_t kPatchEntry[] =
    u"Software\\Halvern Corporation\\Shared Info\\AppDB\\Orlin Reelwright\\PatchList\\"
    u"KQ0000458107";
constexpr char16_t kWorkFolder[] =
    u"C:\\Users\\Admin\\AppData\\Local\\Temp\\ReelwrightUpdate.exe.tmp";
constexpr win::HRESULT kAccessDenied = static_cast<win::HRESULT>(0x80070005u);

// A latch that test hooks wait on from the worker thread while the test acts.
class Gate {
  public:
    void Open() {
        {
            const std::lock_guard<std::mutex> lock(mutex_);
            open_ = true;
        }
        changed_.notify_all();
    }
    void Wait() {
        std::unique_lock<std::mutex> lock(mutex_);
        changed_.wait(lock, [&] { return open_; });
    }
    void Reset() {
        const std::lock_guard<std::mutex> lock(mutex_);
        open_ = false;
    }

  private:
    std::mutex mutex_;
    std::condition_variable changed_;
    bool open_ = false;
};

// What the test hooks share with the test; a hook is a plain function, so this is global.
struct HookState {
    Gate inside;   // the worker has done the real pre-work and waits
    Gate release;  // the test lets a worker waiting for it go on
    std::atomic<int> postWorkCalls{0};
    std::atomic<bool> preWorkReturned{false};
    void Reset() {
        inside.Reset();
        release.Reset();
        postWorkCalls = 0;
        preWorkReturned = false;
    }
} hooks;

// The real pre-work, then waiting inside the hook until Stop signals the event.
win::HRESULT PreWorkUntilStopped(win::HRESULT previous, win::HANDLE stopEvent, PatchWorkList& items,
                                 UpdateContext* context) {
    const win::HRESULT result = BeforePatching(previous, stopEvent, items, context);
    hooks.inside.Open();
    win::WaitForSingleObject(stopEvent, win::INFINITE);
    hooks.preWorkReturned = true;
    return result;
}

// The real pre-work, then waiting inside the hook until the test releases it.
win::HRESULT PreWorkUntilReleased(win::HRESULT previous, win::HANDLE stopEvent,
                                  PatchWorkList& items, UpdateContext* context) {
    const win::HRESULT result = BeforePatching(previous, stopEvent, items, context);
    hooks.inside.Open();
    hooks.release.Wait();
    hooks.preWorkReturned = true;
    return result;
}

win::HRESULT CountedPostWork(win::HRESULT previous, win::HANDLE stopEvent, PatchWorkList& items,
                             UpdateContext* context) {
    ++hooks.postWorkCalls;
    return AfterPatching(previous, stopEvent, items, context);
}

// The operator at the screen: closes the dialog from another thread once the worker is
// inside its pre-work hook.
std::thread CloseDialogOnceInside() {
    return std::thread([] {
        hooks.inside.Wait();
        win::PostMessageW(sim::desktop().LastDialog(), win::WM_CLOSE, 0, 0);
    });
}

class PatchProcessTest : public SimTest {
  protected:
    void SetUp() override {
        SimTest::SetUp();
        hooks.Reset();
        machine().SetString(View::Wow32, kAppDb, u"version", u"4.2.0.0");
        machine().SetString(View::Wow32,
                            u"Software\\Halvern Corporation\\Orlin Reelwright\\1.0\\App",
                            u"ApplicationDir", u"C:\\P\\App");
        machine().AddFile(u"C:\\P\\App\\EdCore.dll", kOld);
        machine().AddFile(u"C:\\P\\App\\Reelwright.exe", kOld);
        machine().AddDirectory(u"C:\\P\\Trimkit");
    }

    // EdCore.dll (present), Reelwright.exe (present), gpucal.ini (to be created).
    static PatchWorkList ThreeItems() { return WorkItems({2, 5, 9}); }

    Bytes BytesAt(const std::u16string& path) {
        const sim::File* file = machine().FindFile(path);
        return file ? file->bytes : Bytes{};
    }
    bool Replaced(const std::u16string& path) {
        const sim::File* file = machine().FindFile(path);
        return file != nullptr && file->bytes != kOld;
    }
    bool RecordsWritten() {
        return machine().GetString(View::Wow32, kPatchEntry, u"patchid") != std::nullopt;
    }
    const sim::RestartManager::Session* OnlySession() {
        const auto& sessions = machine().restartManager.sessions;
        return sessions.size() == 1 ? &sessions.begin()->second : nullptr;
    }
    // Every context opened its Restart Manager library; a disposed one freed it again.
    bool EveryContextDisposedOf() { return machine().loadedLibraries.empty(); }
    sim::Desktop& desktop() { return sim::desktop(); }
    const sim::Window& OnlyDialog() {
        EXPECT_EQ(desktop().dialogs.size(), 1u);
        return *desktop().Find(desktop().dialogs.at(0));
    }
    std::size_t CallIndex(const std::string& function) {
        for (std::size_t i = 0; i < machine().calls.size(); ++i) {
            if (machine().calls[i].function == function) return i;
        }
        return machine().calls.size();
    }
};

TEST_F(PatchProcessTest, AWholeRunReplacesTheFilesWritesTheRecordsAndRestartsTheApplications) {
    EXPECT_EQ(StartPatchProcess(ThreeItems(), kCaption, kProgram), win::S_OK);

    EXPECT_TRUE(Replaced(u"C:\\P\\App\\EdCore.dll"));
    EXPECT_TRUE(Replaced(u"C:\\P\\App\\Reelwright.exe"));
    EXPECT_TRUE(Replaced(u"C:\\P\\Trimkit\\gpucal.ini"));
    EXPECT_FALSE(machine().DirectoryExists(kWorkFolder));
    EXPECT_TRUE(RecordsWritten());
    // The targets that existed were registered and their applications shut down first.
    const sim::RestartManager::Session* session = OnlySession();
    ASSERT_NE(session, nullptr);
    EXPECT_EQ(session->files, (std::vector<std::u16string>{u"C:\\P\\App\\EdCore.dll",
                                                           u"C:\\P\\App\\Reelwright.exe"}));
    EXPECT_TRUE(session->shutDown);
    EXPECT_TRUE(session->restarted);
    EXPECT_TRUE(session->ended);
    EXPECT_TRUE(EveryContextDisposedOf());

    // The worker starts suspended and goes only once the dialog exists; it closes the
    // dialog itself when done, and the call returns after it has ended.
    ASSERT_EQ(machine().CallsTo("CreateThread").size(), 1u);
    EXPECT_TRUE(machine().CallsTo("CreateThread")[0].arguments.ends_with(", 0x4"));
    EXPECT_LT(CallIndex("CreateThread"), CallIndex("CreateDialogIndirectParamW"));
    EXPECT_LT(CallIndex("CreateDialogIndirectParamW"), CallIndex("ResumeThread"));
    EXPECT_LT(CallIndex("ResumeThread"), CallIndex("RmStartSession"));
    const sim::Window& dialog = OnlyDialog();
    EXPECT_TRUE(dialog.destroyed);
    ASSERT_FALSE(desktop().posted.empty());
    EXPECT_EQ(desktop().posted[0].message, win::WM_CLOSE);
    EXPECT_EQ(desktop().posted[0].window, dialog.handle);
    EXPECT_NE(desktop().posted[0].from, std::this_thread::get_id());
    // The default handling turns the Close into a Cancel click, which goes with the dialog.
    EXPECT_FALSE(dialog.Received(win::WM_COMMAND));
    EXPECT_EQ(desktop().RunningThreads(), 0u);
    for (const auto& [handle, icon] : desktop().icons) EXPECT_TRUE(icon.destroyed);

    // The dialog was given up with its process: the next run has its own.
    EXPECT_EQ(StartPatchProcess(ThreeItems(), kCaption, kProgram), win::S_OK);
    EXPECT_EQ(desktop().dialogs.size(), 2u);
}

TEST_F(PatchProcessTest, EachOutcomeHasItsResultCode) {
    struct Case {
        const char* what;
        std::function<void(sim::Machine&)> setUp;
        bool withContext;
        win::HRESULT result;
        bool filesTouched, recordsWritten, shutDown, restarted, dialog;
    };
    const Case cases[] = {
        {"every item processed", [](sim::Machine&) {}, true, win::S_OK, true, true, true, true,
         true},
        {"the first item fails",
         [](sim::Machine& m) { m.Fail("CopyFileW", win::ERROR_ACCESS_DENIED, 1); }, true,
         kAccessDenied, false, false, true, true, true},
        {"no context", [](sim::Machine&) {}, false, win::E_INVALIDARG, false, false, false, false,
         true},
        {"the worker thread cannot be created",
         [](sim::Machine& m) { m.Fail("CreateThread", win::ERROR_NOT_ENOUGH_MEMORY); }, true,
         win::E_OUTOFMEMORY, false, false, false, false, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        c.setUp(machine());
        CPatchProcess process;
        EXPECT_EQ(process.Run(ThreeItems(), c.withContext ? CreateUpdateContext() : nullptr,
                              kCaption, kProgram),
                  c.result);
        // No item after a failing one is touched, nor any without a context.
        EXPECT_EQ(Replaced(u"C:\\P\\App\\EdCore.dll"), c.filesTouched);
        EXPECT_EQ(Replaced(u"C:\\P\\App\\Reelwright.exe"), c.filesTouched);
        EXPECT_EQ(machine().FindFile(u"C:\\P\\Trimkit\\gpucal.ini") != nullptr, c.filesTouched);
        EXPECT_EQ(RecordsWritten(), c.recordsWritten);
        EXPECT_EQ(machine().CountCalls("RmShutdown"), c.shutDown ? 1u : 0u);
        EXPECT_EQ(machine().CountCalls("RmRestart"), c.restarted ? 1u : 0u);
        if (!c.withContext) {
            EXPECT_EQ(machine().CountCalls("RmStartSession"), 0u);
        }
        EXPECT_EQ(desktop().dialogs.size(), c.dialog ? 1u : 0u);
        EXPECT_TRUE(EveryContextDisposedOf());
        EXPECT_EQ(desktop().RunningThreads(), 0u);
    }
}

TEST_F(PatchProcessTest, OutOfMemoryForTheContextOrTheWorkListCopy) {
    const PatchWorkList items = ThreeItems();
    {
        SCOPED_TRACE("no context: both hooks refuse, nothing is done");
        win::HRESULT result;
        {
            FailingAllocations outOfMemory(sizeof(UpdateContext));
            result = StartPatchProcess(items, kCaption, kProgram);
            EXPECT_EQ(outOfMemory.failures(), 1);
        }
        EXPECT_EQ(result, win::E_INVALIDARG);
        EXPECT_EQ(BytesAt(u"C:\\P\\App\\EdCore.dll"), kOld);
        EXPECT_EQ(machine().CountCalls("SHCreateDirectory"), 0u);
        EXPECT_EQ(machine().CountCalls("LoadLibraryW"), 0u);  // no Restart Manager at all
        EXPECT_FALSE(RecordsWritten());
        EXPECT_EQ(desktop().dialogs.size(), 1u);
    }
    SetUp();
    {
        SCOPED_TRACE("no copy of the work list: no thread");
        CPatchProcess process;
        UpdateContextPtr context = CreateUpdateContext();
        win::HRESULT result;
        {
            FailingAllocations outOfMemory(items.size() * sizeof(PatchItem));
            result = process.Run(items, std::move(context), kCaption, kProgram);
            EXPECT_EQ(outOfMemory.failures(), 1);
        }
        EXPECT_EQ(result, win::E_OUTOFMEMORY);
        EXPECT_EQ(machine().CountCalls("CreateThread"), 0u);
        EXPECT_TRUE(desktop().dialogs.empty());
        EXPECT_TRUE(EveryContextDisposedOf());
        EXPECT_EQ(process.Stop(), win::S_FALSE);
    }
}

TEST_F(PatchProcessTest, AnEmptyWorkListRegistersNothingAndStillWritesTheRecords) {
    EXPECT_EQ(StartPatchProcess({}, kCaption, kProgram), win::S_OK);
    EXPECT_EQ(machine().CountCalls("RmStartSession"), 0u);
    EXPECT_EQ(machine().CountCalls("RmRegisterResources"), 0u);
    EXPECT_EQ(machine().CountCalls("RmRestart"), 0u);
    // The work folder is made and taken away again, empty.
    const auto made = machine().CallsTo("SHCreateDirectory");
    ASSERT_EQ(made.size(), 1u);
    EXPECT_NE(made[0].arguments.find("ReelwrightUpdate.exe.tmp"), std::string::npos);
    const auto removed = machine().CallsTo("RemoveDirectoryW");
    ASSERT_EQ(removed.size(), 1u);
    EXPECT_NE(removed[0].arguments.find("ReelwrightUpdate.exe.tmp"), std::string::npos);
    EXPECT_FALSE(machine().DirectoryExists(kWorkFolder));
    EXPECT_TRUE(RecordsWritten());
    EXPECT_TRUE(EveryContextDisposedOf());
}

TEST_F(PatchProcessTest, TheDialogShowsCaptionStatusAndIconsCentredWithCloseGreyedAndAMarquee) {
    EXPECT_EQ(StartPatchProcess(ThreeItems(), kCaption, kProgram), win::S_OK);
    const sim::Window& dialog = OnlyDialog();
    EXPECT_EQ(dialog.text, kCaption);
    EXPECT_EQ(dialog.systemMenu.at(win::SC_CLOSE), win::MF_GRAYED);
    EXPECT_EQ(dialog.systemMenu.at(win::SC_MOVE), win::MF_ENABLED);
    ASSERT_EQ(dialog.controls.size(), 2u);
    const sim::Window& status = *desktop().Find(dialog.controls[0]);
    EXPECT_EQ(status.id, 1100);
    EXPECT_EQ(status.text, u"Now processing...\nPlease wait for a while.");
    EXPECT_EQ(status.text, LoadMessage(1230));

    // Icon 100 of the program at the two system sizes.
    ASSERT_NE(dialog.bigIcon, nullptr);
    ASSERT_NE(dialog.smallIcon, nullptr);
    const sim::Icon& big = desktop().icons.at(reinterpret_cast<std::uintptr_t>(dialog.bigIcon));
    const sim::Icon& small = desktop().icons.at(reinterpret_cast<std::uintptr_t>(dialog.smallIcon));
    EXPECT_EQ(big.groupId, 100);
    EXPECT_EQ(big.cx, 32);
    EXPECT_EQ(big.cy, 32);
    EXPECT_EQ(small.groupId, 100);
    EXPECT_EQ(small.cx, 16);
    EXPECT_EQ(small.cy, 16);

    // The bar is set up once for a marquee and hears nothing more.
    const sim::Window& bar = *desktop().Find(dialog.controls[1]);
    EXPECT_EQ(bar.id, 1101);
    ASSERT_EQ(bar.received.size(), 3u);
    EXPECT_EQ(bar.received[0].message, win::PBM_SETRANGE);
    EXPECT_EQ(bar.received[0].lParam, 100 << 16);
    EXPECT_EQ(bar.received[1].message, win::PBM_SETPOS);
    EXPECT_EQ(bar.received[1].wParam, 0u);
    EXPECT_EQ(bar.received[2].message, win::PBM_SETMARQUEE);
    EXPECT_EQ(bar.received[2].wParam, 1u);
    EXPECT_EQ(bar.received[2].lParam, 0);
    EXPECT_TRUE(bar.marquee);
}

TEST_F(PatchProcessTest, TheDialogIsCentredOnTheWholeMonitorAndShownOnlyWithACaption) {
    // The dialog is 381 x 112 pixels here (250 x 53 dialog units, frame and title bar).
    struct Case {
        const char* what;
        win::RECT monitor;
        const char16_t* caption;
        int x, y;
        win::UINT showFlags;
    };
    const Case cases[] = {
        {"1024 x 768", {0, 0, 1024, 768}, kCaption, 322, 328, 0x47},
        {"odd sizes, halves cut toward zero", {0, 0, 1023, 767}, kCaption, 321, 327, 0x47},
        {"a monitor whose left and top are not added",
         {1920, 100, 3200, 1124},
         kCaption,
         450,
         456,
         0x47},
        {"no caption: hidden", {0, 0, 1024, 768}, nullptr, 322, 328, 0x87},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        desktop().monitor = c.monitor;
        desktop().workArea = {c.monitor.left, c.monitor.top, c.monitor.right - 40,
                              c.monitor.bottom - 40};
        CPatchProcess process;
        EXPECT_EQ(process.Run(ThreeItems(), CreateUpdateContext(), c.caption, kProgram), win::S_OK);
        EXPECT_TRUE(Replaced(u"C:\\P\\App\\EdCore.dll"));
        const sim::Window& dialog = OnlyDialog();
        EXPECT_EQ(dialog.rect.right - dialog.rect.left, 381);
        EXPECT_EQ(dialog.rect.bottom - dialog.rect.top, 112);
        ASSERT_EQ(dialog.positions.size(), 2u);
        EXPECT_EQ(dialog.positions[0].x, c.x);
        EXPECT_EQ(dialog.positions[0].y, c.y);
        EXPECT_EQ(dialog.positions[0].flags & win::SWP_NOSIZE, win::SWP_NOSIZE);
        EXPECT_EQ(dialog.positions[0].flags & win::SWP_NOMOVE, 0u);
        EXPECT_EQ(dialog.positions[1].flags, c.showFlags);
        EXPECT_EQ(dialog.rect.left, c.x);
        EXPECT_EQ(dialog.text, c.caption ? kCaption : u"");
    }
}

TEST_F(PatchProcessTest, WithoutADialogTheRunGoesOnAndWaitsForItsWorker) {
    struct Case {
        const char* what;
        const char* function;
        win::DWORD error;
        int occurrence;  // 0: every call
        bool dialog, icons;
    };
    const Case cases[] = {
        // The template is the first resource the run looks up; the payloads come later.
        {"no dialog template", "FindResourceW", win::ERROR_RESOURCE_NAME_NOT_FOUND, 1, false, true},
        {"the window is not created", "CreateDialogIndirectParamW", win::ERROR_OUTOFMEMORY, 0,
         false, true},
        {"no progress bar class", "InitCommonControlsEx", win::ERROR_OUTOFMEMORY, 0, false, true},
        {"no icons", "LoadImageW", win::ERROR_RESOURCE_NAME_NOT_FOUND, 0, true, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        SetUp();
        machine().Fail(c.function, c.error, c.occurrence);
        EXPECT_EQ(StartPatchProcess(ThreeItems(), kCaption, kProgram), win::S_OK);
        EXPECT_TRUE(Replaced(u"C:\\P\\App\\EdCore.dll"));
        EXPECT_TRUE(RecordsWritten());
        EXPECT_EQ(desktop().dialogs.size(), c.dialog ? 1u : 0u);
        if (c.dialog) {
            EXPECT_EQ(OnlyDialog().Received(win::WM_SETICON), c.icons);
        } else {
            // The calling thread waited for the worker without a time limit.
            const auto waits = machine().CallsTo("WaitForSingleObject");
            EXPECT_TRUE(std::any_of(waits.begin(), waits.end(), [](const sim::CallRecord& w) {
                return w.arguments.ends_with(", 0xffffffff");
            }));
        }
        for (const auto& [handle, icon] : desktop().icons) EXPECT_TRUE(icon.destroyed);
        EXPECT_EQ(desktop().RunningThreads(), 0u);
        // The process let go of the dialog it meant to show: the next run has one.
        SetUp();
        EXPECT_EQ(StartPatchProcess(ThreeItems(), kCaption, kProgram), win::S_OK);
        EXPECT_EQ(desktop().dialogs.size(), 1u);
    }
}

TEST_F(PatchProcessTest, ASecondProcessWhileTheFirstShowsItsDialogRunsWithoutOne) {
    win::HRESULT first = win::E_FAIL;
    std::thread firstRun([&] {
        CPatchProcess process(&PreWorkUntilReleased, &AfterPatching);
        first = process.Run(WorkItems({2}), CreateUpdateContext(), kCaption, kProgram);
    });
    hooks.inside.Wait();  // the first dialog is up and its worker busy

    EXPECT_EQ(StartPatchProcess(WorkItems({5}), kCaption, kProgram), win::S_OK);
    EXPECT_TRUE(Replaced(u"C:\\P\\App\\Reelwright.exe"));  // done by the time it returned
    EXPECT_EQ(desktop().LastDialog(), desktop().dialogs.at(0));
    EXPECT_EQ(machine().CountCalls("CreateDialogIndirectParamW"), 1u);
    EXPECT_EQ(machine().CountCalls("LoadImageW"), 2u);  // the first process's two icons

    hooks.release.Open();
    firstRun.join();
    EXPECT_EQ(first, win::S_OK);
    EXPECT_TRUE(Replaced(u"C:\\P\\App\\EdCore.dll"));
    EXPECT_EQ(desktop().RunningThreads(), 0u);
    EXPECT_TRUE(EveryContextDisposedOf());
}

TEST_F(PatchProcessTest, StopOnAnIdleProcessReturnsFalseAndChangesNothing) {
    CPatchProcess process;
    const std::size_t before = machine().calls.size();
    EXPECT_EQ(process.Stop(), win::S_FALSE);
    EXPECT_EQ(machine().calls.size(), before);
    EXPECT_EQ(process.Run(ThreeItems(), CreateUpdateContext(), kCaption, kProgram), win::S_OK);
    EXPECT_EQ(process.Stop(), win::S_FALSE);  // idle again after the run
}

TEST_F(PatchProcessTest, ACloseFromOutsideDuringThePreWorkEndsTheRunWithoutTheRest) {
    std::thread operatorThread = CloseDialogOnceInside();
    win::HRESULT result;
    {
        CPatchProcess process(&PreWorkUntilStopped, &CountedPostWork);
        result = process.Run(ThreeItems(), CreateUpdateContext(), kCaption, kProgram);
        // The run is over only once the worker is: nothing of it outlives the call.
        EXPECT_EQ(desktop().RunningThreads(), 0u);
    }
    operatorThread.join();
    EXPECT_EQ(result, win::S_FALSE);
    EXPECT_TRUE(hooks.preWorkReturned);
    // The worker skipped the file work and the post-work hook.
    EXPECT_EQ(BytesAt(u"C:\\P\\App\\EdCore.dll"), kOld);
    EXPECT_EQ(machine().CountCalls("SHCreateDirectory"), 0u);
    EXPECT_EQ(hooks.postWorkCalls, 0);
    EXPECT_FALSE(RecordsWritten());
    // Its context was still disposed of: the applications the pre-work shut down are
    // started again and the session is ended.
    const sim::RestartManager::Session* session = OnlySession();
    ASSERT_NE(session, nullptr);
    EXPECT_TRUE(session->shutDown);
    EXPECT_TRUE(session->restarted);
    EXPECT_TRUE(session->ended);
    EXPECT_TRUE(EveryContextDisposedOf());
    EXPECT_TRUE(OnlyDialog().destroyed);
}

TEST_F(PatchProcessTest, AStopThatTimesOutNeverCutsTheWorkerOff) {
    for (const bool explicitStop : {true, false}) {
        SCOPED_TRACE(explicitStop ? "Stop once released" : "the destructor");
        SetUp();
        desktop().timeScale = 0.0001;  // the 10-second wait runs out in a millisecond
        std::thread operatorThread = CloseDialogOnceInside();
        std::thread releaser;
        {
            CPatchProcess process(&PreWorkUntilReleased, &CountedPostWork);
            EXPECT_EQ(process.Run(ThreeItems(), CreateUpdateContext(), kCaption, kProgram),
                      win::S_FALSE);
            operatorThread.join();
            // Still at work: Stop says so again, and a new run is refused (its context is
            // disposed of at once; the worker's is kept).
            EXPECT_EQ(process.Stop(), win::E_ABORT);
            EXPECT_EQ(desktop().RunningThreads(), 1u);
            EXPECT_EQ(process.Run(ThreeItems(), CreateUpdateContext(), kCaption, kProgram),
                      win::E_UNEXPECTED);
            EXPECT_EQ(machine().loadedLibraries.begin()->second.second, 1);
            EXPECT_FALSE(hooks.preWorkReturned);
            if (explicitStop) {
                desktop().timeScale = 1.0;
                hooks.release.Open();
                EXPECT_EQ(process.Stop(), win::S_OK);
                EXPECT_EQ(process.Stop(), win::S_FALSE);
            } else {
                releaser = std::thread([] {
                    std::this_thread::sleep_for(std::chrono::milliseconds(50));
                    hooks.release.Open();
                });
            }
        }
        // The worker ran its hook to the end; the rest was skipped and cleaned up after it.
        EXPECT_TRUE(hooks.preWorkReturned);
        EXPECT_EQ(desktop().RunningThreads(), 0u);
        if (releaser.joinable()) releaser.join();
        EXPECT_EQ(BytesAt(u"C:\\P\\App\\EdCore.dll"), kOld);
        EXPECT_EQ(hooks.postWorkCalls, 0);
        EXPECT_TRUE(EveryContextDisposedOf());
        ASSERT_NE(OnlySession(), nullptr);
        EXPECT_TRUE(OnlySession()->ended);
    }
}

}  // namespace
