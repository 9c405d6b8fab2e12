// The simulated Windows machine behind the sim back-end of the platform layer: tests set
// it up, inject failures into any call, and read back what the program did.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "platform/api.h"

namespace sim {

// Registry views as a 32-bit program on this machine sees them.
enum class View { Default, Wow32, Wow64 };

struct RegValue {
    win::DWORD type = 0;
    std::vector<std::uint8_t> data;
};

struct RegKey;
using RegKeyPtr = std::shared_ptr<RegKey>;

struct Caseless {
    bool operator()(const std::u16string& a, const std::u16string& b) const;
};

struct RegKey {
    std::u16string name;
    RegKey* parent = nullptr;
    bool deleted = false;
    std::map<std::u16string, RegKeyPtr, Caseless> subkeys;
    std::map<std::u16string, RegValue, Caseless> values;
};

struct TokenGroup {
    std::vector<std::uint8_t> sid;
    win::DWORD attributes = 0;
};

struct Process {
    win::DWORD pid = 0;
    std::u16string exeName;
};

// File times as FILETIME values: 100 ns units since 1601-01-01 UTC.
struct FileTimes {
    std::uint64_t creation = 0, lastAccess = 0, lastWrite = 0, change = 0;
};

struct File {
    std::vector<std::uint8_t> bytes;
    win::DWORD attributes = win::DWORD{0x20};  // FILE_ATTRIBUTE_ARCHIVE
    FileTimes times;
};

// A file held open by another process: it takes part in sharing checks like any handle
// (a running program's loaded library is open for reading and execution, without
// write sharing but with delete sharing, so it can be renamed but not overwritten).
struct ForeignOpen {
    std::u16string path;  // normalized
    win::DWORD access = 0;
    win::DWORD shareMode = 0;
};

// A file the program holds open through a CreateFileW handle. The handle owns it; the
// machine keeps a weak reference so that sharing checks and renames find every open.
struct FileOpen {
    std::u16string path;    // normalized; follows the file when it is renamed
    win::DWORD access = 0;  // specific file rights (generic rights mapped)
    win::DWORD shareMode = 0;
    std::shared_ptr<File> unlinked;  // the contents, once the name was deleted under it
};

// An entry of the list Windows works through at the next restart (MoveFileExW with
// MOVEFILE_DELAY_UNTIL_REBOOT); an empty destination deletes the source.
struct PendingRename {
    std::u16string source;
    std::u16string destination;
};

// The Restart Manager of the machine, as far as the program uses it.
struct RestartManager {
    bool installed = true;  // Rstrtmgr.dll exists in the system folder
    struct Session {
        std::u16string key;
        std::vector<std::u16string> files;
        int registrations = 0;
        bool shutDown = false;
        bool restarted = false;
        bool ended = false;
    };
    std::map<win::DWORD, Session> sessions;  // by handle, kept after the end for inspection
    win::DWORD nextSession = 1;
};

struct MessageBoxShown {
    win::HWND owner;
    std::u16string text;
    std::u16string caption;
    win::UINT style;
};

struct CallRecord {
    std::string function;
    std::string arguments;
    std::string result;
};

struct Failure {
    std::string function;
    win::DWORD error;
    int occurrence;  // 1 = first call, 2 = second, ...; 0 = every call
};

// A kernel object behind a handle.
struct KernelObject {
    virtual ~KernelObject() = default;
};

class Machine {
  public:
    Machine();

    // --- the machine as set up by a test ------------------------------------------------
    win::DWORD processorType = 8664;  // PROCESSOR_AMD_X8664
    win::DWORD platformId = 2;        // VER_PLATFORM_WIN32_NT
    win::DWORD majorVersion = 6, minorVersion = 1, buildNumber = 7601;
    win::DWORD processId = 4242;
    win::DWORD tickCount = 123456789;
    win::LANGID uiLanguage = 1033;
    std::vector<TokenGroup> tokenGroups;    // default: Everyone, Users, enabled Administrators
    std::vector<Process> processes;         // the program itself and a few system processes
    std::set<std::string> absentFunctions;  // "RegDeleteKeyExW": GetProcAddress finds nothing
    std::u16string modulePath = u"C:\\Users\\Admin\\Downloads\\ReelwrightUpdate.exe";
    std::u16string tempPath = u"C:\\Users\\Admin\\AppData\\Local\\Temp\\";
    std::u16string systemDirectory = u"C:\\Windows\\system32";
    win::SYSTEMTIME localTime = {2026, 12, 5, 11, 9, 7, 3, 0};  // what GetLocalTime reads
    std::uint64_t systemTime = 0x01DA0000'00000000;  // stamped on files the program writes
    RestartManager restartManager;

    bool Is64Bit() const { return processorType == 8664 || processorType == 2200; }
    static std::vector<std::uint8_t> MakeSid(std::uint8_t authority,
                                             std::vector<win::DWORD> subAuthorities);
    void SetAdministratorGroup(win::DWORD attributes);  // replaces the Administrators entry
    void StartProcess(const std::u16string& exeName);
    void HoldMutexElsewhere(const std::u16string& name);  // another process holds it

