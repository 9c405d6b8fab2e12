#include "engine/restart_session.h"

#include <memory>
#include <new>

#include "platform/constants.h"

namespace {

// The library from the system folder only: loading it by name would let a planted copy
// next to the program (often a downloads folder) run elevated.
win::HMODULE LoadRestartManager() {
    win::WCHAR folder[win::MAX_PATH + 1];
    const win::UINT length = win::GetSystemDirectoryW(folder, win::MAX_PATH + 1);
    if (length == 0 || length > win::MAX_PATH) return nullptr;
    std::u16string path(folder, length);
    if (path.back() != u'\\') path += u'\\';
    path += u"Rstrtmgr.dll";
    return win::LoadLibraryW(path.c_str());
}

// Looked up at the moment of use, so that a missing function only fails its own call.
template <class Function>
Function Bind(win::HMODULE library, const char* name) {
    if (library == nullptr) return nullptr;
    return reinterpret_cast<Function>(win::GetProcAddress(library, name));
}

constexpr win::DWORD kFunctionMissing = 1;

}  // namespace

void OpenRestartSession(RestartSession& session) {
    session.files.clear();
    session.needsRegistration = 1;
    session.sessionKey.fill(0);
    session.sessionHandle = 0;
    session.rmLibrary = nullptr;

    win::OSVERSIONINFOW version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (win::GetVersionExW(&version) && version.dwPlatformId == win::VER_PLATFORM_WIN32_NT &&
        version.dwMajorVersion > 5) {
        session.rmLibrary = LoadRestartManager();
    }
}

std::size_t SetSessionFiles(RestartSession& session, std::u16string_view joinedPaths) {
    session.files.clear();
    session.needsRegistration = 1;
    std::size_t start = 0;
    while (start <= joinedPaths.size()) {
        std::size_t end = joinedPaths.find(u';', start);
        if (end == std::u16string_view::npos) end = joinedPaths.size();
        if (end > start) {
            std::u16string path(joinedPaths.substr(start, end - start));
            if (win::PathFileExistsW(path.c_str())) session.files.push_back(std::move(path));
        }
        start = end + 1;
    }
    return session.files.size();
}

win::DWORD RegisterSessionFiles(RestartSession& session) {
    if (session.sessionHandle == 0) {
        const auto start = Bind<win::RmStartSessionProc>(session.rmLibrary, "RmStartSession");
        const win::DWORD result =
            start ? start(&session.sessionHandle, 0, session.sessionKey.data()) : kFunctionMissing;
        session.needsRegistration = 1;
        if (result != 0) return result;
    }
    win::DWORD result = 0;
    if (session.needsRegistration) {
        const std::unique_ptr<win::LPCWSTR[]> paths(new (std::nothrow)
                                                        win::LPCWSTR[session.files.size() + 1]);
        // Without the array nothing is registered, and the shutdown that follows has no
        // files to act on: the update goes on with the in-use replacement.
        if (!paths) return 0;
        for (std::size_t i = 0; i < session.files.size(); ++i) paths[i] = session.files[i].c_str();
        const auto registerFiles =
            Bind<win::RmRegisterResourcesProc>(session.rmLibrary, "RmRegisterResources");
        result = registerFiles ? registerFiles(session.sessionHandle,
                                               static_cast<win::UINT>(session.files.size()),
                                               paths.get(), 0, nullptr, 0, nullptr)
                               : kFunctionMissing;
        if (result == 0) session.needsRegistration = 0;
    }
    return result;
}

void ShutDownSessionApplications(const RestartSession& session) {
    if (const auto shutdown = Bind<win::RmShutdownProc>(session.rmLibrary, "RmShutdown"))
        shutdown(session.sessionHandle, win::RmForceShutdown, nullptr);
}

void RestartSessionApplications(const RestartSession& session) {
    if (session.sessionHandle == 0) return;
    if (const auto restart = Bind<win::RmRestartProc>(session.rmLibrary, "RmRestart"))
        restart(session.sessionHandle, 0, nullptr);
}

void CloseRestartSession(RestartSession& session) {
    session.needsRegistration = 1;
    if (session.sessionHandle != 0) {
        if (const auto end = Bind<win::RmEndSessionProc>(session.rmLibrary, "RmEndSession"))
            end(session.sessionHandle);
        session.sessionHandle = 0;
    }
    session.sessionKey.fill(0);
    if (session.rmLibrary != nullptr) win::FreeLibrary(session.rmLibrary);
    session.rmLibrary = nullptr;
    session.files.clear();
}
