// Turning one work item's PATCH resource into a ready file in a private work folder.
#pragma once

#include <string>

#include "engine/patch_table.h"
#include "platform/api.h"

// The full path of the running program's own file.
std::u16string GetModulePath();

// Creates "<temporary-files path>\<name>.tmp\" with any missing parents and returns it
// (ending in "\"); empty when the temporary-files path cannot be obtained.
std::u16string MakeWorkFolder(const std::u16string& name);

// Writes the item's compressed payload into the work folder and expands it next to it,
// stamped with the item's file time. On success S_OK and the expanded file's path.
win::HRESULT ExtractPayload(const std::u16string& workFolder, const PatchItem& item,
                            win::HMODULE resourceModule, std::u16string& expandedPath);
