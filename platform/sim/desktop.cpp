// Threads, events, windows and dialogs of the simulated machine.
#include "platform/sim/desktop.h"

#include <algorithm>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <system_error>

#include "platform/constants.h"
#include "platform/sim/call.h"
#include "platform/sim/resource_file.h"

namespace sim {
extern const unsigned char kModuleResources[];
extern const unsigned long kModuleResourcesSize;
}  // namespace sim

namespace sim {

bool Window::Received(win::UINT message) const {
    return std::any_of(received.begin(), received.end(),
                       [&](const WindowMessage& m) { return m.message == message; });
}

Window* Desktop::Find(win::HWND handle) {
    const auto found = windows.find(reinterpret_cast<std::uintptr_t>(handle));
    return found == windows.end() ? nullptr : &found->second;
}

const Window* Desktop::Find(win::HWND handle) const {
    const auto found = windows.find(reinterpret_cast<std::uintptr_t>(handle));
    return found == windows.end() ? nullptr : &found->second;
}

Window* Desktop::Control(win::HWND dialog, int id) {
    Window* parent = Find(dialog);
    if (parent == nullptr) return nullptr;
    for (win::HWND control : parent->controls) {
        Window* window = Find(control);
        if (window->id == id) return window;
    }
    return nullptr;
}

win::HWND Desktop::LastDialog() const {
    std::lock_guard<std::recursive_mutex> guard(machine.lock);
    return dialogs.empty() ? nullptr : dialogs.back();
}

std::size_t Desktop::RunningThreads() const {
    std::lock_guard<std::recursive_mutex> guard(machine.lock);
    return static_cast<std::size_t>(std::count_if(
        threads.begin(), threads.end(), [](const auto& thread) { return !thread->finished; }));
}

Desktop::~Desktop() {
    {
        std::lock_guard<std::recursive_mutex> guard(machine.lock);
        ending = true;
    }
    changed.notify_all();
    for (std::thread& thread : running) {
        if (thread.joinable()) thread.join();
    }
}

namespace {

// The machine's lock must already be held.
Desktop& DesktopOf(Machine& m) {
    if (!m.desktop) m.desktop = std::make_shared<Desktop>(m);
    return *m.desktop;
}

}  // namespace

Desktop& desktop() {
    Machine& m = machine();
    std::lock_guard<std::recursive_mutex> guard(m.lock);
    return DesktopOf(m);
}

}  // namespace sim

namespace win {

namespace {

using sim::Desktop;
using sim::Window;

std::string P(const void* pointer) {
    return sim::Arg(pointer);
}
template <class Function>
std::string Proc(Function function) {
    return sim::Arg(static_cast<unsigned long long>(reinterpret_cast<std::uintptr_t>(function)));
}
template <class Number>
std::string N(Number value) {
    return sim::Arg(static_cast<unsigned long long>(value));
}
std::string Args(std::initializer_list<std::string> parts) {
    std::string out;
    for (const std::string& part : parts) out += (out.empty() ? "" : ", ") + part;
    return out;
}

// Like sim::Call, but the lock can be let go while program code runs (a window or
// thread procedure) and while the call blocks.
class DesktopCall {
  public:
    DesktopCall(const char* function, std::string arguments)
        : machine_(sim::machine()),
          lock_(machine_.lock),
          function_(function),
          arguments_(std::move(arguments)),
          injected(machine_.Enter(function)) {}

    sim::Machine& machine() { return machine_; }
    Desktop& desktop() { return sim::DesktopOf(machine_); }

    template <class R>
    R Return(R result) {
        machine_.Log(function_, arguments_, sim::Result(result));
        return result;
    }
    template <class R>
    R Fail(R result, DWORD error) {
        sim::SetThreadError(error);
        machine_.Log(function_, arguments_,
                     sim::Result(result) + " error " + std::to_string(error));
        return result;
    }
    template <class R>
    R Pointer(R result) {
        machine_.Log(function_, arguments_, P(static_cast<const void*>(result)));
        return result;
    }

    template <class F>
    auto Unlocked(F&& run) {
        lock_.unlock();
        struct Relock {
            std::unique_lock<std::recursive_mutex>& lock;
            ~Relock() { lock.lock(); }
        } relock{lock_};
        return run();
    }
    template <class Ready>
    void Wait(Ready ready) {
        desktop().changed.wait(lock_, ready);
    }
    // A timed wait of simulated milliseconds; false when it ran out.
    template <class Ready>
    bool WaitFor(DWORD milliseconds, Ready ready) {
        const std::chrono::duration<double, std::milli> span(milliseconds *
                                                             desktop().timeScale.load());
        return desktop().changed.wait_for(lock_, span, ready);
    }

  private:
    sim::Machine& machine_;
    std::unique_lock<std::recursive_mutex> lock_;
    std::string function_;
    std::string arguments_;

