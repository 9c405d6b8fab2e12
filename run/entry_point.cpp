// The Unicode GUI entry point of the Windows program. Command-line arguments are ignored.
#include "platform/constants.h"
#include "run/run_driver.h"

namespace {

// The program runs elevated, often from a downloads folder: DLLs are only ever taken
// from the system folder where Windows lets us say so.
void RestrictDllSearchToSystemFolder() {
    const win::HMODULE kernel = win::GetModuleHandleW(u"kernel32.dll");
    if (kernel == nullptr) return;
    const auto restrict = reinterpret_cast<win::SetDefaultDllDirectoriesProc>(
        win::GetProcAddress(kernel, "SetDefaultDllDirectories"));
    if (restrict != nullptr) restrict(win::LOAD_LIBRARY_SEARCH_SYSTEM32);
}

}  // namespace

extern "C" int PLATFORM_API wWinMain(win::HINSTANCE instance, win::HINSTANCE, wchar_t*, int) {
    RestrictDllSearchToSystemFolder();
    return RunUpdate(instance);
}
