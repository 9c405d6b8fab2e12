// Every constant of ours must equal the SDK's; a mismatch stops the build here.
#include <windows.h>
// Needs <windows.h> first.
#include <commctrl.h>
#include <lzexpand.h>
#include <restartmanager.h>
#include <tlhelp32.h>

#include "platform/api.h"

// The list names its types as ours (DWORD, HRESULT) or built in (int), which only works
// unqualified inside namespace win, where constants.h defines them too. The SDK's macro is
// evaluated outside it, so its casts keep meaning the SDK's types.
#define WIN_CONSTANT(type, name, value)                                                     \
    namespace sdk_value {                                                                   \
    constexpr long long name##_ = static_cast<long long>(name);                             \
    }                                                                                       \
    namespace win {                                                                         \
    static_assert(::sdk_value::name##_ == static_cast<long long>(static_cast<type>(value)), \
                  #name);                                                                   \
    }
#include "platform/constants.inc"
#undef WIN_CONSTANT
