#include "inspect/installed_version.h"

#include "inspect/product_identity.h"
#include "inspect/reg_key.h"

std::u16string ReadDisplayVersion() {
    return ReadMachineText(product::kUninstallKey, u"DisplayVersion");
}

std::u16string ReadAppDbVersion() {
    const std::u16string path = std::u16string(product::kAppDbKey) + u"\\" + product::kProductName;
    return ReadMachineText(path.c_str(), u"version");
}

bool IsApplicableVersion(std::u16string_view installed) {
    return VersionAtLeast(installed, kLowestAcceptedVersion) &&
           VersionAtMost(installed, kHighestAcceptedVersion);
}

bool IsTargetVersion(std::u16string_view installed) {
    return SameVersionText(installed, product::kTargetVersion);
}
