#include "records/patch_list.h"

#include <string>

#include "inspect/installed_version.h"
#include "inspect/product_identity.h"
#include "inspect/reg_key.h"
#include "inspect/version_values.h"
#include "platform/constants.h"
#include "run/preflight_checks.h"

namespace {

// Only installations in this window get the uninstall values of the entry.
constexpr VersionQuad kUninstallWindowLow{4, 1, 0, 0};
constexpr VersionQuad kUninstallWindowHigh{4, 3, 0, 11000};

bool InUninstallWindow(const std::u16string& installed) {
    return VersionAtLeast(installed, kUninstallWindowLow) &&
           VersionAtMost(installed, kUninstallWindowHigh);
}

std::u16string UninstallBatchPath() {
    std::u16string path = ReadMachineText(product::kApplicationKey, u"ApplicationDir");
    if (path.empty() || path.back() != u'\\') path += u'\\';
    return path + product::kUninstallBatchFile;
}

}  // namespace

bool RegisterPatchList(const char16_t* updateId, const char16_t* productName) {
    // Only a 32-bit process on 64-bit Windows asks for the 32-bit view explicitly.
    const win::REGSAM view =
        IsNative64BitProcessor() && IsRunningUnderWow64() ? win::KEY_WOW64_32KEY : 0;

    // The product key is named by the constant: the entry belongs to this product whatever
    // name the caller hands in for "patchname".
    const std::u16string productPath =
        std::u16string(product::kAppDbKey) + u"\\" + product::kProductName;
    CRegKeyEx productKey;
    if (productKey.Open(win::HKEY_LOCAL_MACHINE, productPath.c_str(),
                        win::KEY_READ | win::KEY_WRITE | view) != win::ERROR_SUCCESS)
        return false;

    const std::u16string entryPath = std::u16string(u"PatchList\\") + (updateId ? updateId : u"");
    CRegKeyEx entry;
    if (entry.Create(productKey.handle(), entryPath.c_str()) != win::ERROR_SUCCESS) return false;
    if (updateId == nullptr) return false;

    if (entry.SetString(u"patchid", updateId) != win::ERROR_SUCCESS) return false;
    if (productName == nullptr) return false;
    if (entry.SetString(u"patchname", productName) != win::ERROR_SUCCESS) return false;
    if (entry.SetString(u"version", product::kTargetVersion) != win::ERROR_SUCCESS) return false;

    if (!InUninstallWindow(ReadAppDbVersion())) return true;
    if (entry.SetString(u"InstallerPath", UninstallBatchPath().c_str()) != win::ERROR_SUCCESS)
        return false;
    return entry.SetString(u"SilentUninstall", u"") == win::ERROR_SUCCESS;
}
