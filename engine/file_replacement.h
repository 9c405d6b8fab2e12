// The file work of the update: each work item's target replaced by its payload or deleted,
// with files in use moved aside and deleted at the next restart.
#pragma once

#include <string>

#include "engine/patch_table.h"
#include "platform/api.h"

// S_OK when every item succeeded, otherwise the code of the first failing item; the items
// after it are not touched.
win::HRESULT ApplyPatchItems(const PatchWorkList& items, win::HMODULE resourceModule);

win::HRESULT ReplaceTargetFile(const std::u16string& target, const std::u16string& newFile);
win::HRESULT DeleteTargetFile(const std::u16string& target);
