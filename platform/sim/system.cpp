// Kernel objects, processes, system information, modules and security of the simulated
// machine.
#include <algorithm>
#include <cstring>

#include "platform/constants.h"
#include "platform/sim/call.h"
#include "platform/sim/kernel_exports.h"

namespace win {

FARPROC SimRegDeleteKeyExWProc();

namespace {

using sim::Call;

thread_local DWORD lastError = 0;

struct MutexObject : sim::KernelObject {
    MutexObject(sim::Machine& m, std::u16string n) : machine(m), name(std::move(n)) {}
    ~MutexObject() override {
        if (!name.empty() && --machine.mutexRefs[name] <= 0) machine.mutexRefs.erase(name);
    }
    sim::Machine& machine;
    std::u16string name;
};

struct TokenObject : sim::KernelObject {};

struct SnapshotObject : sim::KernelObject {
    std::vector<sim::Process> processes;
    std::size_t next = 0;
};

const HANDLE kCurrentProcess = reinterpret_cast<HANDLE>(static_cast<LONG_PTR>(-1));

// The modules a program finds loaded, by the handle GetModuleHandle gives.
struct Module {
    const char* name;  // without extension, lower case
    std::uintptr_t handle;
};
constexpr Module kModules[] = {
    {"reelwrightupdate", 0x00400000}, {"kernel32", 0x7b600000}, {"advapi32", 0x7bb00000},
    {"user32", 0x7bd00000},           {"ntdll", 0x7bc00000},
};

HMODULE FindModule(std::string name) {
    std::transform(name.begin(), name.end(), name.begin(),
                   [](char c) { return static_cast<char>(c >= 'A' && c <= 'Z' ? c + 32 : c); });
    if (name.size() > 4 && name.compare(name.size() - 4, 4, ".dll") == 0)
        name.resize(name.size() - 4);
    for (const Module& module : kModules) {
        if (name == module.name) return reinterpret_cast<HMODULE>(module.handle);
    }
    return nullptr;
}

BOOL PLATFORM_API SimIsWow64Process(HANDLE process, BOOL* wow64) {
    Call call("IsWow64Process", sim::Args(process));
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    if (wow64 == nullptr) return call.Fail<BOOL>(0, ERROR_INVALID_PARAMETER);
    *wow64 = call.machine().Is64Bit() ? 1 : 0;
    return call.Return<BOOL>(1);
}

BOOL PLATFORM_API SimSetDefaultDllDirectories(DWORD flags) {
    Call call("SetDefaultDllDirectories", sim::Args(flags));
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    return call.Return<BOOL>(1);
}

struct Export {
    std::uintptr_t module;
    const char* name;
    FARPROC (*address)();
};

FARPROC IsWow64ProcessAddress() {
    return reinterpret_cast<FARPROC>(&SimIsWow64Process);
}
FARPROC SetDefaultDllDirectoriesAddress() {
    return reinterpret_cast<FARPROC>(&SimSetDefaultDllDirectories);
}

template <auto function>
FARPROC AddressOf() {
    return reinterpret_cast<FARPROC>(function);
}

// The one library the program loads itself; the handle it gets while the library is loaded.
constexpr std::uintptr_t kRestartManagerModule = 0x6f100000;
constexpr char16_t kRestartManagerFile[] = u"rstrtmgr.dll";

constexpr Export kExports[] = {
    {0x7b600000, "IsWow64Process", &IsWow64ProcessAddress},
    {0x7b600000, "SetDefaultDllDirectories", &SetDefaultDllDirectoriesAddress},
    {0x7b600000, "GetFileInformationByHandleEx", &AddressOf<&sim::GetFileInformationByHandleEx>},
    {0x7b600000, "SetFileInformationByHandle", &AddressOf<&sim::SetFileInformationByHandle>},
    {0x7bb00000, "RegDeleteKeyExW", &SimRegDeleteKeyExWProc},
    {kRestartManagerModule, "RmStartSession", &AddressOf<&sim::RmStartSession>},
    {kRestartManagerModule, "RmRegisterResources", &AddressOf<&sim::RmRegisterResources>},
    {kRestartManagerModule, "RmShutdown", &AddressOf<&sim::RmShutdown>},
    {kRestartManagerModule, "RmRestart", &AddressOf<&sim::RmRestart>},
    {kRestartManagerModule, "RmEndSession", &AddressOf<&sim::RmEndSession>},
};

std::u16string Lower(std::u16string text) {
    for (char16_t& c : text) {
        if (c >= u'A' && c <= u'Z') c = static_cast<char16_t>(c + 32);
    }
    return text;
}

DWORD SidLength(const void* sid) {
    return 8 + 4 * static_cast<DWORD>(static_cast<const BYTE*>(sid)[1]);
}

}  // namespace

}  // namespace win

