// The progress dialog of the patch process: modeless, from dialog resource 1000, with a
// status text and a marquee bar. It shows activity, not progress, and offers no way to
// cancel.
#pragma once

#include <atomic>

#include "platform/api.h"

class CPatchProcess;

// The process whose dialog is up. The dialog is created without a creation parameter, so
// its procedure reaches the caption, icons and visibility through this; it is cleared when
// that process takes its dialog down, so it never names a process that is gone.
extern std::atomic<CPatchProcess*> dialogOwner;

// Acts on WM_INITDIALOG only; every other message gets the default dialog handling.
win::INT_PTR PLATFORM_API ProgressDialogProc(win::HWND window, win::UINT message,
                                             win::WPARAM wParam, win::LPARAM lParam);