  public:
    const std::optional<DWORD> injected;
};

// --- kernel objects --------------------------------------------------------------------------

struct EventObject : sim::KernelObject {
    bool manualReset = false;
    bool signalled = false;
};

struct ThreadObject : sim::KernelObject {
    explicit ThreadObject(std::shared_ptr<sim::SimThread> t) : thread(std::move(t)) {}
    std::shared_ptr<sim::SimThread> thread;
};

template <class Object>
std::shared_ptr<Object> Get(sim::Machine& m, HANDLE handle) {
    return std::dynamic_pointer_cast<Object>(m.FindHandle(handle));
}

// When a thread ends, Windows destroys its windows and its message queue.
void EndThread(Desktop& d, std::thread::id thread) {
    d.queues.erase(thread);
    for (auto& [handle, window] : d.windows) {
        if (window.thread == thread) {
            window.destroyed = true;
            window.visible = false;
        }
    }
}

// --- windows ---------------------------------------------------------------------------------

const std::u16string kDialogClass = u"#32770";
const std::u16string kProgressClass = u"msctls_progress32";

bool SameClass(const std::u16string& a, const std::u16string& b) {
    return !sim::Caseless{}(a, b) && !sim::Caseless{}(b, a);
}

bool IsProgressBar(const Window& window) {
    return SameClass(window.className, kProgressClass);
}

// A window that exists (not destroyed).
Window* Live(Desktop& d, HWND handle) {
    Window* window = d.Find(handle);
    return window != nullptr && !window->destroyed ? window : nullptr;
}

HMENU MenuOf(HWND window) {
    return reinterpret_cast<HMENU>(reinterpret_cast<std::uintptr_t>(window) + 0x100000);
}
HWND WindowOfMenu(HMENU menu) {
    return reinterpret_cast<HWND>(reinterpret_cast<std::uintptr_t>(menu) - 0x100000);
}

const HMONITOR kPrimaryMonitor = reinterpret_cast<HMONITOR>(std::uintptr_t{0x50001});

void ResetSystemMenu(Window& window) {
    window.systemMenu.clear();
    if (!(window.style & WS_SYSMENU)) return;
    window.systemMenu[SC_MOVE] = MF_ENABLED;
    window.systemMenu[SC_CLOSE] = MF_ENABLED;
    if (window.style & WS_THICKFRAME) window.systemMenu[SC_SIZE] = MF_ENABLED;
    if (window.style & WS_MINIMIZEBOX) window.systemMenu[SC_MINIMIZE] = MF_ENABLED;
    if (window.style & WS_MAXIMIZEBOX) window.systemMenu[SC_MAXIMIZE] = MF_ENABLED;
    if (window.style & (WS_MINIMIZEBOX | WS_MAXIMIZEBOX))
        window.systemMenu[SC_RESTORE] = MF_ENABLED;
}

// The messages of one thread's queue that pass a GetMessageW/PeekMessageW filter: the
// window or one of its controls (any window for none), and the message range.
bool Passes(const Desktop& d, const MSG& message, HWND filter, UINT low, UINT high) {
    if (!(low == 0 && high == 0) && (message.message < low || message.message > high)) return false;
    if (filter == nullptr || message.hwnd == filter) return true;
    const Window* window = d.Find(message.hwnd);
    return window != nullptr && window->parent == filter;
}

void Post(Desktop& d, Window& window, UINT message, WPARAM wParam, LPARAM lParam) {
    d.queues[window.thread].push_back(
        MSG{window.handle, message, wParam, lParam, d.machine.tickCount, POINT{0, 0}});
    d.posted.push_back({window.handle, message, wParam, lParam, std::this_thread::get_id()});
    d.changed.notify_all();
}

// What a dialog does with a message its procedure leaves to the default handling.
LRESULT DefaultDialogHandling(Desktop& d, Window& dialog, UINT message, WPARAM wParam,
                              LPARAM lParam) {
    if (message == WM_SETTEXT) {
        dialog.text = lParam ? reinterpret_cast<LPCWSTR>(lParam) : u"";
        return 1;
    }
    if (message == WM_SETICON) {
        HICON* slot = wParam == ICON_BIG     ? &dialog.bigIcon
                      : wParam == ICON_SMALL ? &dialog.smallIcon
                                             : nullptr;
        if (slot == nullptr) return 0;
        const HICON previous = *slot;
        *slot = reinterpret_cast<HICON>(lParam);
        return reinterpret_cast<LRESULT>(previous);
    }
    if (message == WM_CLOSE) {
        // The dialog manager turns Close into a click on the Cancel button, posted; with no
        // such button the click reaches the procedure all the same, and nothing closes
        // unless the procedure acts on it. A disabled Cancel button swallows it.
        Window* cancel = d.Control(dialog.handle, IDCANCEL);
        if (cancel == nullptr || cancel->destroyed || !(cancel->style & WS_DISABLED)) {
            Post(d, dialog, WM_COMMAND,
                 static_cast<WPARAM>(static_cast<DWORD>(IDCANCEL) | (BN_CLICKED << 16)),
                 reinterpret_cast<LPARAM>(cancel && !cancel->destroyed ? cancel->handle : nullptr));
        }
        return 0;
    }
    return 0;
}

LRESULT ControlHandling(Window& control, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_SETTEXT) {
        control.text = lParam ? reinterpret_cast<LPCWSTR>(lParam) : u"";
        return 1;
    }
    if (!IsProgressBar(control)) return 0;
    const auto clamp = [&](int value) {
        return std::clamp(value, control.rangeLow, std::max(control.rangeLow, control.rangeHigh));
    };
    if (message == PBM_SETRANGE) {
        const LRESULT previous =
            static_cast<LRESULT>(static_cast<DWORD>(control.rangeLow & 0xFFFF) |
                                 (static_cast<DWORD>(control.rangeHigh & 0xFFFF) << 16));
        control.rangeLow = static_cast<int>(lParam & 0xFFFF);
        control.rangeHigh = static_cast<int>((lParam >> 16) & 0xFFFF);
        control.position = clamp(control.position);
        return previous;
    }
    if (message == PBM_SETPOS) {
        const int previous = control.position;
        control.position = clamp(static_cast<int>(wParam));
        return previous;
    }
    if (message == PBM_GETPOS) return control.position;
    if (message == PBM_SETMARQUEE) {
        control.marquee = wParam != 0;
        return control.marquee ? 1 : 0;
    }
    return 0;
}

// Hands a message to a window of the calling thread: a dialog's procedure first, then the
// default handling; a control's own handling.
LRESULT Deliver(DesktopCall& call, Window& window, UINT message, WPARAM wParam, LPARAM lParam,
                bool posted) {
    window.received.push_back({message, wParam, lParam, posted});
    if (!window.IsDialog()) return ControlHandling(window, message, wParam, lParam);
    const DLGPROC procedure = window.dialogProc;
    const HWND handle = window.handle;
    const INT_PTR handled =
        procedure ? call.Unlocked([&] { return procedure(handle, message, wParam, lParam); }) : 0;
    if (handled != 0) return handled;
    return DefaultDialogHandling(call.desktop(), window, message, wParam, lParam);
}

// --- dialog templates ------------------------------------------------------------------------

struct TemplateItem {
    DWORD style = 0, exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    int id = 0;
    std::u16string className;
    std::u16string text;
};

struct DialogTemplate {
    DWORD style = 0, exStyle = 0;
    short x = 0, y = 0, cx = 0, cy = 0;
    bool customClass = false;
    std::u16string title;
    std::vector<TemplateItem> items;
};

// Reads a template as Windows does: trusting the layout, which the resource compiler made.
class TemplateReader {
  public:
    explicit TemplateReader(const void* data) : base_(static_cast<const BYTE*>(data)) {}
    WORD Word() { return Read<WORD>(); }
    DWORD Dword() { return Read<DWORD>(); }
    short Short() { return Read<short>(); }
    void AlignTo4() { at_ = (at_ + 3) & ~std::size_t{3}; }
    void Skip(std::size_t bytes) { at_ += bytes; }
    std::u16string Text() {
        std::u16string text;
        for (WCHAR c = Read<WCHAR>(); c != 0; c = Read<WCHAR>()) text += c;
        return text;
    }
    // A string or 0xFFFF and an ordinal; `ordinal` is 0 for a string (or for nothing).
    std::u16string TextOrOrdinal(WORD& ordinal) {
        ordinal = 0;
        const WORD first = Read<WORD>();
        if (first == 0) return {};
        if (first == 0xFFFF) {
            ordinal = Read<WORD>();
            return {};
        }
        at_ -= 2;
        return Text();
    }

