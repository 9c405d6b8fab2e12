// The thin platform layer: one function per Windows call the program makes, with the
// arguments, results and last-error behaviour of the real call, on types of our own.
// Product code includes this header (and constants.h), never <windows.h>.
// Two back-ends implement it: win32/ forwards to Windows, sim/ serves a simulated machine.
#pragma once

#include <cstddef>
#include <cstdint>

// Functions obtained from GetProcAddress are called through pointers and must use the
// calling convention of the Windows API on 32-bit x86.
#if defined(_WIN32) && (defined(_M_IX86) || defined(__i386__))
#define PLATFORM_API __stdcall
#else
#define PLATFORM_API
#endif

namespace win {

using BYTE = std::uint8_t;
using WORD = std::uint16_t;
using DWORD = std::uint32_t;
using LONG = std::int32_t;
using BOOL = std::int32_t;
using UINT = std::uint32_t;
using HRESULT = std::int32_t;
using LSTATUS = LONG;
using REGSAM = DWORD;
using LANGID = WORD;
using WCHAR = char16_t;
using LPCWSTR = const WCHAR*;
using LPWSTR = WCHAR*;
using ULONG_PTR = std::uintptr_t;
using LONG_PTR = std::intptr_t;
using UINT_PTR = std::uintptr_t;
using WPARAM = UINT_PTR;
using LPARAM = LONG_PTR;
using LRESULT = LONG_PTR;

using HANDLE = void*;
struct HKEY__;
using HKEY = HKEY__*;
struct HINSTANCE__;
using HINSTANCE = HINSTANCE__*;
using HMODULE = HINSTANCE;
struct HRSRC__;
using HRSRC = HRSRC__*;
using HGLOBAL = void*;
struct HWND__;
using HWND = HWND__*;
using PSID = void*;
using FARPROC = void(PLATFORM_API*)();
using INT = int;
using LONGLONG = std::int64_t;

struct SECURITY_ATTRIBUTES {
    DWORD nLength;
    void* lpSecurityDescriptor;
    BOOL bInheritHandle;
};

struct FILETIME {
    DWORD dwLowDateTime;
    DWORD dwHighDateTime;
};

struct OSVERSIONINFOW {
    DWORD dwOSVersionInfoSize;
    DWORD dwMajorVersion;
    DWORD dwMinorVersion;
    DWORD dwBuildNumber;
    DWORD dwPlatformId;
    WCHAR szCSDVersion[128];
};

struct SYSTEM_INFO {
    WORD wProcessorArchitecture;
    WORD wReserved;
    DWORD dwPageSize;
    void* lpMinimumApplicationAddress;
    void* lpMaximumApplicationAddress;
    ULONG_PTR dwActiveProcessorMask;
    DWORD dwNumberOfProcessors;
    DWORD dwProcessorType;
    DWORD dwAllocationGranularity;
    WORD wProcessorLevel;
    WORD wProcessorRevision;
};

struct SID_IDENTIFIER_AUTHORITY {
    BYTE Value[6];
};

struct SID_AND_ATTRIBUTES {
    PSID Sid;
    DWORD Attributes;
};

struct TOKEN_GROUPS {
    DWORD GroupCount;
    SID_AND_ATTRIBUTES Groups[1];
};

struct PROCESSENTRY32W {
    DWORD dwSize;
    DWORD cntUsage;
    DWORD th32ProcessID;
    ULONG_PTR th32DefaultHeapID;
    DWORD th32ModuleID;
    DWORD cntThreads;
    DWORD th32ParentProcessID;
    LONG pcPriClassBase;
    DWORD dwFlags;
    WCHAR szExeFile[260];
};

struct VS_FIXEDFILEINFO {
    DWORD dwSignature;
    DWORD dwStrucVersion;
    DWORD dwFileVersionMS;
    DWORD dwFileVersionLS;
    DWORD dwProductVersionMS;
    DWORD dwProductVersionLS;
    DWORD dwFileFlagsMask;
    DWORD dwFileFlags;
    DWORD dwFileOS;
    DWORD dwFileType;
    DWORD dwFileSubtype;
    DWORD dwFileDateMS;
    DWORD dwFileDateLS;
};

struct SYSTEMTIME {
    WORD wYear;
    WORD wMonth;
    WORD wDayOfWeek;
    WORD wDay;
    WORD wHour;
    WORD wMinute;
    WORD wSecond;
    WORD wMilliseconds;
};

// The record of FileBasicInfo (information class 0); the times are FILETIME values.
struct FILE_BASIC_INFO {
    LONGLONG CreationTime;
    LONGLONG LastAccessTime;
    LONGLONG LastWriteTime;
    LONGLONG ChangeTime;
    DWORD FileAttributes;
};

// What LZOpenFileW fills in about the file it opened.
struct OFSTRUCT {
    BYTE cBytes;
    BYTE fFixedDisk;
    WORD nErrCode;
    WORD Reserved1;
    WORD Reserved2;
    char szPathName[128];
};

struct OVERLAPPED;

// Resource ids and types given as integers (MAKEINTRESOURCEW).
inline LPCWSTR MakeIntResource(WORD id) {
    return reinterpret_cast<LPCWSTR>(static_cast<ULONG_PTR>(id));
}

// --- errors -------------------------------------------------------------------------------
DWORD GetLastError();
void SetLastError(DWORD error);

// --- kernel objects, processes, system information -----------------------------------------
BOOL CloseHandle(HANDLE object);
HANDLE CreateMutexW(SECURITY_ATTRIBUTES* attributes, BOOL initialOwner, LPCWSTR name);
HANDLE GetCurrentProcess();
DWORD GetCurrentProcessId();
DWORD GetTickCount();
BOOL GetVersionExW(OSVERSIONINFOW* info);
void GetNativeSystemInfo(SYSTEM_INFO* info);

// --- modules and run-time binding -----------------------------------------------------------
HMODULE GetModuleHandleW(LPCWSTR moduleName);
HMODULE GetModuleHandleA(const char* moduleName);
FARPROC GetProcAddress(HMODULE module, const char* procName);
DWORD GetModuleFileNameW(HMODULE module, LPWSTR fileName, DWORD size);
HMODULE LoadLibraryW(LPCWSTR fileName);
BOOL FreeLibrary(HMODULE module);
UINT GetSystemDirectoryW(LPWSTR buffer, UINT size);

// Signatures of the functions the program binds at run time.
using IsWow64ProcessProc = BOOL(PLATFORM_API*)(HANDLE process, BOOL* wow64);
using RegDeleteKeyExWProc = LSTATUS(PLATFORM_API*)(HKEY key, LPCWSTR subKey, REGSAM view,
                                                   DWORD reserved);
using SetDefaultDllDirectoriesProc = BOOL(PLATFORM_API*)(DWORD flags);
using GetFileInformationByHandleExProc = BOOL(PLATFORM_API*)(HANDLE file, int infoClass,
                                                             void* info, DWORD size);
using SetFileInformationByHandleProc = BOOL(PLATFORM_API*)(HANDLE file, int infoClass,
                                                           void* info, DWORD size);
// Restart Manager (Rstrtmgr.dll); the callbacks and application records are never passed.
using RmStartSessionProc = DWORD(PLATFORM_API*)(DWORD* session, DWORD flags, WCHAR* sessionKey);
using RmRegisterResourcesProc = DWORD(PLATFORM_API*)(DWORD session, UINT fileCount,
                                                     LPCWSTR* files, UINT applicationCount,
                                                     void* applications, UINT serviceCount,
                                                     LPCWSTR* services);
using RmShutdownProc = DWORD(PLATFORM_API*)(DWORD session, std::uint32_t flags, void* callback);
using RmRestartProc = DWORD(PLATFORM_API*)(DWORD session, DWORD flags, void* callback);
using RmEndSessionProc = DWORD(PLATFORM_API*)(DWORD session);

// --- security -------------------------------------------------------------------------------
BOOL OpenProcessToken(HANDLE process, DWORD access, HANDLE* token);
BOOL GetTokenInformation(HANDLE token, int infoClass, void* info, DWORD length,
                         DWORD* returnLength);
BOOL AllocateAndInitializeSid(SID_IDENTIFIER_AUTHORITY* authority, BYTE subAuthorityCount,
                              DWORD sub0, DWORD sub1, DWORD sub2, DWORD sub3, DWORD sub4,
                              DWORD sub5, DWORD sub6, DWORD sub7, PSID* sid);
BOOL EqualSid(PSID sid1, PSID sid2);
void* FreeSid(PSID sid);

// --- process snapshot -----------------------------------------------------------------------
HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD processId);
BOOL Process32FirstW(HANDLE snapshot, PROCESSENTRY32W* entry);
BOOL Process32NextW(HANDLE snapshot, PROCESSENTRY32W* entry);

