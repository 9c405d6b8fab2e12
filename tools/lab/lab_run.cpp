// lab_run: starts a program, operates its message boxes the way a person would (read, press
// OK) and reports what it saw and the program's full 32-bit exit code, which Wine cuts to
// 8 bits on its way to Linux.
//
//   lab_run.exe [--hold-mutex NAME] [--companion EXE] [--timeout SECONDS]
//               [--screenshot FILE.bmp] [--dialog-screenshot FILE.bmp] [--close-dialog]
//               [--verbose] [--] PROGRAM [ARGS...]
//
// --companion starts EXE before PROGRAM and ends it afterwards: another program running
// on the machine meanwhile.
//
// Output (UTF-8, one block per box, in order), then the exit line:
//   box.caption=...  box.text=...  box.icon=none|warning|error|information|unknown
//   box.buttons=OK,...           exit=0x%08X | exit=timeout
// A dialog that is not a message box (no buttons, e.g. a progress dialog) is reported once
// as dialog.caption=..., dialog.text=... and dialog.progress=marquee|bar|none, saved to the
// --dialog-screenshot file, and left alone, or closed with WM_CLOSE under --close-dialog
// (an operator closing it from outside).
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cwchar>
#include <set>
#include <string>
#include <vector>

namespace {

constexpr DWORD kPollMs = 100;
constexpr int kMessageTextId = 0xFFFF;
constexpr LONG_PTR kMarqueeStyle = 0x08;  // PBS_MARQUEE, without commctrl.h

struct Options {
    std::wstring mutexName;
    std::wstring companion;
    std::wstring screenshotFile;
    std::wstring dialogScreenshotFile;
    bool closeDialog = false;
    DWORD timeoutSeconds = 300;
    bool verbose = false;
    std::vector<std::wstring> command;
};

struct Child {
    HWND hwnd;
    std::wstring className;
    std::wstring text;
    LONG_PTR style;
    int id;
    bool visible;
    RECT screenRect;
};

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                   0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

// Raw bytes to the handle: no CRT text-mode translation, so lines end in LF under Wine too.
void WriteOut(HANDLE handle, const std::string& bytes) {
    DWORD written = 0;
    WriteFile(handle, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
}
void Out(const std::wstring& line) {
    WriteOut(GetStdHandle(STD_OUTPUT_HANDLE), ToUtf8(line) + "\n");
}
void Err(const std::wstring& line) {
    WriteOut(GetStdHandle(STD_ERROR_HANDLE), ToUtf8(line) + "\n");
}

// One box field per line: line breaks and the escape character itself must not survive raw.
std::wstring Escape(const std::wstring& text) {
    std::wstring out;
    for (wchar_t c : text) {
        if (c == L'\\')
            out += L"\\\\";
        else if (c == L'\n')
            out += L"\\n";
        else if (c == L'\r')
            out += L"\\r";
        else
            out += c;
    }
    return out;
}

std::wstring WindowText(HWND hwnd) {
    // Cross-process WM_GETTEXT; a hung target must not hang the operator.
    DWORD_PTR length = 0;
    if (!SendMessageTimeoutW(hwnd, WM_GETTEXTLENGTH, 0, 0, SMTO_ABORTIFHUNG, 2000, &length))
        return {};
    std::wstring text(length + 1, L'\0');
    DWORD_PTR copied = 0;
    SendMessageTimeoutW(hwnd, WM_GETTEXT, length + 1, reinterpret_cast<LPARAM>(text.data()),
                        SMTO_ABORTIFHUNG, 2000, &copied);
    text.resize(std::min<size_t>(copied, length));
    return text;
}

std::wstring ClassOf(HWND hwnd) {
    wchar_t name[256] = {};
    GetClassNameW(hwnd, name, 256);
    return name;
}

std::vector<Child> ChildrenOf(HWND parent) {
    std::vector<Child> children;
    for (HWND c = GetWindow(parent, GW_CHILD); c; c = GetWindow(c, GW_HWNDNEXT)) {
        Child child{};
        child.hwnd = c;
        child.className = ClassOf(c);
        child.text = WindowText(c);
        child.style = GetWindowLongPtrW(c, GWL_STYLE);
        child.id = GetDlgCtrlID(c);
        child.visible = IsWindowVisible(c) != FALSE;
        GetWindowRect(c, &child.screenRect);
        children.push_back(child);
    }
    return children;
}

bool IsClass(const Child& c, const wchar_t* name) {
    return _wcsicmp(c.className.c_str(), name) == 0;
}

std::wstring WithoutAmpersands(const std::wstring& text) {
    std::wstring out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == L'&') {
            if (i + 1 < text.size() && text[i + 1] == L'&')
                out += L'&', ++i;  // "&&" is a literal &
            continue;
        }
        out += text[i];
    }
    return out;
}

