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

// The product's own keys under HKEY_LOCAL_MACHINE.
inline constexpr char16_t kApplicationKey[] =
    u"Software\\Halvern Corporation\\Orlin Reelwright\\1.0\\App";
inline constexpr char16_t kHelpVersionKey[] =
    u"Software\\Halvern Corporation\\Orlin Creation Help\\1.0";
inline constexpr char16_t kTemplateDataKey[] =
    u"Software\\Halvern Corporation\\Orlin Reelwright Template Data";

// Below HKEY_CLASSES_ROOT: the project-file association and the URL protocol.
inline constexpr char16_t kProjectFileExtension[] = u".orw-xml";
inline constexpr char16_t kProjectFileType[] = u"HalvernReelwrightProject";
inline constexpr char16_t kProjectFileTypeName[] = u"Orlin Reelwright Project File";
inline constexpr char16_t kUrlProtocol[] = u"halvern-orlin-reelwright";

// Files in the installation folder.
inline constexpr char16_t kUninstallBatchFile[] = u"RemoveKeys.bat";
inline constexpr char16_t kHistoryFileName[] = u"version.txt";

}  // namespace product