// --- registry -------------------------------------------------------------------------------
LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD options, REGSAM access, HKEY* result);
LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD reserved, LPWSTR keyClass, DWORD options,
                        REGSAM access, SECURITY_ATTRIBUTES* security, HKEY* result,
                        DWORD* disposition);
LSTATUS RegCloseKey(HKEY key);
LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, DWORD* reserved, DWORD* type, BYTE* data,
                         DWORD* dataSize);
LSTATUS RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD reserved, DWORD type, const BYTE* data,
                       DWORD dataSize);
LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, DWORD* nameLength, DWORD* reserved,
                      LPWSTR keyClass, DWORD* classLength, FILETIME* lastWriteTime);
LSTATUS RegDeleteKeyW(HKEY key, LPCWSTR subKey);

// --- resources of a module ------------------------------------------------------------------
HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type);
HRSRC FindResourceExW(HMODULE module, LPCWSTR type, LPCWSTR name, LANGID language);
HGLOBAL LoadResource(HMODULE module, HRSRC resource);
void* LockResource(HGLOBAL data);
DWORD SizeofResource(HMODULE module, HRSRC resource);

// --- windows --------------------------------------------------------------------------------
int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);

// --- files and their version information ----------------------------------------------------
DWORD GetFileAttributesW(LPCWSTR path);
BOOL SetFileAttributesW(LPCWSTR path, DWORD attributes);
HANDLE CreateFileW(LPCWSTR path, DWORD access, DWORD shareMode, SECURITY_ATTRIBUTES* security,
                   DWORD disposition, DWORD flagsAndAttributes, HANDLE templateFile);
