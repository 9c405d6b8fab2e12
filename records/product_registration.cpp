#include "records/product_registration.h"

#include <cstdio>

#include "inspect/product_identity.h"
#include "inspect/reg_key.h"
#include "platform/constants.h"
#include "run/preflight_checks.h"

namespace {

// YYYYMMDD of the local clock.
std::u16string LocalDateText() {
    win::SYSTEMTIME now{};
    win::GetLocalTime(&now);
    char digits[16];
    const int length =
        std::snprintf(digits, sizeof digits, "%d%02d%02d", now.wYear, now.wMonth, now.wDay);
    return std::u16string(digits, digits + (length > 0 ? length : 0));
}

void UpdateApplicationVersions(const std::u16string& newVersion, win::REGSAM writeMask) {
    const std::u16string oldVersion = ReadMachineText(product::kApplicationKey, u"CurrentVersion");
    {
        CRegKeyEx app;
        if (app.Open(win::HKEY_LOCAL_MACHINE, product::kApplicationKey, writeMask) ==
            win::ERROR_SUCCESS) {
            if (!oldVersion.empty()) app.SetString(u"OriginalVersion", oldVersion.c_str());
            if (!newVersion.empty()) app.SetString(u"CurrentVersion", newVersion.c_str());
        }
    }
    CRegKeyEx help;
    if (help.Open(win::HKEY_LOCAL_MACHINE, product::kHelpVersionKey, writeMask) ==
            win::ERROR_SUCCESS &&
        !newVersion.empty())
        help.SetString(u"Version", newVersion.c_str());
}

// The template data marks the installed version by an empty key below "2D" and "3D".
void ReplaceTemplateMarkers(const std::u16string& newVersion, win::REGSAM writeMask) {
    CRegKeyEx templates;
    if (templates.Open(win::HKEY_LOCAL_MACHINE, product::kTemplateDataKey, writeMask) !=
        win::ERROR_SUCCESS)
        return;
    templates.DeleteTree(u"2D");
    templates.DeleteTree(u"3D");
    for (const char16_t* branch : {u"2D\\", u"3D\\"}) {
        CRegKeyEx marker;
        marker.Create(templates.handle(), (branch + newVersion).c_str());
    }
}

void RegisterProjectFiles(win::REGSAM writeMask) {
    {
        CRegKeyEx extension;
        if (extension.Create(win::HKEY_CLASSES_ROOT, product::kProjectFileExtension) ==
            win::ERROR_SUCCESS)
            extension.SetString(u"", product::kProjectFileType);
    }
    // The program type belongs to the product's setup: named here only when it exists.
    CRegKeyEx type;
    if (type.Open(win::HKEY_CLASSES_ROOT, product::kProjectFileType, writeMask) ==
        win::ERROR_SUCCESS)
        type.SetString(u"", product::kProjectFileTypeName);
}

void RegisterUrlProtocol() {
    const std::u16string appPath = ReadMachineText(product::kApplicationKey, u"ApplicationPath");
    CRegKeyEx protocol;
    if (protocol.Create(win::HKEY_CLASSES_ROOT, product::kUrlProtocol) != win::ERROR_SUCCESS)
        return;
    protocol.SetString(u"URL Protocol", u"");
    protocol.SetString(u"", product::kProductName);

    CRegKeyEx shell, open, command;
    if (shell.Create(protocol.handle(), u"shell") == win::ERROR_SUCCESS &&
        open.Create(shell.handle(), u"open") == win::ERROR_SUCCESS &&
        command.Create(open.handle(), u"command") == win::ERROR_SUCCESS)
        command.SetString(u"", (u"\"" + appPath + u"\" \"%1\"").c_str());
    command.Close();
    open.Close();
    shell.Close();

    CRegKeyEx icon;
    if (icon.Create(protocol.handle(), u"DefaultIcon") == win::ERROR_SUCCESS)
        icon.SetString(u"", (appPath + u",0").c_str());
}

void UpdateUninstallEntry(const std::u16string& newVersion, const std::u16string& date,
                          win::REGSAM writeMask) {
    CRegKeyEx uninstall;
    if (uninstall.Open(win::HKEY_LOCAL_MACHINE, product::kUninstallKey, writeMask) !=
            win::ERROR_SUCCESS ||
        newVersion.empty())
        return;
    // An install date without the version it belongs to would be misleading.
    if (uninstall.SetString(u"DisplayVersion", newVersion.c_str()) == win::ERROR_SUCCESS &&
        !date.empty())
        uninstall.SetString(u"InstallDate", date.c_str());
}

}  // namespace

void UpdateProductRegistration(const std::u16string& newVersion) {
    const std::u16string date = LocalDateText();
    const win::REGSAM writeMask =
        win::KEY_WRITE | (IsNative64BitProcessor() ? win::KEY_WOW64_32KEY : 0);

    UpdateApplicationVersions(newVersion, writeMask);
    ReplaceTemplateMarkers(newVersion, writeMask);
    RegisterProjectFiles(writeMask);
    RegisterUrlProtocol();
    UpdateUninstallEntry(newVersion, date, writeMask);
}
