#include "run/run_driver.h"

#include <new>

#include "engine/patch_process.h"
#include "inspect/installed_version.h"
#include "inspect/product_identity.h"
#include "inspect/reg_key.h"
#include "inspect/target_resolution.h"
#include "platform/constants.h"
#include "run/message_catalogue.h"
#include "run/preflight_checks.h"

namespace {

constexpr std::uint16_t kCaptionId = 200;
constexpr std::uint16_t kSucceededId = 1210;
constexpr std::uint16_t kFailedId = 1213;
constexpr win::HRESULT kSingleInstanceResult = static_cast<win::HRESULT>(0x80070480u);

// The lock handle of the run, released before any message is shown.
class LockHolder {
  public:
    explicit LockHolder(win::HANDLE handle) : handle_(handle) {}
    LockHolder(const LockHolder&) = delete;
    LockHolder& operator=(const LockHolder&) = delete;
    ~LockHolder() { Release(); }
    void Release() {
        if (handle_ != nullptr) win::CloseHandle(handle_);
        handle_ = nullptr;
    }

  private:
    win::HANDLE handle_;
};

void ShowMessage(bool unattended, const std::u16string& text, const std::u16string& caption,
                 win::UINT style) {
    if (!unattended) win::MessageBoxW(nullptr, text.c_str(), caption.c_str(), style);
}

}  // namespace

OutcomeMessage DescribeOutcome(RunOutcome outcome) {
    switch (outcome) {
        case RunOutcome::AlreadyRunning:
            return {1201, win::MB_OK, kSingleInstanceResult};
        case RunOutcome::NotAdministrator:
            return {1219, win::MB_ICONWARNING, win::E_ACCESSDENIED};
        case RunOutcome::UnsupportedSystem:
            return {1216, win::MB_ICONWARNING, win::E_ACCESSDENIED};
        case RunOutcome::SameVersionInstalled:
            return {1218, win::MB_ICONWARNING, win::E_ACCESSDENIED};
        case RunOutcome::NoApplicableVersion:
            return {1217, win::MB_ICONWARNING, win::E_ACCESSDENIED};
        case RunOutcome::NoTargetProduct:
            return {1202, win::MB_OK, win::S_OK};
        case RunOutcome::NothingToUpdate:
            return {1203, win::MB_OK, win::S_OK};
        case RunOutcome::ProgramsRunning:
            return {1215, win::MB_ICONWARNING, win::E_ACCESSDENIED};
    }
    return {1213, win::MB_ICONERROR, win::E_UNEXPECTED};
}

ClosingMessage ClosingMessageFor(win::HRESULT runResult) {
    if (runResult == win::S_FALSE) return {false, {}, win::MB_OK};
    if (runResult >= 0) return {true, LoadMessage(kSucceededId), win::MB_OK};
    return {true, FormatMessageWithCode(kFailedId, static_cast<std::uint32_t>(runResult)),
            win::MB_ICONERROR};
}

bool ReadUnattendedSwitch() {
    CRegKeyEx key;
    if (key.Open(win::HKEY_LOCAL_MACHINE, product::kUpdateServiceKey, win::KEY_READ) !=
        win::ERROR_SUCCESS)
        return false;
    // The type is not looked at: any four bytes reading 1 switch the boxes off. A longer
    // value does not fit, and Windows leaves the buffer undefined then: attended.
    unsigned char value[4] = {};
    win::DWORD size = sizeof value;
    if (win::RegQueryValueExW(key.handle(), u"LaunchInstaller", nullptr, nullptr, value, &size) !=
        win::ERROR_SUCCESS)
        return false;
    return value[0] == 1 && value[1] == 0 && value[2] == 0 && value[3] == 0;
}

namespace {

// How the checked part of a run ended: stopped early (its message already shown), or with
// the patch process's result.
struct RunEnd {
    win::HRESULT code;
    bool patched;
};

RunEnd RunSequence(win::HINSTANCE instance, const std::u16string& caption, bool unattended) {
    const std::u16string installed = ReadDisplayVersion();

    auto stop = [&](RunOutcome outcome, LockHolder& lock) {
        lock.Release();
        const OutcomeMessage message = DescribeOutcome(outcome);
        ShowMessage(unattended, LoadMessage(message.messageId), caption, message.boxStyle);
        return RunEnd{message.resultCode, false};
    };

    const SingleInstanceLock taken = TakeSingleInstanceLock();
    LockHolder lock(taken.handle);
    if (taken.state == LockState::AlreadyExisted) return stop(RunOutcome::AlreadyRunning, lock);
    if (!IsUserAdministrator()) return stop(RunOutcome::NotAdministrator, lock);
    if (!IsNative64BitProcessor()) return stop(RunOutcome::UnsupportedSystem, lock);
    if (!IsApplicableVersion(installed)) {
        return stop(IsTargetVersion(installed) ? RunOutcome::SameVersionInstalled
                                               : RunOutcome::NoApplicableVersion,
                    lock);
    }

    PatchWorkList items;
    const std::int32_t resolved = ResolveTargets(items);
    if (items.empty()) {
        return stop(resolved < 0 ? RunOutcome::NoTargetProduct : RunOutcome::NothingToUpdate, lock);
    }
    if (AreBlockingProgramsRunning()) return stop(RunOutcome::ProgramsRunning, lock);

    const win::HRESULT result = StartPatchProcess(items, caption.c_str(), instance);
    lock.Release();
    return RunEnd{result, true};
}

}  // namespace

win::HRESULT RunUpdate(win::HINSTANCE instance) {
    const std::u16string caption = LoadMessage(kCaptionId);
    const bool unattended = ReadUnattendedSwitch();
    win::HRESULT result;
    try {
        const RunEnd end = RunSequence(instance, caption, unattended);
        if (!end.patched) return end.code;
        result = end.code;
    } catch (const std::bad_alloc&) {
        // Memory ran out (growing the work list, say): the lock and the list are already
        // released by the unwinding; the run ends as a failed one.
        result = win::E_OUTOFMEMORY;
    }
    const ClosingMessage closing = ClosingMessageFor(result);
    if (closing.shown) ShowMessage(unattended, closing.text, caption, closing.boxStyle);
    return result;
}
