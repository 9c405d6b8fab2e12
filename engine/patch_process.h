// The patch process: the file work on a worker thread behind a progress dialog.
#pragma once

#include "engine/patch_table.h"
#include "platform/api.h"

// Runs the update over the work list; returns the run's result code once the dialog is
// gone and the worker has ended. The caption may be null.
win::HRESULT StartPatchProcess(const PatchWorkList& items, const char16_t* caption,
                               win::HINSTANCE resourceModule);