BOOL ReadFile(HANDLE file, void* buffer, DWORD size, DWORD* read, OVERLAPPED* overlapped);
BOOL WriteFile(HANDLE file, const void* buffer, DWORD size, DWORD* written,
               OVERLAPPED* overlapped);
DWORD SetFilePointer(HANDLE file, LONG distance, LONG* distanceHigh, DWORD moveMethod);
BOOL SetEndOfFile(HANDLE file);
BOOL GetFileTime(HANDLE file, FILETIME* creation, FILETIME* lastAccess, FILETIME* lastWrite);
BOOL SetFileTime(HANDLE file, const FILETIME* creation, const FILETIME* lastAccess,
                 const FILETIME* lastWrite);
BOOL CopyFileW(LPCWSTR existing, LPCWSTR newName, BOOL failIfExists);
BOOL MoveFileW(LPCWSTR existing, LPCWSTR newName);
BOOL MoveFileExW(LPCWSTR existing, LPCWSTR newName, DWORD flags);
BOOL DeleteFileW(LPCWSTR path);
BOOL CreateDirectoryW(LPCWSTR path, SECURITY_ATTRIBUTES* security);
BOOL RemoveDirectoryW(LPCWSTR path);
DWORD GetTempPathW(DWORD size, LPWSTR buffer);
DWORD GetFileVersionInfoSizeW(LPCWSTR path, DWORD* handle);
BOOL GetFileVersionInfoW(LPCWSTR path, DWORD handle, DWORD length, void* data);
BOOL VerQueryValueW(const void* block, LPCWSTR subBlock, void** buffer, UINT* length);


// --- shell path and folder helpers (shell32, shlwapi) ---------------------------------------
int SHCreateDirectory(HWND owner, LPCWSTR path);
LPWSTR PathFindFileNameW(LPCWSTR path);
BOOL PathFileExistsW(LPCWSTR path);

// --- LZ expansion (lz32.dll, bound at run time from the system folder) ----------------------
INT LZOpenFileW(LPWSTR fileName, OFSTRUCT* reOpenBuffer, WORD style);
LONG LZCopy(INT source, INT destination);
void LZClose(INT file);