  private:
    template <class T>
    T Read() {
        T value;
        std::memcpy(&value, base_ + at_, sizeof value);
        at_ += sizeof value;
        return value;
    }
    const BYTE* base_;
    std::size_t at_ = 0;
};

std::u16string PredefinedClass(WORD ordinal) {
    switch (ordinal) {
        case 0x80:
            return u"Button";
        case 0x81:
            return u"Edit";
        case 0x82:
            return u"Static";
        case 0x83:
            return u"ListBox";
        case 0x84:
            return u"ScrollBar";
        case 0x85:
            return u"ComboBox";
    }
    return {};
}

DialogTemplate ParseTemplate(const void* data) {
    TemplateReader in(data);
    DialogTemplate dialog;
    const WORD version = in.Word();
    const WORD signature = in.Word();
    const bool extended = version == 1 && signature == 0xFFFF;
    if (extended) {
        in.Dword();  // help id
        dialog.exStyle = in.Dword();
        dialog.style = in.Dword();
    } else {
        dialog.style = static_cast<DWORD>(version) | (static_cast<DWORD>(signature) << 16);
        dialog.exStyle = in.Dword();
    }
    const WORD count = in.Word();
    dialog.x = in.Short();
    dialog.y = in.Short();
    dialog.cx = in.Short();
    dialog.cy = in.Short();
    WORD ordinal = 0;
    in.TextOrOrdinal(ordinal);  // menu
    dialog.customClass = !in.TextOrOrdinal(ordinal).empty() || ordinal != 0;
    dialog.title = in.Text();
    if (dialog.style & DS_SETFONT) {
        in.Word();  // point size
        if (extended) {
            in.Word();   // weight
            in.Skip(2);  // italic, character set
        }
        in.Text();  // typeface
    }
    for (WORD i = 0; i < count; ++i) {
        in.AlignTo4();
        TemplateItem item;
        if (extended) {
            in.Dword();  // help id
            item.exStyle = in.Dword();
            item.style = in.Dword();
        } else {
            item.style = in.Dword();
            item.exStyle = in.Dword();
        }
        item.x = in.Short();
        item.y = in.Short();
        item.cx = in.Short();
        item.cy = in.Short();
        item.id = extended ? static_cast<int>(in.Dword()) : static_cast<int>(in.Word());
        item.className = in.TextOrOrdinal(ordinal);
        if (ordinal != 0) item.className = PredefinedClass(ordinal);
        item.text = in.TextOrOrdinal(ordinal);
        in.Skip(in.Word());  // creation data
        dialog.items.push_back(std::move(item));
    }
    return dialog;
}

bool ClassRegistered(const Desktop& d, const std::u16string& name) {
    for (const char16_t* always :
         {u"Button", u"Edit", u"Static", u"ListBox", u"ScrollBar", u"ComboBox"}) {
        if (SameClass(name, always)) return true;
    }
    return SameClass(name, kProgressClass) && (d.commonControls & ICC_PROGRESS_CLASS) != 0;
}

int MulDiv4(int value, int units, int divisor) {
    return (value * units + divisor / 2) / divisor;
}

// --- icons -----------------------------------------------------------------------------------

const std::vector<sim::ResourceEntry>& ModuleResources() {
    static const std::vector<sim::ResourceEntry> entries = sim::ParseResFile(
        std::span<const std::uint8_t>(sim::kModuleResources, sim::kModuleResourcesSize));
    return entries;
}

bool SameResourceName(const sim::ResourceId& id, LPCWSTR wanted) {
    const auto value = reinterpret_cast<std::uintptr_t>(wanted);
    if (value < 0x10000) return id.id == value && id.name.empty();
    return id.id == 0 && SameClass(id.name, wanted);
}

}  // namespace

