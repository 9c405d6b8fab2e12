#include "engine/patch_table.h"

namespace {

constexpr PatchFileTime kFileTime{2013, 11, 12, 2, 0, 0, 0};
constexpr VersionQuad kZero{0, 0, 0, 0};

PatchItem Row(std::uint8_t useFileVersion, std::int32_t folderId, std::int32_t payloadId,
              const char16_t* fileName, VersionQuad minVersion, VersionQuad maxVersion) {
    return PatchItem{1,        1,         useFileVersion, folderId,  payloadId,
                     fileName, kFileTime, minVersion,     maxVersion};
}

}  // namespace

// The order is the order in which the files are selected and processed.
const std::array<PatchItem, kPatchRowCount> PatchTable = {
    Row(1, AppFolder, 401, u"ClipUploader.dll", kZero, {4, 3, 0, 0}),
    Row(1, AppFolder, 402, u"EdControls.dll", kZero, {4, 3, 0, 11000}),
    Row(1, AppFolder, 403, u"EdCore.dll", kZero, {4, 3, 0, 0}),
    Row(1, AppFolder, 404, u"EdResource.dll", kZero, {4, 3, 0, 11000}),
    Row(1, AppFolder, 405, u"OrlinUpdate.dll", kZero, {3, 3, 0, 0}),
    Row(1, AppFolder, 406, u"Reelwright.exe", kZero, {4, 3, 0, 0}),
    Row(1, TrimkitFolder, 407, u"GpuProbe.dll", kZero, {4, 3, 0, 11000}),
    Row(1, HelpFolder, 408, u"OrlinUpdate.dll", kZero, {3, 3, 0, 0}),
    Row(0, AppFolder, -409, u"RemoveKeys.bat", {4, 1, 0, 0}, {4, 3, 0, 11000}),
    Row(0, TrimkitFolder, -410, u"gpucal.ini", {4, 0, 0, 0}, {4, 3, 0, 11000}),
    Row(1, TrimkitFolder, 411, u"gpucal.dll", kZero, {2, 0, 4, 11000}),
};

TargetFolderTableType TargetFolderTable = {{
    {1, 1, AppFolder, {}},
    {1, 1, TrimkitFolder, {}},
    {1, 1, HelpFolder, {}},
}};
