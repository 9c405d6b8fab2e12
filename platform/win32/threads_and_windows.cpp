// Threads, events, windows and dialogs, forwarded to Windows (kernel32, user32, and the
// progress bar class of comctl32, bound side by side through the manifest).
#include "platform/win32/bridge.h"
// Need <windows.h> first.
#include <commctrl.h>

static_assert(sizeof(win::HICON) == sizeof(::HICON) && sizeof(win::HMENU) == sizeof(::HMENU) &&
                  sizeof(win::HMONITOR) == sizeof(::HMONITOR),
              "handles must be pointer-sized like the SDK's");
PLATFORM_SAME_SCALAR(win::INT_PTR, ::INT_PTR);

PLATFORM_SAME_SIZE(win::POINT, ::POINT);
PLATFORM_SAME_FIELD(win::POINT, ::POINT, x);
PLATFORM_SAME_FIELD(win::POINT, ::POINT, y);

PLATFORM_SAME_SIZE(win::RECT, ::RECT);
PLATFORM_SAME_FIELD(win::RECT, ::RECT, left);
PLATFORM_SAME_FIELD(win::RECT, ::RECT, top);
PLATFORM_SAME_FIELD(win::RECT, ::RECT, right);
PLATFORM_SAME_FIELD(win::RECT, ::RECT, bottom);

PLATFORM_SAME_SIZE(win::MSG, ::MSG);
PLATFORM_SAME_FIELD(win::MSG, ::MSG, hwnd);
PLATFORM_SAME_FIELD(win::MSG, ::MSG, message);
PLATFORM_SAME_FIELD(win::MSG, ::MSG, wParam);
PLATFORM_SAME_FIELD(win::MSG, ::MSG, lParam);
PLATFORM_SAME_FIELD(win::MSG, ::MSG, time);
PLATFORM_SAME_FIELD(win::MSG, ::MSG, pt);

PLATFORM_SAME_SIZE(win::MONITORINFO, ::MONITORINFO);
PLATFORM_SAME_FIELD(win::MONITORINFO, ::MONITORINFO, cbSize);
PLATFORM_SAME_FIELD(win::MONITORINFO, ::MONITORINFO, rcMonitor);
PLATFORM_SAME_FIELD(win::MONITORINFO, ::MONITORINFO, rcWork);
PLATFORM_SAME_FIELD(win::MONITORINFO, ::MONITORINFO, dwFlags);

PLATFORM_SAME_SIZE(win::INITCOMMONCONTROLSEX, ::INITCOMMONCONTROLSEX);
PLATFORM_SAME_FIELD(win::INITCOMMONCONTROLSEX, ::INITCOMMONCONTROLSEX, dwSize);
PLATFORM_SAME_FIELD(win::INITCOMMONCONTROLSEX, ::INITCOMMONCONTROLSEX, dwICC);

namespace {

::HICON Sdk(win::HICON icon) {
    return reinterpret_cast<::HICON>(icon);
}
::MSG* Sdk(win::MSG* message) {
    return reinterpret_cast<::MSG*>(message);
}
const ::MSG* Sdk(const win::MSG* message) {
    return reinterpret_cast<const ::MSG*>(message);
}

}  // namespace

// --- threads and events ----------------------------------------------------------------------

auto win::CreateThread(SECURITY_ATTRIBUTES* attributes, std::size_t stackSize,
                       THREAD_START_ROUTINE startAddress, void* parameter, DWORD creationFlags,
                       DWORD* threadId) -> HANDLE {
    // Same calling convention and argument; only the spelling of DWORD differs.
    return ::CreateThread(sdk(attributes), stackSize,
                          reinterpret_cast<LPTHREAD_START_ROUTINE>(startAddress), parameter,
                          creationFlags, sdk(threadId));
}
auto win::ResumeThread(HANDLE thread) -> DWORD {
    return ::ResumeThread(thread);
}
auto win::GetExitCodeThread(HANDLE thread, DWORD* exitCode) -> BOOL {
    return ::GetExitCodeThread(thread, sdk(exitCode));
}
auto win::WaitForSingleObject(HANDLE object, DWORD milliseconds) -> DWORD {
    return ::WaitForSingleObject(object, milliseconds);
}
auto win::CreateEventW(SECURITY_ATTRIBUTES* attributes, BOOL manualReset, BOOL initialState,
                       LPCWSTR name) -> HANDLE {
    return ::CreateEventW(sdk(attributes), manualReset, initialState, sdk(name));
}
auto win::SetEvent(HANDLE event) -> BOOL {
    return ::SetEvent(event);
}
auto win::ResetEvent(HANDLE event) -> BOOL {
    return ::ResetEvent(event);
}

