// The Restart Manager state of one run: which target files were registered, the session,
// and the optional library. Restart Manager never decides the outcome of an update: files
// that stay in use are replaced under an in-use name instead.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/api.h"

struct RestartSession {
    std::vector<std::u16string> files;  // existing targets, in work-list order
    std::uint8_t needsRegistration = 1;
    std::array<win::WCHAR, 33> sessionKey{};
    win::DWORD sessionHandle = 0;  // 0: no session
    win::HMODULE rmLibrary = nullptr;
};

// Resets the state and, on Windows NT 6 and later, loads Rstrtmgr.dll from the system folder.
void OpenRestartSession(RestartSession& session);

// Keeps those of the ";"-separated paths that exist; returns how many were kept.
std::size_t SetSessionFiles(RestartSession& session, std::u16string_view joinedPaths);

// Starts a session if there is none and registers the files; 0 or a Win32 error code
// (1 when a function of the library cannot be found).
win::DWORD RegisterSessionFiles(RestartSession& session);

// Asks the applications using the registered files to close, by force if they do not.
void ShutDownSessionApplications(const RestartSession& session);
// Asks Restart Manager to start the applications it shut down again.
void RestartSessionApplications(const RestartSession& session);

// Ends the session, unloads the library and forgets the files.
void CloseRestartSession(RestartSession& session);
