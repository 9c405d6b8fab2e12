// Functions of the simulated system libraries that the program finds only through
// GetProcAddress; system.cpp lists them in the export table.
#pragma once

#include "platform/api.h"

namespace sim {

win::BOOL PLATFORM_API GetFileInformationByHandleEx(win::HANDLE file, int infoClass, void* info,
                                                    win::DWORD size);
win::BOOL PLATFORM_API SetFileInformationByHandle(win::HANDLE file, int infoClass, void* info,
                                                  win::DWORD size);

win::DWORD PLATFORM_API RmStartSession(win::DWORD* session, win::DWORD flags,
                                       win::WCHAR* sessionKey);
win::DWORD PLATFORM_API RmRegisterResources(win::DWORD session, win::UINT fileCount,
                                            win::LPCWSTR* files, win::UINT applicationCount,
                                            void* applications, win::UINT serviceCount,
                                            win::LPCWSTR* services);
win::DWORD PLATFORM_API RmShutdown(win::DWORD session, std::uint32_t flags, void* callback);
win::DWORD PLATFORM_API RmRestart(win::DWORD session, win::DWORD flags, void* callback);
win::DWORD PLATFORM_API RmEndSession(win::DWORD session);

}  // namespace sim