// --- threads and events ----------------------------------------------------------------------

HANDLE CreateThread(SECURITY_ATTRIBUTES*, std::size_t, THREAD_START_ROUTINE startAddress,
                    void* parameter, DWORD creationFlags, DWORD* threadId) {
    DesktopCall call("CreateThread", Args({Proc(startAddress), P(parameter), N(creationFlags)}));
    if (call.injected) return call.Fail<HANDLE>(nullptr, *call.injected);
    if (startAddress == nullptr) return call.Fail<HANDLE>(nullptr, ERROR_INVALID_PARAMETER);
    sim::Machine& m = call.machine();
    Desktop& d = call.desktop();
    auto state = std::make_shared<sim::SimThread>();
    state->id = d.nextThreadId;
    state->suspendCount = (creationFlags & CREATE_SUSPENDED) ? 1 : 0;
    try {
        d.running.emplace_back([&m, &d, state, startAddress, parameter] {
            {
                std::unique_lock<std::recursive_mutex> lock(m.lock);
                d.changed.wait(lock, [&] { return state->suspendCount == 0 || d.ending; });
                if (state->suspendCount != 0) {  // the machine went away first
                    state->finished = true;
                    return;
                }
            }
            const DWORD code = startAddress(parameter);
            {
                std::lock_guard<std::recursive_mutex> lock(m.lock);
                state->exitCode = code;
                state->finished = true;
                EndThread(d, std::this_thread::get_id());
            }
            d.changed.notify_all();
        });
    } catch (const std::system_error&) {
        return call.Fail<HANDLE>(nullptr, ERROR_NOT_ENOUGH_MEMORY);
    }
    d.nextThreadId += 4;
    d.threads.push_back(state);
    if (threadId) *threadId = state->id;
    return call.Pointer(m.AddHandle(std::make_shared<ThreadObject>(state)));
}

DWORD ResumeThread(HANDLE thread) {
    DesktopCall call("ResumeThread", Args({P(thread)}));
    if (call.injected) return call.Fail<DWORD>(0xFFFFFFFFu, *call.injected);
    const auto object = Get<ThreadObject>(call.machine(), thread);
    if (!object) return call.Fail<DWORD>(0xFFFFFFFFu, ERROR_INVALID_HANDLE);
    const int previous = object->thread->suspendCount;
    if (previous > 0) --object->thread->suspendCount;
    call.desktop().changed.notify_all();
    return call.Return(static_cast<DWORD>(previous));
}

BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode) {
    DesktopCall call("GetExitCodeThread", Args({P(thread)}));
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    const auto object = Get<ThreadObject>(call.machine(), thread);
    if (!object) return call.Fail<BOOL>(0, ERROR_INVALID_HANDLE);
    if (exitCode == nullptr) return call.Fail<BOOL>(0, ERROR_INVALID_PARAMETER);
    *exitCode = object->thread->finished ? object->thread->exitCode : STILL_ACTIVE;
    return call.Return<BOOL>(1);
}

DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds) {
    DesktopCall call("WaitForSingleObject", Args({P(object), N(milliseconds)}));
    if (call.injected) return call.Fail<DWORD>(WAIT_FAILED, *call.injected);
    const auto event = Get<EventObject>(call.machine(), object);
    const auto thread = Get<ThreadObject>(call.machine(), object);
    if (!event && !thread) return call.Fail<DWORD>(WAIT_FAILED, ERROR_INVALID_HANDLE);
    const auto signalled = [&] { return event ? event->signalled : thread->thread->finished; };
    if (milliseconds == INFINITE) {
        call.Wait(signalled);
    } else if (!call.WaitFor(milliseconds, signalled)) {
        return call.Return(WAIT_TIMEOUT);
    }
    if (event && !event->manualReset) event->signalled = false;
    return call.Return(WAIT_OBJECT_0);
}

HANDLE CreateEventW(SECURITY_ATTRIBUTES*, BOOL manualReset, BOOL initialState, LPCWSTR name) {
    DesktopCall call("CreateEventW",
                     Args({sim::Arg(manualReset), sim::Arg(initialState), sim::Arg(name)}));
    if (call.injected) return call.Fail<HANDLE>(nullptr, *call.injected);
    auto event = std::make_shared<EventObject>();
    event->manualReset = manualReset != 0;
    event->signalled = initialState != 0;
    sim::SetThreadError(ERROR_SUCCESS);
    return call.Pointer(call.machine().AddHandle(event));
}

BOOL SetEvent(HANDLE event) {
    DesktopCall call("SetEvent", Args({P(event)}));
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    const auto object = Get<EventObject>(call.machine(), event);
    if (!object) return call.Fail<BOOL>(0, ERROR_INVALID_HANDLE);
    object->signalled = true;
    call.desktop().changed.notify_all();
    return call.Return<BOOL>(1);
}

BOOL ResetEvent(HANDLE event) {
    DesktopCall call("ResetEvent", Args({P(event)}));
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    const auto object = Get<EventObject>(call.machine(), event);
    if (!object) return call.Fail<BOOL>(0, ERROR_INVALID_HANDLE);
    object->signalled = false;
    return call.Return<BOOL>(1);
}

