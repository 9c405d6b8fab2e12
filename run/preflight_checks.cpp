#include "run/preflight_checks.h"

#include <algorithm>
#include <iterator>
#include <memory>
#include <new>

#include "platform/constants.h"

namespace {

constexpr char16_t kMutexName[] = u"Global\\HalvernOrwOrlINSUpdater-MutexAll";

// Closes a kernel handle on every way out.
struct HandleCloser {
    win::HANDLE handle;
    ~HandleCloser() {
        if (handle != nullptr && handle != win::INVALID_HANDLE_VALUE) win::CloseHandle(handle);
    }
};

struct SidFreer {
    win::PSID sid;
    ~SidFreer() {
        if (sid != nullptr) win::FreeSid(sid);
    }
};

}  // namespace

SingleInstanceLock TakeSingleInstanceLock() {
    const win::HANDLE handle = win::CreateMutexW(nullptr, 0, kMutexName);
    if (handle == nullptr) return {LockState::Failed, nullptr};
    if (win::GetLastError() == win::ERROR_ALREADY_EXISTS)
        return {LockState::AlreadyExisted, handle};
    return {LockState::Created, handle};
}

OsVersionRecord QueryOsVersion() {
    win::OSVERSIONINFOW info{};
    info.dwOSVersionInfoSize = sizeof info;
    OsVersionRecord record;
    if (win::GetVersionExW(&info)) record.platformId = info.dwPlatformId;
    return record;
}

const OsVersionRecord& CurrentOsVersion() {
    static const OsVersionRecord record = QueryOsVersion();
    return record;
}

bool IsUserAdministrator() {
    return IsUserAdministrator(CurrentOsVersion());
}

bool IsUserAdministrator(const OsVersionRecord& os) {
    if (os.platformId != win::VER_PLATFORM_WIN32_NT) return true;

    win::HANDLE token = nullptr;
    if (!win::OpenProcessToken(win::GetCurrentProcess(), win::TOKEN_QUERY, &token)) return false;
    const HandleCloser tokenCloser{token};

    win::DWORD size = 0;
    if (win::GetTokenInformation(token, win::TokenGroups, nullptr, 0, &size) ||
        win::GetLastError() != win::ERROR_INSUFFICIENT_BUFFER)
        return false;
    // Pointer-aligned storage: the block holds a TOKEN_GROUPS record.
    const std::size_t words = (size + sizeof(void*) - 1) / sizeof(void*);
    std::unique_ptr<void*[]> block(new (std::nothrow) void*[words]());
    if (!block) return false;
    if (!win::GetTokenInformation(token, win::TokenGroups, block.get(), size, &size)) return false;

    win::SID_IDENTIFIER_AUTHORITY authority = win::SECURITY_NT_AUTHORITY;
    win::PSID admins = nullptr;
    if (!win::AllocateAndInitializeSid(&authority, 2, win::SECURITY_BUILTIN_DOMAIN_RID,
                                       win::DOMAIN_ALIAS_RID_ADMINS, 0, 0, 0, 0, 0, 0, &admins))
        return false;
    const SidFreer sidFreer{admins};

    const auto* groups = reinterpret_cast<const win::TOKEN_GROUPS*>(block.get());
    for (win::DWORD i = 0; i < groups->GroupCount; ++i) {
        const win::SID_AND_ATTRIBUTES& group = groups->Groups[i];
        if (win::EqualSid(group.Sid, admins) && (group.Attributes & win::SE_GROUP_ENABLED))
            return true;
    }
    return false;
}

bool IsNative64BitProcessor() {
    win::SYSTEM_INFO info{};
    win::GetNativeSystemInfo(&info);
    return info.dwProcessorType == win::PROCESSOR_AMD_X8664 ||
           info.dwProcessorType == win::PROCESSOR_INTEL_IA64;
}

bool IsRunningUnderWow64() {
    const win::HMODULE kernel = win::GetModuleHandleA("kernel32");
    if (kernel == nullptr) return false;
    const auto isWow64 =
        reinterpret_cast<win::IsWow64ProcessProc>(win::GetProcAddress(kernel, "IsWow64Process"));
    if (isWow64 == nullptr) return false;
    win::BOOL wow64 = 0;
    return isWow64(win::GetCurrentProcess(), &wow64) && wow64;
}

bool IsProgramRunning(std::u16string_view exeName) {
    const win::HANDLE snapshot = win::CreateToolhelp32Snapshot(win::TH32CS_SNAPPROCESS, 0);
    if (snapshot == win::INVALID_HANDLE_VALUE) return false;
    const HandleCloser snapshotCloser{snapshot};

    win::PROCESSENTRY32W entry{};
    entry.dwSize = sizeof entry;
    for (win::BOOL more = win::Process32FirstW(snapshot, &entry); more;
         more = win::Process32NextW(snapshot, &entry)) {
        // Exact and case-sensitive; the name is read within its field only.
        const char16_t* end =
            std::find(std::begin(entry.szExeFile), std::end(entry.szExeFile), u'\0');
        if (exeName == std::u16string_view(entry.szExeFile, end)) return true;
    }
    return false;
}

bool AreBlockingProgramsRunning() {
    return IsProgramRunning(u"Reelwright.exe") || IsProgramRunning(u"ClipOptimizer.exe");
}
