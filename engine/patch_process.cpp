#include "engine/patch_process.h"

#include <new>

#include "engine/file_replacement.h"
#include "engine/progress_dialog.h"
#include "platform/constants.h"

namespace {

constexpr win::DWORD kStopWaitMilliseconds = 10'000;
constexpr win::DWORD kDialogIconId = 100;

}  // namespace

CPatchProcess::CPatchProcess() : CPatchProcess(&BeforePatching, &AfterPatching) {}

CPatchProcess::CPatchProcess(PatchHook preWorkHook, PatchHook postWorkHook)
    : stopEvent(win::CreateEventW(nullptr, 1, 0, nullptr)),
      runPreWork_(preWorkHook),
      runPostWork_(postWorkHook) {}

CPatchProcess::~CPatchProcess() {
    if (Stop() == win::E_ABORT) {
        // A worker cut off half way through a file copy would lose data: it runs to its end.
        win::WaitForSingleObject(thread, win::INFINITE);
        ReleaseStoppedWorker();
    }
    DestroyProgressDialog();  // dialogOwner must never name a process that is gone
    if (stopEvent != nullptr) win::CloseHandle(stopEvent);
}

win::HRESULT CPatchProcess::Run(const PatchWorkList& workList, UpdateContextPtr runContext,
                                const char16_t* runCaption, win::HMODULE module) {
    // A context that no worker gets is disposed of when runContext goes out of scope.
    if (thread != nullptr) return win::E_UNEXPECTED;
    if (stopEvent != nullptr) win::ResetEvent(stopEvent);
    try {
        PatchWorkList().swap(items);
        items = workList;
        caption = runCaption ? runCaption : u"";
    } catch (const std::bad_alloc&) {
        ReleaseRunState();
        return win::E_OUTOFMEMORY;
    }
    resourceModule = module;
    {
        const std::lock_guard<std::mutex> lock(handOver_);
        context = runContext.get();
        unclaimedContext_ = std::move(runContext);
        preWork = runPreWork_;
        postWork = runPostWork_;
    }
    visible = runCaption ? 1 : 0;
    iconId = kDialogIconId;
    result = win::S_FALSE;

    // Suspended until the dialog exists: the worker reads `dialog` when it is done.
    thread = win::CreateThread(nullptr, 0, &CPatchProcess::WorkerMain, this, win::CREATE_SUSPENDED,
                               &threadId);
    if (thread == nullptr) {
        threadId = 0;
        ReleaseRunState();
        return win::E_OUTOFMEMORY;
    }
    CreateProgressDialog();
    win::ResumeThread(thread);
    if (dialog.load() != nullptr) {
        RunMessageLoop();
    } else {
        win::WaitForSingleObject(thread, win::INFINITE);
    }
    DestroyProgressDialog();
    const win::HRESULT taken = result.load();
    Stop();
    return taken;
}

win::HRESULT CPatchProcess::Stop() {
    if (thread == nullptr) return win::S_FALSE;
    {
        const std::lock_guard<std::mutex> lock(handOver_);
        if (stopEvent != nullptr) win::SetEvent(stopEvent);
        context = nullptr;
        preWork = nullptr;
        postWork = nullptr;
    }
    if (win::WaitForSingleObject(thread, kStopWaitMilliseconds) != win::WAIT_OBJECT_0) {
        return win::E_ABORT;  // the worker keeps the items, module and context it works with
    }
    ReleaseStoppedWorker();
    return win::S_OK;
}

void CPatchProcess::ReleaseStoppedWorker() {
    ReleaseRunState();
    win::CloseHandle(thread);
    thread = nullptr;
    threadId = 0;
}

void CPatchProcess::ReleaseRunState() {
    PatchWorkList().swap(items);
    resourceModule = nullptr;
    caption.clear();
    iconId = 0;
    UpdateContextPtr unclaimed;
    {
        const std::lock_guard<std::mutex> lock(handOver_);
        unclaimed = std::move(unclaimedContext_);
        context = nullptr;
        preWork = nullptr;
        postWork = nullptr;
    }
    // Disposed of here when no post-work hook took it; applications the pre-work hook had
    // shut down are started again first, as the post-work hook would have done.
    if (unclaimed != nullptr) RestartSessionApplications(unclaimed->restart);
}

CPatchProcess::HookCall CPatchProcess::TakePreWork() {
    const std::lock_guard<std::mutex> lock(handOver_);
    return {preWork, context};
}

CPatchProcess::HookCall CPatchProcess::TakePostWork() {
    const std::lock_guard<std::mutex> lock(handOver_);
    HookCall call{postWork, context};
    if (postWork != nullptr && context != nullptr) call.context = unclaimedContext_.release();
    return call;
}

win::DWORD PLATFORM_API CPatchProcess::WorkerMain(void* parameter) {
    CPatchProcess& process = *static_cast<CPatchProcess*>(parameter);
    win::HRESULT r = win::S_OK;
    try {
        if (const HookCall pre = process.TakePreWork(); pre.hook != nullptr)
            r = pre.hook(win::S_OK, process.stopEvent, process.items, pre.context);
        if (r >= 0) {
            if (process.stopEvent != nullptr &&
                win::WaitForSingleObject(process.stopEvent, 0) == win::WAIT_OBJECT_0) {
                r = win::E_ABORT;
            } else {
                r = ApplyPatchItems(process.items, process.resourceModule);
            }
        }
    } catch (const std::bad_alloc&) {
        r = win::E_OUTOFMEMORY;
    }
    try {
        if (const HookCall post = process.TakePostWork(); post.hook != nullptr)
            r = post.hook(r, process.stopEvent, process.items, post.context);
    } catch (const std::bad_alloc&) {
        r = win::E_OUTOFMEMORY;
    }
    process.result = r;
    if (const win::HWND window = process.dialog.load())
        win::PostMessageW(window, win::WM_CLOSE, 0, 0);
    return static_cast<win::DWORD>(r);
}

win::HRESULT StartPatchProcess(const PatchWorkList& items, const char16_t* caption,
                               win::HINSTANCE resourceModule) {
    UpdateContextPtr context = CreateUpdateContext();  // empty when out of memory: hooks refuse
    CPatchProcess process;
    return process.Run(items, std::move(context), caption, resourceModule);
}