namespace sim {
void SetThreadError(win::DWORD error) {
    win::lastError = error;
}
}  // namespace sim

namespace win {

DWORD GetLastError() {
    return lastError;
}
void SetLastError(DWORD error) {
    lastError = error;
}

BOOL CloseHandle(HANDLE object) {
    Call call("CloseHandle", sim::Args(object));
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    if (object == kCurrentProcess) return call.Return<BOOL>(1);
    if (!call.machine().CloseHandle(object)) return call.Fail<BOOL>(0, ERROR_INVALID_HANDLE);
    return call.Return<BOOL>(1);
}

HANDLE CreateMutexW(SECURITY_ATTRIBUTES*, BOOL initialOwner, LPCWSTR name) {
    Call call("CreateMutexW", sim::Args(initialOwner, name));
    if (call.injected) return call.Fail<HANDLE>(nullptr, *call.injected);
    sim::Machine& m = call.machine();
    const std::u16string key = name ? name : u"";
    const bool existed = !key.empty() && m.mutexRefs.count(key) != 0;
    if (!key.empty()) ++m.mutexRefs[key];
    const HANDLE handle = m.AddHandle(std::make_shared<MutexObject>(m, key));
    SetLastError(existed ? ERROR_ALREADY_EXISTS : ERROR_SUCCESS);
    return call.Pointer(handle);
}

HANDLE GetCurrentProcess() {
    return kCurrentProcess;
}

DWORD GetCurrentProcessId() {
    Call call("GetCurrentProcessId", "");
    return call.Return(call.machine().processId);
}

DWORD GetTickCount() {
    Call call("GetTickCount", "");
    return call.Return(call.machine().tickCount);
}

BOOL GetVersionExW(OSVERSIONINFOW* info) {
    Call call("GetVersionExW", "");
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    if (info == nullptr || info->dwOSVersionInfoSize != sizeof(OSVERSIONINFOW))
        return call.Fail<BOOL>(0, ERROR_INSUFFICIENT_BUFFER);
    const sim::Machine& m = call.machine();
    info->dwMajorVersion = m.majorVersion;
    info->dwMinorVersion = m.minorVersion;
    info->dwBuildNumber = m.buildNumber;
    info->dwPlatformId = m.platformId;
    std::fill(std::begin(info->szCSDVersion), std::end(info->szCSDVersion), u'\0');
    return call.Return<BOOL>(1);
}

void GetNativeSystemInfo(SYSTEM_INFO* info) {
    Call call("GetNativeSystemInfo", "");
    *info = SYSTEM_INFO{};
    const DWORD type = call.machine().processorType;
    info->wProcessorArchitecture = type == PROCESSOR_AMD_X8664    ? 9
                                   : type == PROCESSOR_INTEL_IA64 ? 6
                                                                  : 0;
    info->dwPageSize = 4096;
    info->dwNumberOfProcessors = 2;
    info->dwProcessorType = type;
    info->dwAllocationGranularity = 65536;
    call.Return(type);
}

HMODULE GetModuleHandleW(LPCWSTR moduleName) {
    Call call("GetModuleHandleW", sim::Args(moduleName));
    if (call.injected) return call.Fail<HMODULE>(nullptr, *call.injected);
    const HMODULE module = moduleName ? FindModule(sim::Narrow(moduleName))
                                      : reinterpret_cast<HMODULE>(kModules[0].handle);
    if (module == nullptr) return call.Fail<HMODULE>(nullptr, ERROR_MOD_NOT_FOUND);
    return call.Pointer(module);
}

HMODULE GetModuleHandleA(const char* moduleName) {
    Call call("GetModuleHandleA", sim::Args(moduleName));
    if (call.injected) return call.Fail<HMODULE>(nullptr, *call.injected);
    const HMODULE module =
        moduleName ? FindModule(moduleName) : reinterpret_cast<HMODULE>(kModules[0].handle);
    if (module == nullptr) return call.Fail<HMODULE>(nullptr, ERROR_MOD_NOT_FOUND);
    return call.Pointer(module);
}

FARPROC GetProcAddress(HMODULE module, const char* procName) {
    Call call("GetProcAddress", sim::Args(static_cast<const void*>(module), procName));
    if (call.injected) return call.Fail<FARPROC>(nullptr, *call.injected);
    const auto handle = reinterpret_cast<std::uintptr_t>(module);
    if (handle == kRestartManagerModule && call.machine().loadedLibraries.count(handle) == 0)
        return call.Fail<FARPROC>(nullptr, ERROR_MOD_NOT_FOUND);
    for (const Export& e : kExports) {
        if (e.module == handle && std::strcmp(e.name, procName) == 0 &&
            call.machine().absentFunctions.count(procName) == 0) {
            call.Return(1);
            return e.address();
        }
    }
    return call.Fail<FARPROC>(nullptr, ERROR_PROC_NOT_FOUND);
}

HMODULE LoadLibraryW(LPCWSTR fileName) {
    Call call("LoadLibraryW", sim::Args(fileName));
    if (call.injected) return call.Fail<HMODULE>(nullptr, *call.injected);
    sim::Machine& m = call.machine();
    if (fileName == nullptr) return call.Fail<HMODULE>(nullptr, ERROR_INVALID_PARAMETER);
    // A bare name is found in the system folder as the loader's search would find it.
    const std::u16string name = Lower(fileName);
    const std::u16string inSystem = Lower(m.systemDirectory) + u"\\" + kRestartManagerFile;
    if (!m.restartManager.installed || (name != kRestartManagerFile && name != inSystem))
        return call.Fail<HMODULE>(nullptr, ERROR_MOD_NOT_FOUND);
    auto& loaded = m.loadedLibraries[kRestartManagerModule];
    loaded.first = fileName;
    ++loaded.second;
    return call.Pointer(reinterpret_cast<HMODULE>(kRestartManagerModule));
}

BOOL FreeLibrary(HMODULE module) {
    Call call("FreeLibrary", sim::Args(static_cast<const void*>(module)));
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    sim::Machine& m = call.machine();
    const auto found = m.loadedLibraries.find(reinterpret_cast<std::uintptr_t>(module));
    if (found == m.loadedLibraries.end()) return call.Fail<BOOL>(0, ERROR_MOD_NOT_FOUND);
    if (--found->second.second == 0) m.loadedLibraries.erase(found);
    return call.Return<BOOL>(1);
}

UINT GetSystemDirectoryW(LPWSTR buffer, UINT size) {
    Call call("GetSystemDirectoryW", sim::Args(size));
    if (call.injected) return call.Fail<UINT>(0, *call.injected);
    const std::u16string& folder = call.machine().systemDirectory;
    const auto length = static_cast<UINT>(folder.size());
    if (buffer == nullptr || size <= length) return call.Return(length + 1);
    std::copy(folder.begin(), folder.end(), buffer);
    buffer[length] = 0;
    return call.Return(length);
}

BOOL OpenProcessToken(HANDLE process, DWORD access, HANDLE* token) {
    Call call("OpenProcessToken", sim::Args(process, access));
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    if (process != kCurrentProcess || token == nullptr)
        return call.Fail<BOOL>(0, ERROR_INVALID_HANDLE);
    *token = call.machine().AddHandle(std::make_shared<TokenObject>());
    return call.Return<BOOL>(1);
}

BOOL GetTokenInformation(HANDLE token, int infoClass, void* info, DWORD length,
                         DWORD* returnLength) {
    Call call("GetTokenInformation", sim::Args(token, infoClass, length));
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    sim::Machine& m = call.machine();
    if (!std::dynamic_pointer_cast<TokenObject>(m.FindHandle(token)))
        return call.Fail<BOOL>(0, ERROR_INVALID_HANDLE);
    if (infoClass != TokenGroups || returnLength == nullptr)
        return call.Fail<BOOL>(0, ERROR_INVALID_PARAMETER);

    // The record, its array of groups, then the SIDs the array points at.
    const std::size_t count = m.tokenGroups.size();
    const std::size_t arrayEnd =
        offsetof(TOKEN_GROUPS, Groups) + count * sizeof(SID_AND_ATTRIBUTES);
    std::size_t needed = arrayEnd;
    for (const sim::TokenGroup& group : m.tokenGroups) needed += group.sid.size();
    *returnLength = static_cast<DWORD>(needed);
    if (info == nullptr || length < needed) return call.Fail<BOOL>(0, ERROR_INSUFFICIENT_BUFFER);

    auto* bytes = static_cast<BYTE*>(info);
    auto* groups = static_cast<TOKEN_GROUPS*>(info);
    groups->GroupCount = static_cast<DWORD>(count);
    std::size_t sidAt = arrayEnd;
    for (std::size_t i = 0; i < count; ++i) {
        const sim::TokenGroup& group = m.tokenGroups[i];
        std::memcpy(bytes + sidAt, group.sid.data(), group.sid.size());
        groups->Groups[i].Sid = bytes + sidAt;
        groups->Groups[i].Attributes = group.attributes;
        sidAt += group.sid.size();
    }
    return call.Return<BOOL>(1);
}

BOOL AllocateAndInitializeSid(SID_IDENTIFIER_AUTHORITY* authority, BYTE subAuthorityCount,
                              DWORD sub0, DWORD sub1, DWORD sub2, DWORD sub3, DWORD sub4,
                              DWORD sub5, DWORD sub6, DWORD sub7, PSID* sid) {
    Call call("AllocateAndInitializeSid",
              sim::Args(static_cast<int>(subAuthorityCount), sub0, sub1));
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    if (authority == nullptr || sid == nullptr || subAuthorityCount > 8)
        return call.Fail<BOOL>(0, ERROR_INVALID_PARAMETER);
    const DWORD subs[8] = {sub0, sub1, sub2, sub3, sub4, sub5, sub6, sub7};
    auto* bytes = new BYTE[8 + 4 * subAuthorityCount];
    bytes[0] = 1;
    bytes[1] = subAuthorityCount;
    std::memcpy(bytes + 2, authority->Value, 6);
    for (int i = 0; i < subAuthorityCount; ++i) {
        for (int b = 0; b < 4; ++b) bytes[8 + 4 * i + b] = static_cast<BYTE>(subs[i] >> (8 * b));
    }
    call.machine().allocatedSids.insert(bytes);
    *sid = bytes;
    return call.Return<BOOL>(1);
}

BOOL EqualSid(PSID sid1, PSID sid2) {
    Call call("EqualSid", sim::Args(sid1, sid2));
    if (sid1 == nullptr || sid2 == nullptr) return call.Fail<BOOL>(0, ERROR_INVALID_PARAMETER);
    const DWORD length = SidLength(sid1);
    const bool equal = length == SidLength(sid2) && std::memcmp(sid1, sid2, length) == 0;
    SetLastError(ERROR_SUCCESS);
    return call.Return<BOOL>(equal ? 1 : 0);
}

void* FreeSid(PSID sid) {
    Call call("FreeSid", sim::Args(sid));
    if (call.machine().allocatedSids.erase(sid) == 0) return call.Pointer(sid);
    delete[] static_cast<BYTE*>(sid);
    return call.Pointer<void*>(nullptr);
}

HANDLE CreateToolhelp32Snapshot(DWORD flags, DWORD processId) {
    Call call("CreateToolhelp32Snapshot", sim::Args(flags, processId));
    if (call.injected) return call.Fail<HANDLE>(INVALID_HANDLE_VALUE, *call.injected);
    auto snapshot = std::make_shared<SnapshotObject>();
    if (flags & TH32CS_SNAPPROCESS) snapshot->processes = call.machine().processes;
    return call.Pointer(call.machine().AddHandle(snapshot));
}

namespace {

BOOL NextProcess(Call& call, HANDLE snapshot, PROCESSENTRY32W* entry, bool first) {
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    const auto object =
        std::dynamic_pointer_cast<SnapshotObject>(call.machine().FindHandle(snapshot));
    if (!object) return call.Fail<BOOL>(0, ERROR_INVALID_HANDLE);
    if (entry == nullptr || entry->dwSize != sizeof(PROCESSENTRY32W))
        return call.Fail<BOOL>(0, ERROR_BAD_LENGTH);
    if (first) object->next = 0;
    if (object->next >= object->processes.size()) return call.Fail<BOOL>(0, ERROR_NO_MORE_FILES);
    const sim::Process& process = object->processes[object->next++];
    const DWORD size = entry->dwSize;
    *entry = PROCESSENTRY32W{};
    entry->dwSize = size;
    entry->th32ProcessID = process.pid;
    entry->cntThreads = 1;
    const std::size_t n = std::min<std::size_t>(process.exeName.size(), 259);
    std::copy_n(process.exeName.begin(), n, entry->szExeFile);
    return call.Return<BOOL>(1);
}

}  // namespace

BOOL Process32FirstW(HANDLE snapshot, PROCESSENTRY32W* entry) {
    Call call("Process32FirstW", sim::Args(snapshot));
    return NextProcess(call, snapshot, entry, true);
}

BOOL Process32NextW(HANDLE snapshot, PROCESSENTRY32W* entry) {
    Call call("Process32NextW", sim::Args(snapshot));
    return NextProcess(call, snapshot, entry, false);
}

}  // namespace win
