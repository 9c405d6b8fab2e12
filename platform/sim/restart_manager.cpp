// Restart Manager of the simulated machine: sessions with their registered files and the
// shutdown and restart requests, kept for tests to inspect. Reached only through the
// addresses GetProcAddress gives for the loaded Rstrtmgr.dll.
#include <algorithm>

#include "platform/constants.h"
#include "platform/sim/call.h"
#include "platform/sim/kernel_exports.h"

namespace sim {

namespace {

// An open session by its handle; ended sessions no longer count.
RestartManager::Session* OpenSession(Machine& m, win::DWORD handle) {
    const auto found = m.restartManager.sessions.find(handle);
    if (found == m.restartManager.sessions.end() || found->second.ended) return nullptr;
    return &found->second;
}

}  // namespace

// Restart Manager reports errors as results; an injected failure is returned the same way.
win::DWORD PLATFORM_API RmStartSession(win::DWORD* session, win::DWORD flags,
                                       win::WCHAR* sessionKey) {
    Call call("RmStartSession", Args(flags));
    if (call.injected) return call.Return(*call.injected);
    if (session == nullptr || sessionKey == nullptr)
        return call.Return(win::ERROR_INVALID_PARAMETER);
    RestartManager& rm = call.machine().restartManager;
    const win::DWORD handle = rm.nextSession++;
    char key[33];
    std::snprintf(key, sizeof key, "%032x", 0x5e55u + handle);
    RestartManager::Session& created = rm.sessions[handle];
    created.key = Widen(key);
    std::copy(created.key.begin(), created.key.end(), sessionKey);
    sessionKey[created.key.size()] = 0;
    *session = handle;
    return call.Return(win::ERROR_SUCCESS);
}

win::DWORD PLATFORM_API RmRegisterResources(win::DWORD session, win::UINT fileCount,
                                            win::LPCWSTR* files, win::UINT applicationCount,
                                            void* applications, win::UINT serviceCount,
                                            win::LPCWSTR* services) {
    Call call("RmRegisterResources", Args(session, fileCount, applicationCount, applications,
                                          serviceCount, static_cast<const void*>(services)));
    if (call.injected) return call.Return(*call.injected);
    RestartManager::Session* open = OpenSession(call.machine(), session);
    if (open == nullptr) return call.Return(win::ERROR_INVALID_HANDLE);
    if ((fileCount != 0 && files == nullptr) || (applicationCount != 0 && !applications) ||
        (serviceCount != 0 && services == nullptr))
        return call.Return(win::ERROR_INVALID_PARAMETER);
    for (win::UINT i = 0; i < fileCount; ++i) open->files.emplace_back(files[i]);
    ++open->registrations;
    return call.Return(win::ERROR_SUCCESS);
}

win::DWORD PLATFORM_API RmShutdown(win::DWORD session, std::uint32_t flags, void* callback) {
    Call call("RmShutdown", Args(session, static_cast<win::DWORD>(flags), callback));
    if (call.injected) return call.Return(*call.injected);
    RestartManager::Session* open = OpenSession(call.machine(), session);
    if (open == nullptr) return call.Return(win::ERROR_INVALID_HANDLE);
    open->shutDown = true;
    return call.Return(win::ERROR_SUCCESS);
}

win::DWORD PLATFORM_API RmRestart(win::DWORD session, win::DWORD flags, void* callback) {
    Call call("RmRestart", Args(session, flags, callback));
    if (call.injected) return call.Return(*call.injected);
    RestartManager::Session* open = OpenSession(call.machine(), session);
    if (open == nullptr) return call.Return(win::ERROR_INVALID_HANDLE);
    open->restarted = true;
    return call.Return(win::ERROR_SUCCESS);
}

win::DWORD PLATFORM_API RmEndSession(win::DWORD session) {
    Call call("RmEndSession", Args(session));
    if (call.injected) return call.Return(*call.injected);
    RestartManager::Session* open = OpenSession(call.machine(), session);
    if (open == nullptr) return call.Return(win::ERROR_INVALID_HANDLE);
    open->ended = true;
    return call.Return(win::ERROR_SUCCESS);
}

}  // namespace sim
