// The compiled-in description of what this update replaces: eleven rows, one per file,
// and the three product folders that target resolution finds at run time.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "inspect/version_values.h"

struct PatchFileTime {
    std::uint16_t year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0, millisecond = 0;
};

struct PatchItem {
    std::uint8_t applyOn32Bit = 0;
    std::uint8_t applyOn64Bit = 0;
    std::uint8_t useFileVersion = 0;  // 1: the file's own version decides, 0: the product's
    std::int32_t folderId = 0;
    std::int32_t payloadId = 0;  // |id| names the PATCH resource; negative may create; 0 deletes
    std::u16string fileName;     // the bare name in the table, the full target path in a work item
    PatchFileTime fileTime;      // stamped on the new file, taken as UTC
    VersionQuad minVersion;
    VersionQuad maxVersion;
};

enum FolderId : std::int32_t { AppFolder = 1, TrimkitFolder = 2, HelpFolder = 3 };

struct TargetFolder {
    const std::int32_t on32Bit;
    const std::int32_t on64Bit;
    const std::int32_t folderId;
    std::u16string path;  // empty until target resolution fills it
};

using PatchWorkList = std::vector<PatchItem>;

inline constexpr std::size_t kPatchRowCount = 11;
extern const std::array<PatchItem, kPatchRowCount> PatchTable;

// The folder table of the run; only the paths are ever written.
using TargetFolderTableType = std::array<TargetFolder, 3>;
extern TargetFolderTableType TargetFolderTable;