// Screen pixels of a rectangle as top-down 32-bit BGRA.
std::vector<RGBQUAD> CaptureScreen(const RECT& rect) {
    const int width = rect.right - rect.left;
    const int height = rect.bottom - rect.top;
    std::vector<RGBQUAD> pixels;
    if (width <= 0 || height <= 0) return pixels;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info{};
    info.bmiHeader.biSize = sizeof(info.bmiHeader);
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = -height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    info.bmiHeader.biCompression = BI_RGB;
    void* bits = nullptr;
    HBITMAP dib = CreateDIBSection(memory, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    if (dib && bits) {
        HGDIOBJ old = SelectObject(memory, dib);
        BitBlt(memory, 0, 0, width, height, screen, rect.left, rect.top, SRCCOPY | CAPTUREBLT);
        GdiFlush();
        const auto* first = static_cast<const RGBQUAD*>(bits);
        pixels.assign(first, first + static_cast<size_t>(width) * static_cast<size_t>(height));
        SelectObject(memory, old);
        DeleteObject(dib);
    }
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return pixels;
}

// The system icons differ by colour: the error icon is red, the warning icon yellow, the
// information (and question) icon blue. Only clearly coloured pixels vote, so the grey
// dialog background, white glyph parts and black outlines do not count.
std::wstring ClassifyIcon(const std::vector<RGBQUAD>& pixels) {
    size_t red = 0, yellow = 0, blue = 0, coloured = 0;
    for (const RGBQUAD& p : pixels) {
        const int r = p.rgbRed, g = p.rgbGreen, b = p.rgbBlue;
        const int high = std::max({r, g, b}), low = std::min({r, g, b});
        if (high < 80 || high - low < 80) continue;  // dark or greyish
        ++coloured;
        double hue;  // degrees
        if (high == r)
            hue = 60.0 * (g - b) / (high - low);
        else if (high == g)
            hue = 120.0 + 60.0 * (b - r) / (high - low);
        else
            hue = 240.0 + 60.0 * (r - g) / (high - low);
        if (hue < 0) hue += 360.0;
        if (hue < 18.0 || hue >= 330.0)
            ++red;
        else if (hue < 75.0)
            ++yellow;
        else if (hue >= 180.0 && hue < 270.0)
            ++blue;
    }
    if (pixels.empty() || coloured * 50 < pixels.size()) return L"none";  // a blank icon control
    const size_t best = std::max({red, yellow, blue});
    if (best * 2 < coloured) return L"unknown";
    if (best == red) return L"error";
    if (best == yellow) return L"warning";
    return L"information";
}

bool SaveBmp(const std::wstring& file, const std::vector<RGBQUAD>& pixels, int width, int height) {
    if (pixels.size() != static_cast<size_t>(width) * static_cast<size_t>(height)) return false;
    BITMAPINFOHEADER header{};
    header.biSize = sizeof(header);
    header.biWidth = width;
    header.biHeight = -height;  // top-down rows, as captured
    header.biPlanes = 1;
    header.biBitCount = 32;
    header.biCompression = BI_RGB;
    const DWORD imageBytes = static_cast<DWORD>(pixels.size() * sizeof(RGBQUAD));
    BITMAPFILEHEADER fileHeader{};
    fileHeader.bfType = 0x4D42;  // "BM"
    fileHeader.bfOffBits = sizeof(fileHeader) + sizeof(header);
    fileHeader.bfSize = fileHeader.bfOffBits + imageBytes;
    HANDLE out = CreateFileW(file.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (out == INVALID_HANDLE_VALUE) return false;
    DWORD written = 0;
    bool ok = WriteFile(out, &fileHeader, sizeof(fileHeader), &written, nullptr) &&
              WriteFile(out, &header, sizeof(header), &written, nullptr) &&
              WriteFile(out, pixels.data(), imageBytes, &written, nullptr);
    CloseHandle(out);
    return ok;
}

struct FindContext {
    DWORD processId;
    std::vector<HWND> dialogs;
};

BOOL CALLBACK CollectDialogs(HWND hwnd, LPARAM param) {
    auto* context = reinterpret_cast<FindContext*>(param);
    DWORD owner = 0;
    GetWindowThreadProcessId(hwnd, &owner);
    if (owner == context->processId && IsWindowVisible(hwnd) && ClassOf(hwnd) == L"#32770")
        context->dialogs.push_back(hwnd);
    return TRUE;
}

class Operator {
  public:
    explicit Operator(const Options& options) : options_(options) {}

    // Looks at the process's visible dialogs once; handles each box it has not seen before.
    void Poll(DWORD processId) {
        FindContext context{processId, {}};
        EnumWindows(CollectDialogs, reinterpret_cast<LPARAM>(&context));
        for (HWND dialog : context.dialogs) {
            if (handled_.count(dialog)) continue;
            auto children = ChildrenOf(dialog);
            bool hasButton = std::any_of(children.begin(), children.end(), [](const Child& c) {
                return c.visible && IsClass(c, L"Button");
            });
            if (options_.verbose && !reportedDialogs_.count(dialog)) Dump(dialog, children);
            if (hasButton) {
                OperateBox(dialog);
                handled_.insert(dialog);
            } else if (!reportedDialogs_.count(dialog)) {
                ReportDialog(dialog, children);
                reportedDialogs_.insert(dialog);
            }
        }
    }

  private:
    void Dump(HWND dialog, const std::vector<Child>& children) {
        RECT r{};
        GetWindowRect(dialog, &r);
        wchar_t line[512];
        swprintf(line, 512, L"[lab_run] dialog %p (%ld,%ld)-(%ld,%ld) '%ls'",
                 static_cast<void*>(dialog), r.left, r.top, r.right, r.bottom,
                 Escape(WindowText(dialog)).c_str());
        Err(line);
        for (const Child& c : children) {
            swprintf(line, 512,
                     L"[lab_run]   %ls id=0x%X style=0x%08lX visible=%d (%ld,%ld)-(%ld,%ld) '%ls'",
                     c.className.c_str(), static_cast<unsigned>(c.id) & 0xFFFFu,
                     static_cast<unsigned long>(c.style), c.visible ? 1 : 0, c.screenRect.left,
                     c.screenRect.top, c.screenRect.right, c.screenRect.bottom,
                     Escape(c.text).c_str());
            Err(line);
        }
    }

    void ReportDialog(HWND dialog, const std::vector<Child>& children) {
        std::wstring text;
        for (const Child& c : children) {
            if (c.visible && IsClass(c, L"Static") && !c.text.empty()) {
                text = c.text;
                break;
            }
        }
        std::wstring progress = L"none";
        for (const Child& c : children) {
            if (c.visible && _wcsicmp(c.className.c_str(), L"msctls_progress32") == 0)
                progress = (c.style & kMarqueeStyle) ? L"marquee" : L"bar";
        }
        Out(L"dialog.caption=" + Escape(WindowText(dialog)));
        Out(L"dialog.text=" + Escape(text));
        Out(L"dialog.progress=" + progress);
        if (options_.closeDialog) PostMessageW(dialog, WM_CLOSE, 0, 0);
        if (!options_.closeDialog && !options_.dialogScreenshotFile.empty()) {
            Sleep(300);  // let it paint
            RECT r{};
            GetWindowRect(dialog, &r);
            if (!SaveBmp(options_.dialogScreenshotFile, CaptureScreen(r), r.right - r.left,
                         r.bottom - r.top))
                Err(L"lab_run: cannot write screenshot " + options_.dialogScreenshotFile);
        }
    }

    void OperateBox(HWND box) {
        // Give the box time to paint itself before its pixels are read.
        Sleep(500);
        RedrawWindow(box, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW | RDW_ALLCHILDREN);
        Sleep(200);
        auto children = ChildrenOf(box);

        std::wstring text;
        std::vector<std::wstring> buttons;
        HWND okButton = nullptr;
        const Child* icon = nullptr;
        for (const Child& c : children) {
            if (IsClass(c, L"Static") && (c.id & 0xFFFF) == kMessageTextId) text = c.text;
            if (!c.visible) continue;
            if (IsClass(c, L"Button")) {
                buttons.push_back(WithoutAmpersands(c.text));
                if (c.id == IDOK || (!okButton && WithoutAmpersands(c.text) == L"OK"))
                    okButton = c.hwnd;
            }
            if (IsClass(c, L"Static") && (c.style & SS_TYPEMASK) == SS_ICON && !icon) icon = &c;
        }

        std::wstring iconKind = L"none";
        if (icon) {
            // A box still being drawn shows an empty control: look again before saying none
            // (an emulated 32-bit program can paint slowly).
            for (int attempt = 0; attempt < 15; ++attempt) {
                iconKind = ClassifyIcon(CaptureScreen(icon->screenRect));
                if (iconKind != L"none") break;
                Sleep(200);
            }
        }

        std::wstring joined;
        for (const std::wstring& b : buttons) joined += (joined.empty() ? L"" : L",") + b;

        if (!options_.screenshotFile.empty()) {
            RECT r{};
            GetWindowRect(box, &r);
            std::wstring file = options_.screenshotFile;
            if (++boxCount_ > 1) {  // later boxes get a numbered file next to the first
                const size_t dot = file.rfind(L'.');
                file.insert(dot == std::wstring::npos ? file.size() : dot,
                            L"-" + std::to_wstring(boxCount_));
            }
            if (!SaveBmp(file, CaptureScreen(r), r.right - r.left, r.bottom - r.top))
                Err(L"lab_run: cannot write screenshot " + file);
        }

        Out(L"box.caption=" + Escape(WindowText(box)));
        Out(L"box.text=" + Escape(text));
        Out(L"box.icon=" + iconKind);
        Out(L"box.buttons=" + joined);

        Press(box, okButton);
    }

    void Press(HWND box, HWND okButton) {
        const ULONGLONG start = GetTickCount64();
        // Posted, not sent: under Wine a sent BM_CLICK is answered only after the box has ended.
        if (okButton) PostMessageW(okButton, BM_CLICK, 0, 0);
        // A click that did not take (the box not active, say) is followed by the command itself.
        for (int i = 0; i < 20 && IsWindow(box) && IsWindowVisible(box); ++i) Sleep(kPollMs);
        const bool clicked = !IsWindow(box) || !IsWindowVisible(box);
        if (!clicked)
            PostMessageW(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED),
                         reinterpret_cast<LPARAM>(okButton));
        if (options_.verbose)
            Err(std::wstring(L"[lab_run] pressed OK ") +
                (clicked ? L"by BM_CLICK" : L"by WM_COMMAND") + L" after " +
                std::to_wstring(GetTickCount64() - start) + L" ms");
    }

    const Options& options_;
    std::set<HWND> handled_;
    std::set<HWND> reportedDialogs_;
    int boxCount_ = 0;
};

// Quotes one argument so that CommandLineToArgvW and the CRT give it back unchanged.
std::wstring QuoteArgument(const std::wstring& arg) {
    if (!arg.empty() && arg.find_first_of(L" \t\n\v\"") == std::wstring::npos) return arg;
    std::wstring out = L"\"";
    size_t backslashes = 0;
    for (wchar_t c : arg) {
        if (c == L'\\') {
            ++backslashes;
            continue;
        }
        if (c == L'"') backslashes = backslashes * 2 + 1;
        out.append(backslashes, L'\\');
        backslashes = 0;
        out += c;
    }
    out.append(backslashes * 2, L'\\');
    out += L'"';
    return out;
}

int Usage() {
    Err(L"usage: lab_run.exe [--hold-mutex NAME] [--companion EXE] [--timeout SECONDS] "
        L"[--screenshot FILE.bmp] [--dialog-screenshot FILE.bmp] [--close-dialog] [--verbose] "
        L"[--] PROGRAM [ARGS...]");
    return 2;
}

bool ParseOptions(int argc, wchar_t** argv, Options& options) {
    int i = 1;
    for (; i < argc; ++i) {
        std::wstring arg = argv[i];
        if (arg == L"--") {
            ++i;
            break;
        }
        if (arg == L"--verbose") {
            options.verbose = true;
        } else if (arg == L"--close-dialog") {
            options.closeDialog = true;
        } else if ((arg == L"--hold-mutex" || arg == L"--timeout" || arg == L"--screenshot" ||
                    arg == L"--dialog-screenshot" || arg == L"--companion") &&
                   i + 1 < argc) {
            std::wstring value = argv[++i];
            if (arg == L"--hold-mutex") {
                options.mutexName = value;
            } else if (arg == L"--companion") {
                options.companion = value;
            } else if (arg == L"--screenshot") {
                options.screenshotFile = value;
            } else if (arg == L"--dialog-screenshot") {
                options.dialogScreenshotFile = value;
            } else {
                wchar_t* end = nullptr;
                unsigned long seconds = wcstoul(value.c_str(), &end, 10);
                if (value.empty() || *end != L'\0' || seconds == 0) return false;
                options.timeoutSeconds = static_cast<DWORD>(seconds);
            }
        } else if (arg.rfind(L"--", 0) == 0) {
            return false;
        } else {
            break;
        }
    }
    for (; i < argc; ++i) options.command.push_back(argv[i]);
    return !options.command.empty();
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    Options options;
    if (!ParseOptions(argc, argv, options)) return Usage();

    // Held for the whole run, so that the program sees another run in progress.
    HANDLE mutex = nullptr;
    if (!options.mutexName.empty()) {
        mutex = CreateMutexW(nullptr, FALSE, options.mutexName.c_str());
        if (!mutex) {
            Err(L"lab_run: CreateMutexW failed, error " + std::to_wstring(GetLastError()));
            return 1;
        }
    }

    // Running before the program starts, so that its checks see it.
    PROCESS_INFORMATION companion{};
    if (!options.companion.empty()) {
        STARTUPINFOW companionStartup{};
        companionStartup.cb = sizeof(companionStartup);
        std::wstring companionLine = QuoteArgument(options.companion);
        if (!CreateProcessW(nullptr, companionLine.data(), nullptr, nullptr, FALSE, 0, nullptr,
                            nullptr, &companionStartup, &companion)) {
            Err(L"lab_run: cannot start " + options.companion + L", error " +
                std::to_wstring(GetLastError()));
            if (mutex) CloseHandle(mutex);
            return 1;
        }
        CloseHandle(companion.hThread);
        WaitForInputIdle(companion.hProcess, 2000);
    }

    std::wstring commandLine;
    for (const std::wstring& arg : options.command)
        commandLine += (commandLine.empty() ? L"" : L" ") + QuoteArgument(arg);
    STARTUPINFOW startup{};
    startup.cb = sizeof(startup);
    PROCESS_INFORMATION process{};
    if (!CreateProcessW(nullptr, commandLine.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                        &startup, &process)) {
        Err(L"lab_run: cannot start " + commandLine + L", error " +
            std::to_wstring(GetLastError()));
        if (companion.hProcess) TerminateProcess(companion.hProcess, 0);
        if (mutex) CloseHandle(mutex);
        return 1;
    }
    CloseHandle(process.hThread);

    Operator op(options);
    const ULONGLONG deadline = GetTickCount64() + ULONGLONG{options.timeoutSeconds} * 1000u;
    bool timedOut = false;
    for (;;) {
        if (WaitForSingleObject(process.hProcess, kPollMs) == WAIT_OBJECT_0) break;
        if (GetTickCount64() >= deadline) {
            timedOut = true;
            TerminateProcess(process.hProcess, 0xDEAD);
            WaitForSingleObject(process.hProcess, 10000);
            break;
        }
        op.Poll(process.dwProcessId);
    }

    if (timedOut) {
        Out(L"exit=timeout");
    } else {
        DWORD code = 0;
        GetExitCodeProcess(process.hProcess, &code);
        wchar_t line[32];
        swprintf(line, 32, L"exit=0x%08lX", static_cast<unsigned long>(code));
        Out(line);
    }
    CloseHandle(process.hProcess);
    if (companion.hProcess) {
        TerminateProcess(companion.hProcess, 0);
        WaitForSingleObject(companion.hProcess, 10000);
        CloseHandle(companion.hProcess);
    }
    if (mutex) CloseHandle(mutex);
    return 0;
}
