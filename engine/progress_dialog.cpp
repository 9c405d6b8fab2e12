#include "engine/progress_dialog.h"

#include <new>
#include <string>

#include "engine/patch_process.h"
#include "platform/constants.h"
#include "run/message_catalogue.h"

std::atomic<CPatchProcess*> dialogOwner{nullptr};

namespace {

constexpr win::WORD kDialogTemplateId = 1000;
constexpr int kStatusTextId = 1100;
constexpr int kProgressBarId = 1101;
constexpr std::uint16_t kStatusMessageId = 1230;
constexpr win::UINT kKeepPlace = win::SWP_NOSIZE | win::SWP_NOMOVE | win::SWP_NOZORDER;

// Centred on the whole monitor (not its work area), from the monitor's size alone: its own
// left and top are not added.
void CentreOnMonitor(win::HWND window) {
    win::RECT rect{};
    if (!win::GetWindowRect(window, &rect)) return;
    const win::HMONITOR monitor = win::MonitorFromWindow(window, win::MONITOR_DEFAULTTOPRIMARY);
    if (monitor == nullptr) return;
    win::MONITORINFO info{};
    info.cbSize = sizeof info;
    if (!win::GetMonitorInfoW(monitor, &info)) return;
    const int x = (info.rcMonitor.right - info.rcMonitor.left) / 2 - (rect.right - rect.left) / 2;
    const int y = (info.rcMonitor.bottom - info.rcMonitor.top) / 2 - (rect.bottom - rect.top) / 2;
    win::SetWindowPos(window, nullptr, x, y, 0, 0, win::SWP_NOSIZE | win::SWP_NOZORDER);
}

std::u16string StatusText() {
    try {
        return LoadMessage(kStatusMessageId);
    } catch (const std::bad_alloc&) {
        return {};
    }
}

win::HICON LoadDialogIcon(win::HMODULE module, win::DWORD id, int widthMetric, int heightMetric) {
    return static_cast<win::HICON>(
        win::LoadImageW(module, win::MakeIntResource(static_cast<win::WORD>(id)), win::IMAGE_ICON,
                        win::GetSystemMetrics(widthMetric), win::GetSystemMetrics(heightMetric),
                        win::LR_DEFAULTCOLOR));
}

}  // namespace

win::INT_PTR PLATFORM_API ProgressDialogProc(win::HWND window, win::UINT message, win::WPARAM,
                                             win::LPARAM) {
    if (message != win::WM_INITDIALOG) return 0;
    const CPatchProcess* owner = dialogOwner.load();
    if (const win::HMENU menu = win::GetSystemMenu(window, 0))
        win::EnableMenuItem(menu, win::SC_CLOSE, win::MF_BYCOMMAND | win::MF_GRAYED);
    if (owner == nullptr) return 1;
    win::SetWindowTextW(window, owner->caption.c_str());
    win::SetDlgItemTextW(window, kStatusTextId, StatusText().c_str());
    if (owner->bigIcon != nullptr)
        win::SendMessageW(window, win::WM_SETICON, win::ICON_BIG,
                          reinterpret_cast<win::LPARAM>(owner->bigIcon));
    if (owner->smallIcon != nullptr)
        win::SendMessageW(window, win::WM_SETICON, win::ICON_SMALL,
                          reinterpret_cast<win::LPARAM>(owner->smallIcon));
    CentreOnMonitor(window);
    win::SetWindowPos(window, nullptr, 0, 0, 0, 0,
                      kKeepPlace | (owner->visible ? win::SWP_SHOWWINDOW : win::SWP_HIDEWINDOW));
    return 1;
}

void CPatchProcess::CreateProgressDialog() {
    CPatchProcess* none = nullptr;
    if (!dialogOwner.compare_exchange_strong(none, this)) return;  // another run shows its own
    if (bigIcon == nullptr)
        bigIcon = LoadDialogIcon(resourceModule, iconId, win::SM_CXICON, win::SM_CYICON);
    if (smallIcon == nullptr)
        smallIcon = LoadDialogIcon(resourceModule, iconId, win::SM_CXSMICON, win::SM_CYSMICON);

    // The progress bar's window class comes with the common controls.
    const win::INITCOMMONCONTROLSEX controls{sizeof(win::INITCOMMONCONTROLSEX),
                                             win::ICC_PROGRESS_CLASS};
    win::InitCommonControlsEx(&controls);
    const win::HRSRC found =
        win::FindResourceW(resourceModule, win::MakeIntResource(kDialogTemplateId),
                           win::MakeIntResource(win::RT_DIALOG));
    const win::HGLOBAL loaded = found ? win::LoadResource(resourceModule, found) : nullptr;
    const void* locked = loaded ? win::LockResource(loaded) : nullptr;
    if (locked == nullptr) return;
    const win::HWND created = win::CreateDialogIndirectParamW(
        resourceModule, static_cast<const win::DLGTEMPLATE*>(locked), nullptr, &ProgressDialogProc,
        0);
    if (created == nullptr) return;
    dialog = created;

    if (win::GetDlgItem(created, kProgressBarId) != nullptr) {
        win::SendDlgItemMessageW(created, kProgressBarId, win::PBM_SETRANGE, 0,
                                 win::MakeLParam(0, 100));
        win::SendDlgItemMessageW(created, kProgressBarId, win::PBM_SETPOS, 0, 0);
        win::SendDlgItemMessageW(created, kProgressBarId, win::PBM_SETMARQUEE, 1, 0);
    }
}

void CPatchProcess::RunMessageLoop() {
    const win::HWND window = dialog.load();
    win::MSG message{};
    for (;;) {
        const win::BOOL got = win::GetMessageW(&message, window, 0, 0);
        if (got == 0 || got == -1) return;
        win::TranslateMessage(&message);
        win::DispatchMessageW(&message);
        if (message.message == win::WM_CLOSE) return;
    }
}

void CPatchProcess::DestroyProgressDialog() {
    if (dialogOwner.load() != this) return;
    if (const win::HWND window = dialog.load()) {
        if (win::DestroyWindow(window)) dialog = nullptr;
        win::MSG message{};
        while (win::PeekMessageW(&message, nullptr, 0, 0, win::PM_REMOVE)) {
            win::TranslateMessage(&message);
            win::DispatchMessageW(&message);
        }
    }
    if (bigIcon != nullptr) win::DestroyIcon(bigIcon);
    if (smallIcon != nullptr) win::DestroyIcon(smallIcon);
    bigIcon = nullptr;
    smallIcon = nullptr;
    dialogOwner = nullptr;
}
