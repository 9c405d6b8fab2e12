#include "inspect/target_resolution.h"

#include "inspect/installed_version.h"
#include "inspect/reg_key.h"
#include "platform/constants.h"
#include "run/preflight_checks.h"

namespace {

struct FolderRecord {
    const char16_t* key;
    const char16_t* value;
    std::int32_t folderId;
};

// Read in this order.
constexpr FolderRecord kFolderRecords[] = {
    {u"Software\\Halvern Corporation\\Orlin Reelwright\\1.0\\App", u"ApplicationDir", AppFolder},
    {u"Software\\Halvern Corporation\\Orlin Creation Help", u"HelpDir", HelpFolder},
    {u"Software\\Halvern Corporation\\Orlin Reelwright\\1.0\\Common", u"TrimkitPath",
     TrimkitFolder},
};

bool InTextRange(const std::u16string& version, const PatchItem& row) {
    return VersionAtLeast(version, row.minVersion) && VersionAtMost(version, row.maxVersion);
}

// The folder path of a row on this machine, with a final separator; empty when no folder
// of the table serves the row.
std::u16string FolderOf(const PatchItem& row, const TargetFolderTableType& folders, bool is64) {
    for (const TargetFolder& folder : folders) {
        if (folder.folderId == row.folderId && (is64 ? folder.on64Bit : folder.on32Bit)) {
            std::u16string path = folder.path;
            if (path.empty() || path.back() != u'\\') path += u'\\';
            return path;
        }
    }
    return {};
}

}  // namespace

std::int32_t ResolveTargets(PatchWorkList& list) {
    PatchWorkList().swap(list);
    std::u16string texts[3];
    for (int i = 0; i < 3; ++i) {
        texts[i] = ReadMachineText(kFolderRecords[i].key, kFolderRecords[i].value);
    }
    for (const std::u16string& text : texts) {
        if (text.empty()) return -1;
    }
    for (int i = 0; i < 3; ++i) {
        for (TargetFolder& folder : TargetFolderTable) {
            if (folder.folderId == kFolderRecords[i].folderId) folder.path = texts[i];
        }
    }
    return BuildWorkList(list, TargetFolderTable);
}

std::int32_t BuildWorkList(PatchWorkList& list, const TargetFolderTableType& folders) {
    const bool is64 = IsNative64BitProcessor();
    const std::u16string displayVersion = ReadDisplayVersion();
    const std::u16string appDbVersion = ReadAppDbVersion();
    bool anyPresent = false;
    std::int32_t added = 0;

    for (const PatchItem& row : PatchTable) {
        if (!((row.applyOn64Bit && is64) || (row.applyOn32Bit && !is64))) continue;
        const std::u16string target = ToLongPath(FolderOf(row, folders, is64) + row.fileName);
        const win::DWORD attributes = win::GetFileAttributesW(target.c_str());
        const bool present = attributes != win::INVALID_FILE_ATTRIBUTES &&
                             !(attributes & win::FILE_ATTRIBUTE_DIRECTORY);
        bool applies = false;
        if (present) {
            anyPresent = true;
            if (row.useFileVersion) {
                const auto version = ReadFileVersion(target);
                applies = version && InVersionRange(*version, row.minVersion, row.maxVersion);
            } else {
                applies = InTextRange(displayVersion, row);
            }
        } else {
            applies = row.payloadId < 0 && InTextRange(appDbVersion, row);
        }
        if (applies) {
            PatchItem item = row;
            item.fileName = target;
            list.push_back(std::move(item));
            ++added;
        }
    }
    return anyPresent ? added : -1;
}

std::u16string ToLongPath(const std::u16string& path) {
    if (path.size() < 4 || path.rfind(u"\\\\?\\", 0) == 0 || path.size() < win::MAX_PATH)
        return path;
    if (path.rfind(u"\\\\", 0) == 0) return u"\\\\?\\UNC" + path.substr(1);
    return u"\\\\?\\" + path;
}