// --- dialogs and their messages --------------------------------------------------------------

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* controls) {
    DesktopCall call("InitCommonControlsEx", Args({controls ? N(controls->dwSize) : "null",
                                                   controls ? N(controls->dwICC) : "null"}));
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    if (controls == nullptr || controls->dwSize != sizeof(INITCOMMONCONTROLSEX))
        return call.Return<BOOL>(0);
    call.desktop().commonControls |= controls->dwICC;
    return call.Return<BOOL>(1);
}

HWND CreateDialogIndirectParamW(HINSTANCE instance, const DLGTEMPLATE* dialogTemplate, HWND parent,
                                DLGPROC dialogProc, LPARAM initParam) {
    DesktopCall call("CreateDialogIndirectParamW", Args({P(instance), P(dialogTemplate), P(parent),
                                                         Proc(dialogProc), N(initParam)}));
    if (call.injected) return call.Fail<HWND>(nullptr, *call.injected);
    if (dialogTemplate == nullptr) return call.Fail<HWND>(nullptr, ERROR_INVALID_PARAMETER);
    Desktop& d = call.desktop();
    if (parent != nullptr && Live(d, parent) == nullptr)
        return call.Fail<HWND>(nullptr, ERROR_INVALID_WINDOW_HANDLE);
    const DialogTemplate parsed = ParseTemplate(dialogTemplate);
    if (parsed.customClass) return call.Fail<HWND>(nullptr, ERROR_CANNOT_FIND_WND_CLASS);
    for (const TemplateItem& item : parsed.items) {
        if (!ClassRegistered(d, item.className))
            return call.Fail<HWND>(nullptr, ERROR_CANNOT_FIND_WND_CLASS);
    }

    const auto newHandle = [&d] {
        const HWND handle = reinterpret_cast<HWND>(d.nextWindow);
        d.nextWindow += 4;
        return handle;
    };
    const HWND handle = newHandle();
    Window& dialog = d.windows[reinterpret_cast<std::uintptr_t>(handle)];
    dialog.handle = handle;
    dialog.thread = std::this_thread::get_id();
    dialog.className = kDialogClass;
    dialog.text = parsed.title;
    dialog.style = parsed.style & ~WS_VISIBLE;
    dialog.exStyle = parsed.exStyle;
    dialog.dialogProc = dialogProc;
    const int left = MulDiv4(parsed.x, d.baseUnitX, 4);
    const int top = MulDiv4(parsed.y, d.baseUnitY, 8);
    const int width = MulDiv4(parsed.cx, d.baseUnitX, 4) + 2 * d.frameSize;
    const int height = MulDiv4(parsed.cy, d.baseUnitY, 8) + 2 * d.frameSize +
                       ((parsed.style & WS_CAPTION) == WS_CAPTION ? d.captionHeight : 0);
    dialog.rect = RECT{left, top, left + width, top + height};
    ResetSystemMenu(dialog);
    HWND focus = nullptr;
    for (const TemplateItem& item : parsed.items) {
        const HWND controlHandle = newHandle();
        Window& control = d.windows[reinterpret_cast<std::uintptr_t>(controlHandle)];
        control.handle = controlHandle;
        control.parent = handle;
        control.thread = dialog.thread;
        control.className = item.className;
        control.text = item.text;
        control.id = item.id;
        control.style = item.style;
        control.exStyle = item.exStyle;
        control.visible = (item.style & WS_VISIBLE) != 0;
        const int x = MulDiv4(item.x, d.baseUnitX, 4), y = MulDiv4(item.y, d.baseUnitY, 8);
        control.rect =
            RECT{x, y, x + MulDiv4(item.cx, d.baseUnitX, 4), y + MulDiv4(item.cy, d.baseUnitY, 8)};
        dialog.controls.push_back(controlHandle);
        if (focus == nullptr) focus = controlHandle;
    }
    d.dialogs.push_back(handle);

    // WM_INITDIALOG reaches the procedure before the call returns, as on Windows.
    Deliver(call, dialog, WM_INITDIALOG, reinterpret_cast<WPARAM>(focus), initParam, false);
    if (dialog.destroyed) return call.Pointer<HWND>(nullptr);
    if (parsed.style & WS_VISIBLE) {
        dialog.visible = true;
        dialog.style |= WS_VISIBLE;
    }
    return call.Pointer(handle);
}

BOOL DestroyWindow(HWND window) {
    DesktopCall call("DestroyWindow", Args({P(window)}));
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    Desktop& d = call.desktop();
    Window* target = Live(d, window);
    if (target == nullptr) return call.Fail<BOOL>(0, ERROR_INVALID_WINDOW_HANDLE);
    if (target->thread != std::this_thread::get_id())
        return call.Fail<BOOL>(0, ERROR_ACCESS_DENIED);
    target->visible = false;
    Deliver(call, *target, WM_DESTROY, 0, 0, false);
    std::vector<HWND> gone = target->controls;
    gone.push_back(window);
    for (HWND handle : gone) {
        Window* w = d.Find(handle);
        w->destroyed = true;
        w->visible = false;
    }
    // Messages still queued for it are dropped with it.
    std::erase_if(d.queues[target->thread], [&](const MSG& message) {
        return std::find(gone.begin(), gone.end(), message.hwnd) != gone.end();
    });
    return call.Return<BOOL>(1);
}

