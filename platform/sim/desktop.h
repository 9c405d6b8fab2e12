// Threads, events, windows and dialogs of the simulated machine. Threads are real threads;
// every thread has its own message queue, and a window's messages go to the queue of the
// thread that created it, as on Windows. Dialogs are built from their templates and run
// their dialog procedure; the controls keep what they were sent for tests to read back.
//
// All state is guarded by the machine's lock; the blocking calls (waits, GetMessageW) wait
// on `changed` with the lock released, and window and thread procedures always run
// without it, so they may call back into the machine from any thread.
#pragma once

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "platform/sim/machine.h"

namespace sim {

struct WindowMessage {
    win::UINT message = 0;
    win::WPARAM wParam = 0;
    win::LPARAM lParam = 0;
    bool posted = false;  // came through the queue (DispatchMessageW), not SendMessageW
};

struct WindowPosition {
    win::HWND insertAfter = nullptr;
    int x = 0, y = 0, cx = 0, cy = 0;
    win::UINT flags = 0;
};

struct Window {
    win::HWND handle = nullptr;
    win::HWND parent = nullptr;  // the dialog, for one of its controls
    std::thread::id thread;      // its creator, whose queue receives its messages
    std::u16string className;    // "#32770" for a dialog; a control's as its template names it
    std::u16string text;
    int id = 0;  // a control's id
    win::DWORD style = 0, exStyle = 0;
    win::RECT rect{};  // screen coordinates for a dialog, its client's for a control
    bool visible = false;
    bool destroyed = false;
    win::DLGPROC dialogProc = nullptr;
    std::vector<win::HWND> controls;
    std::map<win::UINT, win::UINT> systemMenu;  // SC_ item -> MF_ENABLED, MF_GRAYED, ...
    win::HICON bigIcon = nullptr, smallIcon = nullptr;
    std::vector<WindowMessage> received;    // every message that reached it, in order
    std::vector<WindowPosition> positions;  // every SetWindowPos
    // A progress bar's state.
    int rangeLow = 0, rangeHigh = 100, position = 0;
    bool marquee = false;

    bool IsDialog() const { return className == u"#32770"; }
    bool Received(win::UINT message) const;
};

struct PostedMessage {
    win::HWND window = nullptr;
    win::UINT message = 0;
    win::WPARAM wParam = 0;
    win::LPARAM lParam = 0;
    std::thread::id from;
};

struct Icon {
    win::WORD groupId = 0;  // the RT_GROUP_ICON resource
    win::WORD imageId = 0;  // the RT_ICON image of the group that fits best
    int cx = 0, cy = 0;     // the size asked for
    bool destroyed = false;
};

// A thread made by CreateThread.
struct SimThread {
    win::DWORD id = 0;
    int suspendCount = 0;
    bool finished = false;
    win::DWORD exitCode = 259;  // STILL_ACTIVE
};

struct Desktop {
    explicit Desktop(Machine& owner) : machine(owner) {}
    ~Desktop();  // lets suspended threads go without running and waits for every thread
    Desktop(const Desktop&) = delete;
    Desktop& operator=(const Desktop&) = delete;

    // --- set up by tests ------------------------------------------------------------------
    win::RECT monitor{0, 0, 1024, 768};  // the one (primary) monitor
    win::RECT workArea{0, 0, 1024, 728};
    int iconSize = 32, smallIconSize = 16;  // SM_CXICON, SM_CXSMICON (and the CY ones)
    int baseUnitX = 6, baseUnitY = 13;      // dialog base units of the dialog font
    int frameSize = 3, captionHeight = 20;  // a dialog's frame on each side, its title bar
    // Real milliseconds a timed wait of one simulated millisecond takes: 0.001 makes a
    // 10-second timeout run out in 10 ms. Waits without a time limit are not affected.
    std::atomic<double> timeScale{1.0};

    // --- observation (read them once the threads of interest have ended) -----------------
    std::map<std::uintptr_t, Window> windows;         // every window ever created, by handle
    std::vector<win::HWND> dialogs;                   // in the order they were created
    std::vector<PostedMessage> posted;                // every PostMessageW that succeeded
    std::map<std::uintptr_t, Icon> icons;             // every icon loaded, by handle
    win::DWORD commonControls = 0;                    // ICC_ classes registered so far
    std::vector<std::shared_ptr<SimThread>> threads;  // every thread created

    Window* Find(win::HWND handle);
    const Window* Find(win::HWND handle) const;
    Window* Control(win::HWND dialog, int id);
    // Thread-safe, for a test acting from another thread while the program runs.
    win::HWND LastDialog() const;
    std::size_t RunningThreads() const;

    // --- used by the back-end ---------------------------------------------------------------
    Machine& machine;
    std::condition_variable_any changed;  // any thread, event, queue or window change
    bool ending = false;
    std::map<std::thread::id, std::deque<win::MSG>> queues;
    std::vector<std::thread> running;  // the real threads behind `threads`
    std::uintptr_t nextWindow = 0x20000, nextIcon = 0x30000;
    win::DWORD nextThreadId = 0x500;
};

// The desktop of the current machine, created on first use.
Desktop& desktop();

}  // namespace sim
