// Which installed files this machine needs replaced: the product folders from the
// registry, the patch table rows that apply, each with its full target path.
#pragma once

#include <cstdint>
#include <string>

#include "engine/patch_table.h"

// Empties the list and fills it anew; -1 when no target product is found (a folder record
// is missing, or no considered row found its file), otherwise the number of items appended.
std::int32_t ResolveTargets(PatchWorkList& list);

// Appends the rows that apply, with the folders given; -1 or the number appended.
std::int32_t BuildWorkList(PatchWorkList& list, const TargetFolderTableType& folders);

// Paths of MAX_PATH characters or more in the \\?\ (or \\?\UNC\) form.
std::u16string ToLongPath(const std::u16string& path);