// --- dialogs and their messages --------------------------------------------------------------

auto win::InitCommonControlsEx(const INITCOMMONCONTROLSEX* controls) -> BOOL {
    return ::InitCommonControlsEx(reinterpret_cast<const ::INITCOMMONCONTROLSEX*>(controls));
}
auto win::CreateDialogIndirectParamW(HINSTANCE instance, const DLGTEMPLATE* dialogTemplate,
                                     HWND parent, DLGPROC dialogProc, LPARAM initParam) -> HWND {
    return reinterpret_cast<HWND>(::CreateDialogIndirectParamW(
        reinterpret_cast<::HINSTANCE>(instance),
        reinterpret_cast<const ::DLGTEMPLATE*>(dialogTemplate), sdk(parent),
        reinterpret_cast<::DLGPROC>(dialogProc), initParam));
}
auto win::DestroyWindow(HWND window) -> BOOL {
    return ::DestroyWindow(sdk(window));
}
auto win::GetDlgItem(HWND dialog, int id) -> HWND {
    return reinterpret_cast<HWND>(::GetDlgItem(sdk(dialog), id));
}
auto win::SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) -> LRESULT {
    return ::SendMessageW(sdk(window), message, wParam, lParam);
}
auto win::SendDlgItemMessageW(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam)
    -> LRESULT {
    return ::SendDlgItemMessageW(sdk(dialog), id, message, wParam, lParam);
}
auto win::PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) -> BOOL {
    return ::PostMessageW(sdk(window), message, wParam, lParam);
}
auto win::GetMessageW(MSG* message, HWND window, UINT filterMin, UINT filterMax) -> BOOL {
    return ::GetMessageW(Sdk(message), sdk(window), filterMin, filterMax);
}
auto win::PeekMessageW(MSG* message, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags)
    -> BOOL {
    return ::PeekMessageW(Sdk(message), sdk(window), filterMin, filterMax, removeFlags);
}
auto win::TranslateMessage(const MSG* message) -> BOOL {
    return ::TranslateMessage(Sdk(message));
}
auto win::DispatchMessageW(const MSG* message) -> LRESULT {
    return ::DispatchMessageW(Sdk(message));
}
auto win::SetWindowTextW(HWND window, LPCWSTR text) -> BOOL {
    return ::SetWindowTextW(sdk(window), sdk(text));
}
auto win::SetDlgItemTextW(HWND dialog, int id, LPCWSTR text) -> BOOL {
    return ::SetDlgItemTextW(sdk(dialog), id, sdk(text));
}

// --- system menu, placement, icons and metrics -----------------------------------------------

auto win::GetSystemMenu(HWND window, BOOL revert) -> HMENU {
    return reinterpret_cast<HMENU>(::GetSystemMenu(sdk(window), revert));
}
auto win::EnableMenuItem(HMENU menu, UINT item, UINT enable) -> BOOL {
    return ::EnableMenuItem(reinterpret_cast<::HMENU>(menu), item, enable);
}
auto win::GetWindowRect(HWND window, RECT* rect) -> BOOL {
    return ::GetWindowRect(sdk(window), reinterpret_cast<::RECT*>(rect));
}
auto win::MonitorFromWindow(HWND window, DWORD flags) -> HMONITOR {
    return reinterpret_cast<HMONITOR>(::MonitorFromWindow(sdk(window), flags));
}
auto win::GetMonitorInfoW(HMONITOR monitor, MONITORINFO* info) -> BOOL {
    return ::GetMonitorInfoW(reinterpret_cast<::HMONITOR>(monitor),
                             reinterpret_cast<::MONITORINFO*>(info));
}
auto win::SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags)
    -> BOOL {
    return ::SetWindowPos(sdk(window), sdk(insertAfter), x, y, cx, cy, flags);
}
auto win::LoadImageW(HINSTANCE instance, LPCWSTR name, UINT type, int cx, int cy, UINT load)
    -> HANDLE {
    return ::LoadImageW(reinterpret_cast<::HINSTANCE>(instance), sdk(name), type, cx, cy, load);
}
auto win::DestroyIcon(HICON icon) -> BOOL {
    return ::DestroyIcon(Sdk(icon));
}
auto win::GetSystemMetrics(int index) -> int {
    return ::GetSystemMetrics(index);
}
