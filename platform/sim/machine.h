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

struct File {
    std::vector<std::uint8_t> bytes;
    win::DWORD attributes = win::DWORD{0x20};  // FILE_ATTRIBUTE_ARCHIVE
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
    bool DirectoryExists(const std::u16string& path) const;

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