HWND GetDlgItem(HWND dialog, int id) {
    DesktopCall call("GetDlgItem", Args({P(dialog), sim::Arg(id)}));
    if (call.injected) return call.Fail<HWND>(nullptr, *call.injected);
    Desktop& d = call.desktop();
    if (Live(d, dialog) == nullptr) return call.Fail<HWND>(nullptr, ERROR_INVALID_WINDOW_HANDLE);
    Window* control = d.Control(dialog, id);
    if (control == nullptr || control->destroyed)
        return call.Fail<HWND>(nullptr, ERROR_CONTROL_ID_NOT_FOUND);
    return call.Pointer(control->handle);
}

namespace {

// Sends to a window of the calling thread. A send to another thread's window would wait
// for that thread to take it; the program never does that, and the sim does not offer it.
template <class Result>
Result SendTo(DesktopCall& call, Window* window, UINT message, WPARAM wParam, LPARAM lParam,
              Result failed) {
    if (window == nullptr) return call.Fail<Result>(failed, ERROR_INVALID_WINDOW_HANDLE);
    if (window->thread != std::this_thread::get_id())
        return call.Fail<Result>(failed, ERROR_CALL_NOT_IMPLEMENTED);
    return call.Return(static_cast<Result>(Deliver(call, *window, message, wParam, lParam, false)));
}

}  // namespace

LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DesktopCall call("SendMessageW", Args({P(window), N(message), N(wParam), N(lParam)}));
    if (call.injected) return call.Fail<LRESULT>(0, *call.injected);
    return SendTo<LRESULT>(call, Live(call.desktop(), window), message, wParam, lParam, 0);
}

LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam) {
    DesktopCall call("SendDlgItemMessageW",
                     Args({P(dialog), sim::Arg(id), N(message), N(wParam), N(lParam)}));
    if (call.injected) return call.Fail<LRESULT>(0, *call.injected);
    Desktop& d = call.desktop();
    if (Live(d, dialog) == nullptr) return call.Fail<LRESULT>(0, ERROR_INVALID_WINDOW_HANDLE);
    Window* control = d.Control(dialog, id);
    if (control == nullptr || control->destroyed)
        return call.Fail<LRESULT>(0, ERROR_CONTROL_ID_NOT_FOUND);
    return SendTo<LRESULT>(call, control, message, wParam, lParam, 0);
}

BOOL SetWindowTextW(HWND window, LPCWSTR text) {
    DesktopCall call("SetWindowTextW", Args({P(window), sim::Arg(text)}));
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    return SendTo<BOOL>(call, Live(call.desktop(), window), WM_SETTEXT, 0,
                        reinterpret_cast<LPARAM>(text), 0);
}

BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text) {
    DesktopCall call("SetDlgItemTextW", Args({P(dialog), sim::Arg(id), sim::Arg(text)}));
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    Desktop& d = call.desktop();
    if (Live(d, dialog) == nullptr) return call.Fail<BOOL>(0, ERROR_INVALID_WINDOW_HANDLE);
    Window* control = d.Control(dialog, id);
    if (control == nullptr || control->destroyed)
        return call.Fail<BOOL>(0, ERROR_CONTROL_ID_NOT_FOUND);
    return SendTo<BOOL>(call, control, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text), 0);
}

BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    DesktopCall call("PostMessageW", Args({P(window), N(message), N(wParam), N(lParam)}));
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    Desktop& d = call.desktop();
    if (window == nullptr) {  // a message for the calling thread itself
        d.queues[std::this_thread::get_id()].push_back(
            MSG{nullptr, message, wParam, lParam, d.machine.tickCount, POINT{0, 0}});
        d.posted.push_back({nullptr, message, wParam, lParam, std::this_thread::get_id()});
        d.changed.notify_all();
        return call.Return<BOOL>(1);
    }
    Window* target = Live(d, window);
    if (target == nullptr) return call.Fail<BOOL>(0, ERROR_INVALID_WINDOW_HANDLE);
    Post(d, *target, message, wParam, lParam);
    return call.Return<BOOL>(1);
}

namespace {

// The first message of the calling thread's queue that passes the filter.
std::deque<MSG>::iterator NextMessage(Desktop& d, HWND filter, UINT low, UINT high) {
    std::deque<MSG>& queue = d.queues[std::this_thread::get_id()];
    return std::find_if(queue.begin(), queue.end(),
                        [&](const MSG& m) { return Passes(d, m, filter, low, high); });
}

}  // namespace

BOOL GetMessageW(MSG* message, HWND window, UINT filterMin, UINT filterMax) {
    DesktopCall call("GetMessageW", Args({P(window), N(filterMin), N(filterMax)}));
    if (call.injected) return call.Fail<BOOL>(-1, *call.injected);
    Desktop& d = call.desktop();
    if (window != nullptr && Live(d, window) == nullptr)
        return call.Fail<BOOL>(-1, ERROR_INVALID_WINDOW_HANDLE);
    if (message == nullptr) return call.Fail<BOOL>(-1, ERROR_INVALID_PARAMETER);
    std::deque<MSG>& queue = d.queues[std::this_thread::get_id()];
    call.Wait([&] { return NextMessage(d, window, filterMin, filterMax) != queue.end(); });
    const auto next = NextMessage(d, window, filterMin, filterMax);
    *message = *next;
    queue.erase(next);
    return call.Return<BOOL>(message->message == WM_QUIT ? 0 : 1);
}

