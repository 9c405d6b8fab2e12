// Questions about the machine asked before any file is touched. Failing Windows calls
// become plain answers, never errors.
#pragma once

#include <string_view>

#include "platform/api.h"

enum class LockState { Created, AlreadyExisted, Failed };

struct SingleInstanceLock {
    LockState state;
    win::HANDLE handle;  // owned by the caller; null when Failed
};

struct OsVersionRecord {
    win::DWORD platformId = 0;
};

SingleInstanceLock TakeSingleInstanceLock();

// The process's record, filled by the first call and never refreshed.
const OsVersionRecord& CurrentOsVersion();
OsVersionRecord QueryOsVersion();

bool IsUserAdministrator();
bool IsUserAdministrator(const OsVersionRecord& os);
bool IsNative64BitProcessor();
bool IsRunningUnderWow64();
bool IsProgramRunning(std::u16string_view exeName);
bool AreBlockingProgramsRunning();
