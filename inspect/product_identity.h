// Constants that name this update and the product it updates.
#pragma once

namespace product {

inline constexpr char16_t kTargetVersion[] = u"4.3.01.11140";
inline constexpr char16_t kUpdateId[] = u"KQ0000458107";
inline constexpr char16_t kProductName[] = u"Orlin Reelwright";
inline constexpr char16_t kProductCode[] = u"{7E1A4B90-5D3C-4F62-9A17-3B8C0D2E6F41}";

inline constexpr char16_t kUninstallKey[] =
    u"Software\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    u"InstallShield_{7E1A4B90-5D3C-4F62-9A17-3B8C0D2E6F41}";
inline constexpr char16_t kAppDbKey[] = u"Software\\Halvern Corporation\\Shared Info\\AppDB";
inline constexpr char16_t kUpdateServiceKey[] = u"SOFTWARE\\Halvern Corporation\\Orlin Update";

}  // namespace product