    // Registry under HKEY_LOCAL_MACHINE (root "HKLM") or HKEY_CLASSES_ROOT ("HKCR"); paths
    // under HKLM\Software land where the view puts them for a 32-bit program.
    void SetValue(View view, const std::u16string& path, const std::u16string& name,
                  win::DWORD type, std::vector<std::uint8_t> data);
    void SetString(View view, const std::u16string& path, const std::u16string& name,
                   const std::u16string& text);  // REG_SZ with the NUL counted
    void SetDword(View view, const std::u16string& path, const std::u16string& name,
                  win::DWORD value);
    void CreateKey(View view, const std::u16string& path);
    void DeleteKey(View view, const std::u16string& path);  // with everything below it
    std::optional<RegValue> GetValue(View view, const std::u16string& path,
                                     const std::u16string& name) const;
    std::optional<std::u16string> GetString(View view, const std::u16string& path,
                                            const std::u16string& name) const;
    bool KeyExists(View view, const std::u16string& path) const;

    // Files and directories by Windows path (drive, UNC or \\?\ forms).
    void AddDirectory(const std::u16string& path);
    void AddFile(const std::u16string& path, std::vector<std::uint8_t> bytes,
                 win::DWORD attributes = 0x20);
    void DeleteFolder(const std::u16string& path);  // with everything in it
    const File* FindFile(const std::u16string& path) const;
    File* FindFile(const std::u16string& path);
    bool DirectoryExists(const std::u16string& path) const;
    // Another process opens the file with this access and sharing until ReleaseFile.
    void HoldFileElsewhere(const std::u16string& path, win::DWORD access, win::DWORD shareMode);
    void ReleaseFile(const std::u16string& path);
    std::vector<ForeignOpen> foreignOpens;
    std::vector<PendingRename> pendingRenames;  // sources and destinations normalized
    std::vector<std::weak_ptr<FileOpen>> fileOpens;

    // Used by the file calls of the back-end; paths in any form unless said otherwise.
    // File rights that a CreateFileW access mask asks for, generic rights mapped.
    static win::DWORD FileRights(win::DWORD access);
    // Whether an open with this access and sharing may join the opens the file has now
    // (the program's handles and those elsewhere), by the rules Windows applies.
    bool SharingAllows(const std::u16string& path, win::DWORD access, win::DWORD shareMode) const;
    std::shared_ptr<FileOpen> OpenFile(const std::u16string& path, win::DWORD access,
                                       win::DWORD shareMode);
    File* FileOf(const FileOpen& open);
    // The error for a missing file: ERROR_PATH_NOT_FOUND when its folder is missing too.
    win::DWORD NotFoundError(const std::u16string& path) const;
    static std::u16string ParentFolder(const std::u16string& normalized);
    bool ParentExists(const std::u16string& path) const;
    bool HasChildren(const std::u16string& folder) const;
    // Renames a file or a folder with everything in it; opens go along.
    void RenamePath(const std::u16string& from, const std::u16string& to);
    // Removes a file's name; handles that still have it open keep its contents.
    void UnlinkFile(const std::u16string& path);
    // Attributes once `requested` is set: bits that cannot be set stay as they were, and
    // FILE_ATTRIBUTE_NORMAL alone clears the others.
    static win::DWORD ChangedAttributes(win::DWORD current, win::DWORD requested);

    // --- failure injection and observation ------------------------------------------------
    void Fail(const std::string& function, win::DWORD error, int occurrence = 0);
    std::vector<MessageBoxShown> messageBoxes;
    std::vector<CallRecord> calls;
    std::size_t CountCalls(const std::string& function) const;
    std::vector<CallRecord> CallsTo(const std::string& function) const;

    // --- used by the back-end ----------------------------------------------------------------
    std::recursive_mutex lock;
    // Counts the call; the injected error when this occurrence is to fail.
    std::optional<win::DWORD> Enter(const std::string& function);
    void Log(std::string function, std::string arguments, std::string result);

    win::HANDLE AddHandle(std::shared_ptr<KernelObject> object);
    std::shared_ptr<KernelObject> FindHandle(win::HANDLE handle) const;
    bool CloseHandle(win::HANDLE handle);

    RegKeyPtr hklm;
    RegKeyPtr classes;  // HKEY_CLASSES_ROOT: HKLM\Software\Classes
    RegKeyPtr Resolve(const RegKeyPtr& parent, bool parentIsMachineRoot, View view,
                      const std::u16string& path, bool create, bool* created = nullptr) const;
    std::map<std::uintptr_t, std::pair<RegKeyPtr, win::REGSAM>> keyHandles;
    std::uintptr_t nextKeyHandle = 0x1000;

    std::map<std::u16string, int> mutexRefs;  // name -> open handles plus holders elsewhere

    static std::u16string NormalizePath(const std::u16string& path);
    std::map<std::u16string, File> files;  // by normalized upper-case path
    std::set<std::u16string> directories;  // likewise

    std::set<const void*> allocatedSids;

    // LZ expansion handles (small non-negative integers) and the files behind them.
    struct LzFile {
        std::u16string path;
        bool forWriting = false;
    };
    std::map<win::INT, LzFile> lzFiles;

    // Libraries loaded with LoadLibraryW, by module handle, with their reference counts.
    std::map<std::uintptr_t, std::pair<std::u16string, int>> loadedLibraries;

    // Threads, events, windows and dialogs; created on first use.
    std::shared_ptr<struct Desktop> desktop;

  private:
    std::map<std::string, int> callCounts_;
    std::vector<Failure> failures_;
    std::map<std::uintptr_t, std::shared_ptr<KernelObject>> handles_;
    std::uintptr_t nextHandle_ = 0x100;
};

// The machine the sim back-end serves; tests replace it with a fresh one per test.
Machine& machine();
void ResetMachine();

// Text helpers shared by the back-end and tests.
std::string Narrow(std::u16string_view text);
std::u16string Widen(std::string_view text);

}  // namespace sim