BOOL PeekMessageW(MSG* message, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags) {
    DesktopCall call("PeekMessageW", Args({P(window), N(filterMin), N(filterMax), N(removeFlags)}));
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    Desktop& d = call.desktop();
    if (window != nullptr && Live(d, window) == nullptr)
        return call.Fail<BOOL>(0, ERROR_INVALID_WINDOW_HANDLE);
    if (message == nullptr) return call.Fail<BOOL>(0, ERROR_INVALID_PARAMETER);
    const auto next = NextMessage(d, window, filterMin, filterMax);
    if (next == d.queues[std::this_thread::get_id()].end()) return call.Return<BOOL>(0);
    *message = *next;
    if (removeFlags & PM_REMOVE) d.queues[std::this_thread::get_id()].erase(next);
    return call.Return<BOOL>(1);
}

BOOL TranslateMessage(const MSG* message) {
    DesktopCall call("TranslateMessage", Args({message ? N(message->message) : "null"}));
    // Only key messages are translated; the sim has no keyboard.
    return call.Return<BOOL>(0);
}

LRESULT DispatchMessageW(const MSG* message) {
    DesktopCall call("DispatchMessageW", Args({message ? P(message->hwnd) : "null",
                                               message ? N(message->message) : "null"}));
    if (call.injected) return call.Fail<LRESULT>(0, *call.injected);
    if (message == nullptr) return call.Fail<LRESULT>(0, ERROR_INVALID_PARAMETER);
    if (message->hwnd == nullptr) return call.Return<LRESULT>(0);  // thread messages stay
    Window* target = Live(call.desktop(), message->hwnd);
    if (target == nullptr) return call.Fail<LRESULT>(0, ERROR_INVALID_WINDOW_HANDLE);
    if (target->thread != std::this_thread::get_id())
        return call.Fail<LRESULT>(0, ERROR_ACCESS_DENIED);
    return call.Return(
        Deliver(call, *target, message->message, message->wParam, message->lParam, true));
}

// --- system menu, placement ------------------------------------------------------------------

HMENU GetSystemMenu(HWND window, BOOL revert) {
    DesktopCall call("GetSystemMenu", Args({P(window), sim::Arg(revert)}));
    if (call.injected) return call.Fail<HMENU>(nullptr, *call.injected);
    Window* target = Live(call.desktop(), window);
    if (target == nullptr) return call.Fail<HMENU>(nullptr, ERROR_INVALID_WINDOW_HANDLE);
    if (revert) {
        ResetSystemMenu(*target);
        return call.Pointer<HMENU>(nullptr);
    }
    if (target->systemMenu.empty()) return call.Pointer<HMENU>(nullptr);
    return call.Pointer(MenuOf(window));
}

BOOL EnableMenuItem(HMENU menu, UINT item, UINT enable) {
    DesktopCall call("EnableMenuItem", Args({P(menu), N(item), N(enable)}));
    if (call.injected) return call.Fail<BOOL>(-1, *call.injected);
    Window* owner = menu ? Live(call.desktop(), WindowOfMenu(menu)) : nullptr;
    if (owner == nullptr || owner->systemMenu.empty())
        return call.Fail<BOOL>(-1, ERROR_INVALID_MENU_HANDLE);
    constexpr UINT kByPosition = 0x400;
    if (enable & kByPosition) return call.Return<BOOL>(-1);  // not offered: by command only
    const auto found = owner->systemMenu.find(item);
    if (found == owner->systemMenu.end()) return call.Return<BOOL>(-1);
    const UINT previous = found->second;
    found->second = enable & (MF_GRAYED | MF_DISABLED);
    return call.Return(static_cast<BOOL>(previous));
}

BOOL GetWindowRect(HWND window, RECT* rect) {
    DesktopCall call("GetWindowRect", Args({P(window)}));
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    Desktop& d = call.desktop();
    Window* target = Live(d, window);
    if (target == nullptr) return call.Fail<BOOL>(0, ERROR_INVALID_WINDOW_HANDLE);
    if (rect == nullptr) return call.Fail<BOOL>(0, ERROR_INVALID_PARAMETER);
    *rect = target->rect;
    if (const Window* dialog = target->parent ? d.Find(target->parent) : nullptr) {
        const LONG x = dialog->rect.left + d.frameSize;
        const LONG y = dialog->rect.top + d.frameSize +
                       ((dialog->style & WS_CAPTION) == WS_CAPTION ? d.captionHeight : 0);
        *rect = RECT{rect->left + x, rect->top + y, rect->right + x, rect->bottom + y};
    }
    return call.Return<BOOL>(1);
}

HMONITOR MonitorFromWindow(HWND window, DWORD flags) {
    DesktopCall call("MonitorFromWindow", Args({P(window), N(flags)}));
    if (call.injected) return call.Fail<HMONITOR>(nullptr, *call.injected);
    Desktop& d = call.desktop();
    Window* target = Live(d, window);
    if (target == nullptr) return call.Fail<HMONITOR>(nullptr, ERROR_INVALID_WINDOW_HANDLE);
    const RECT& r = target->rect;
    const bool onMonitor = r.left < d.monitor.right && r.right > d.monitor.left &&
                           r.top < d.monitor.bottom && r.bottom > d.monitor.top;
    if (!onMonitor && flags == MONITOR_DEFAULTTONULL) return call.Pointer<HMONITOR>(nullptr);
    return call.Pointer(kPrimaryMonitor);
}