// --- time -----------------------------------------------------------------------------------
void GetLocalTime(SYSTEMTIME* time);
BOOL SystemTimeToFileTime(const SYSTEMTIME* systemTime, FILETIME* fileTime);

// --- threads, synchronisation, windows and dialogs ------------------------------------------

struct HICON__;
using HICON = HICON__*;
struct HMENU__;
using HMENU = HMENU__*;
struct HMONITOR__;
using HMONITOR = HMONITOR__*;
using INT_PTR = std::intptr_t;

struct POINT {
    LONG x;
    LONG y;
};

struct RECT {
    LONG left;
    LONG top;
    LONG right;
    LONG bottom;
};

struct MSG {
    HWND hwnd;
    UINT message;
    WPARAM wParam;
    LPARAM lParam;
    DWORD time;
    POINT pt;
};

struct MONITORINFO {
    DWORD cbSize;
    RECT rcMonitor;
    RECT rcWork;
    DWORD dwFlags;
};

struct INITCOMMONCONTROLSEX {
    DWORD dwSize;
    DWORD dwICC;
};

// A dialog template as a resource holds it (DLGTEMPLATE or DLGTEMPLATEEX); only passed on.
struct DLGTEMPLATE;

using THREAD_START_ROUTINE = DWORD(PLATFORM_API*)(void* parameter);
using DLGPROC = INT_PTR(PLATFORM_API*)(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Packs two 16-bit values the way MAKELPARAM and MAKEWPARAM do.
inline LPARAM MakeLParam(WORD low, WORD high) {
    return static_cast<LPARAM>(static_cast<DWORD>(low) | (static_cast<DWORD>(high) << 16));
}

HANDLE CreateThread(SECURITY_ATTRIBUTES* attributes, std::size_t stackSize,
                    THREAD_START_ROUTINE startAddress, void* parameter, DWORD creationFlags,
                    DWORD* threadId);
DWORD ResumeThread(HANDLE thread);
BOOL GetExitCodeThread(HANDLE thread, DWORD* exitCode);
DWORD WaitForSingleObject(HANDLE object, DWORD milliseconds);
HANDLE CreateEventW(SECURITY_ATTRIBUTES* attributes, BOOL manualReset, BOOL initialState,
                    LPCWSTR name);
BOOL SetEvent(HANDLE event);
BOOL ResetEvent(HANDLE event);

BOOL InitCommonControlsEx(const INITCOMMONCONTROLSEX* controls);
HWND CreateDialogIndirectParamW(HINSTANCE instance, const DLGTEMPLATE* dialogTemplate, HWND parent,
                                DLGPROC dialogProc, LPARAM initParam);
BOOL DestroyWindow(HWND window);
HWND GetDlgItem(HWND dialog, int id);
LRESULT SendMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
LRESULT SendDlgItemMessageW(HWND dialog, int id, UINT message, WPARAM wParam, LPARAM lParam);
BOOL PostMessageW(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
BOOL GetMessageW(MSG* message, HWND window, UINT filterMin, UINT filterMax);
BOOL PeekMessageW(MSG* message, HWND window, UINT filterMin, UINT filterMax, UINT removeFlags);
BOOL TranslateMessage(const MSG* message);
LRESULT DispatchMessageW(const MSG* message);
BOOL SetWindowTextW(HWND window, LPCWSTR text);
BOOL SetDlgItemTextW(HWND dialog, int id, LPCWSTR text);
HMENU GetSystemMenu(HWND window, BOOL revert);
BOOL EnableMenuItem(HMENU menu, UINT item, UINT enable);
BOOL GetWindowRect(HWND window, RECT* rect);
HMONITOR MonitorFromWindow(HWND window, DWORD flags);
BOOL GetMonitorInfoW(HMONITOR monitor, MONITORINFO* info);
BOOL SetWindowPos(HWND window, HWND insertAfter, int x, int y, int cx, int cy, UINT flags);
HANDLE LoadImageW(HINSTANCE instance, LPCWSTR name, UINT type, int cx, int cy, UINT load);
BOOL DestroyIcon(HICON icon);
int GetSystemMetrics(int index);

}  // namespace win
