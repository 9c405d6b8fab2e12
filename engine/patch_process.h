// The patch process: the file work on a worker thread behind a progress dialog.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>

#include "engine/patch_hooks.h"
#include "engine/patch_table.h"
#include "platform/api.h"

class CPatchProcess {
  public:
    CPatchProcess();
    // For tests: Run installs these hooks in place of BeforePatching and AfterPatching. The
    // post-work hook owns the context it is handed, as AfterPatching does.
    CPatchProcess(PatchHook preWorkHook, PatchHook postWorkHook);
    // Waits for a worker that is still running, however long it takes.
    virtual ~CPatchProcess();
    CPatchProcess(const CPatchProcess&) = delete;
    CPatchProcess& operator=(const CPatchProcess&) = delete;

    // Runs the update over a copy of the work list and returns its result once the dialog
    // is gone. Takes the context over: the post-work hook disposes of it, or the process
    // does when no hook gets to. The caption may be null (the dialog stays hidden).
    win::HRESULT Run(const PatchWorkList& workList, UpdateContextPtr runContext,
                     const char16_t* runCaption, win::HMODULE module);

    // Signals the worker to skip what it has not started and waits up to 10 s for it:
    // S_FALSE without a worker, S_OK when it ended, E_ABORT when it is still running (it
    // is never cut off; it keeps its run state until it ends).
    win::HRESULT Stop();

  private:
    friend win::INT_PTR PLATFORM_API ProgressDialogProc(win::HWND window, win::UINT message,
                                                        win::WPARAM wParam, win::LPARAM lParam);
    static win::DWORD PLATFORM_API WorkerMain(void* process);

    struct HookCall {
        PatchHook hook;
        UpdateContext* context;
    };
    HookCall TakePreWork();
    HookCall TakePostWork();
    void ReleaseRunState();
    void ReleaseStoppedWorker();

    // The progress dialog (progress_dialog.cpp), on the calling thread.
    void CreateProgressDialog();
    void RunMessageLoop();
    void DestroyProgressDialog();

    // Written by the worker as its last act; read when the message loop may have ended
    // before the worker did.
    std::atomic<win::HRESULT> result{1};
    win::HANDLE stopEvent = nullptr;
    win::HANDLE thread = nullptr;
    win::DWORD threadId = 0;
    // The hand-over to the worker: Stop clears these under handOver_, and the worker takes
    // a hook and the context under it, so a hook it has not yet called is never called.
    UpdateContext* context = nullptr;
    PatchHook preWork = nullptr;
    PatchHook postWork = nullptr;
    win::DWORD iconId = 0;
    std::uint8_t visible = 1;
    std::u16string caption;
    win::HMODULE resourceModule = nullptr;
    PatchWorkList items;
    std::atomic<win::HWND> dialog{nullptr};  // the worker posts its WM_CLOSE here
    win::HICON bigIcon = nullptr;
    win::HICON smallIcon = nullptr;

    std::mutex handOver_;
    UpdateContextPtr unclaimedContext_;  // the context until the post-work hook takes it
    const PatchHook runPreWork_;
    const PatchHook runPostWork_;
};

// Runs the update over the work list; returns the run's result code once the dialog is
// gone and the worker has ended. The caption may be null.
win::HRESULT StartPatchProcess(const PatchWorkList& items, const char16_t* caption,
                               win::HINSTANCE resourceModule);