BOOL GetMonitorInfoW(HMONITOR monitor, MONITORINFO* info) {
    DesktopCall call("GetMonitorInfoW",
                     Args({P(monitor), info ? N(info->cbSize) : std::string("null")}));
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    if (monitor != kPrimaryMonitor) return call.Fail<BOOL>(0, ERROR_INVALID_MONITOR_HANDLE);
    constexpr DWORD kExtendedSize = 104;  // MONITORINFOEXW: this record and a device name
    if (info == nullptr || (info->cbSize != sizeof(MONITORINFO) && info->cbSize != kExtendedSize))
        return call.Fail<BOOL>(0, ERROR_INVALID_PARAMETER);
    const Desktop& d = call.desktop();
    info->rcMonitor = d.monitor;
    info->rcWork = d.workArea;
    info->dwFlags = MONITORINFOF_PRIMARY;
    if (info->cbSize == kExtendedSize) {
        const char16_t device[] = u"\\\\.\\DISPLAY1";
        std::memcpy(reinterpret_cast<BYTE*>(info) + sizeof(MONITORINFO), device, sizeof device);
    }
    return call.Return<BOOL>(1);
}

BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags) {
    DesktopCall call("SetWindowPos", Args({P(window), P(insertAfter), sim::Arg(x), sim::Arg(y),
                                           sim::Arg(cx), sim::Arg(cy), N(flags)}));
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    Window* target = Live(call.desktop(), window);
    if (target == nullptr) return call.Fail<BOOL>(0, ERROR_INVALID_WINDOW_HANDLE);
    target->positions.push_back({insertAfter, x, y, cx, cy, flags});
    RECT& r = target->rect;
    if (!(flags & SWP_NOMOVE)) {
        r = RECT{x, y, x + (r.right - r.left), y + (r.bottom - r.top)};
    }
    if (!(flags & SWP_NOSIZE)) {
        r.right = r.left + cx;
        r.bottom = r.top + cy;
    }
    if (flags & SWP_SHOWWINDOW) {
        target->visible = true;
        target->style |= WS_VISIBLE;
    } else if (flags & SWP_HIDEWINDOW) {
        target->visible = false;
        target->style &= ~WS_VISIBLE;
    }
    return call.Return<BOOL>(1);
}

// --- icons and metrics -----------------------------------------------------------------------

HANDLE LoadImageW(HINSTANCE instance, LPCWSTR name, UINT type, int cx, int cy, UINT load) {
    DesktopCall call("LoadImageW", Args({P(instance), sim::Arg(name), N(type), sim::Arg(cx),
                                         sim::Arg(cy), N(load)}));
    if (call.injected) return call.Fail<HANDLE>(nullptr, *call.injected);
    if (type != IMAGE_ICON) return call.Fail<HANDLE>(nullptr, ERROR_INVALID_PARAMETER);
    // No module means the system's own (OEM) images, which the program does not use.
    if (reinterpret_cast<std::uintptr_t>(instance) != 0x00400000)
        return call.Fail<HANDLE>(nullptr, ERROR_RESOURCE_DATA_NOT_FOUND);
    const sim::ResourceEntry* group = nullptr;
    for (const sim::ResourceEntry& entry : ModuleResources()) {
        if (entry.type.id == RT_GROUP_ICON && SameResourceName(entry.name, name)) group = &entry;
    }
    if (group == nullptr) return call.Fail<HANDLE>(nullptr, ERROR_RESOURCE_NAME_NOT_FOUND);
    // GRPICONDIR: reserved, type, count; then 14-byte entries (width, height, ..., id).
    const auto& bytes = group->data;
    const std::size_t count = bytes.size() >= 6 ? (bytes[4] | (bytes[5] << 8)) : 0;
    sim::Icon icon{0, 0, cx, cy, false};
    int bestDistance = 1 << 30;
    for (std::size_t i = 0; i < count && 6 + 14 * (i + 1) <= bytes.size(); ++i) {
        const std::size_t at = 6 + 14 * i;
        const int width = bytes[at] == 0 ? 256 : bytes[at];
        const int distance = std::abs(width - (cx == 0 ? width : cx));
        if (distance < bestDistance) {
            bestDistance = distance;
            icon.imageId = static_cast<WORD>(bytes[at + 12] | (bytes[at + 13] << 8));
            if (cx == 0) icon.cx = icon.cy = width;
        }
    }
    if (icon.imageId == 0) return call.Fail<HANDLE>(nullptr, ERROR_RESOURCE_DATA_NOT_FOUND);
    icon.groupId = group->name.id;
    Desktop& d = call.desktop();
    const HANDLE handle = reinterpret_cast<HANDLE>(d.nextIcon);
    d.nextIcon += 4;
    d.icons[reinterpret_cast<std::uintptr_t>(handle)] = icon;
    return call.Pointer(handle);
}

BOOL DestroyIcon(HICON icon) {
    DesktopCall call("DestroyIcon", Args({P(icon)}));
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    auto& icons = call.desktop().icons;
    const auto found = icons.find(reinterpret_cast<std::uintptr_t>(icon));
    if (found == icons.end() || found->second.destroyed)
        return call.Fail<BOOL>(0, ERROR_INVALID_CURSOR_HANDLE);
    found->second.destroyed = true;
    return call.Return<BOOL>(1);
}

int GetSystemMetrics(int index) {
    DesktopCall call("GetSystemMetrics", Args({sim::Arg(index)}));
    if (call.injected) return call.Return(0);  // it has no error code: 0 is the failure
    const Desktop& d = call.desktop();
    if (index == SM_CXICON || index == SM_CYICON) return call.Return(d.iconSize);
    if (index == SM_CXSMICON || index == SM_CYSMICON) return call.Return(d.smallIconSize);
    if (index == SM_CXSCREEN) return call.Return<int>(d.monitor.right - d.monitor.left);
    if (index == SM_CYSCREEN) return call.Return<int>(d.monitor.bottom - d.monitor.top);
    return call.Return(0);
}

}  // namespace win
