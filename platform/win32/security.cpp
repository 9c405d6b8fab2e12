// The process token and SIDs, forwarded to Windows.
#include "platform/win32/bridge.h"

PLATFORM_SAME_SIZE(win::SID_IDENTIFIER_AUTHORITY, ::SID_IDENTIFIER_AUTHORITY);
PLATFORM_SAME_FIELD(win::SID_IDENTIFIER_AUTHORITY, ::SID_IDENTIFIER_AUTHORITY, Value);

// GetTokenInformation fills a buffer the caller reads as our TOKEN_GROUPS.
PLATFORM_SAME_SIZE(win::SID_AND_ATTRIBUTES, ::SID_AND_ATTRIBUTES);
PLATFORM_SAME_FIELD(win::SID_AND_ATTRIBUTES, ::SID_AND_ATTRIBUTES, Sid);
PLATFORM_SAME_FIELD(win::SID_AND_ATTRIBUTES, ::SID_AND_ATTRIBUTES, Attributes);
PLATFORM_SAME_SIZE(win::TOKEN_GROUPS, ::TOKEN_GROUPS);
PLATFORM_SAME_FIELD(win::TOKEN_GROUPS, ::TOKEN_GROUPS, GroupCount);
PLATFORM_SAME_FIELD(win::TOKEN_GROUPS, ::TOKEN_GROUPS, Groups);

auto win::OpenProcessToken(HANDLE process, DWORD access, HANDLE* token) -> BOOL {
    return ::OpenProcessToken(process, access, token);
}
auto win::GetTokenInformation(HANDLE token, int infoClass, void* info, DWORD length,
                              DWORD* returnLength) -> BOOL {
    return ::GetTokenInformation(token, static_cast<::TOKEN_INFORMATION_CLASS>(infoClass), info,
                                 length, sdk(returnLength));
}
auto win::AllocateAndInitializeSid(SID_IDENTIFIER_AUTHORITY* authority, BYTE subAuthorityCount,
                                   DWORD sub0, DWORD sub1, DWORD sub2, DWORD sub3, DWORD sub4,
                                   DWORD sub5, DWORD sub6, DWORD sub7, PSID* sid) -> BOOL {
    return ::AllocateAndInitializeSid(reinterpret_cast<::SID_IDENTIFIER_AUTHORITY*>(authority),
                                      subAuthorityCount, sub0, sub1, sub2, sub3, sub4, sub5, sub6,
                                      sub7, sid);
}
auto win::EqualSid(PSID sid1, PSID sid2) -> BOOL {
    return ::EqualSid(sid1, sid2);
}
auto win::FreeSid(PSID sid) -> void* {
    return ::FreeSid(sid);
}
