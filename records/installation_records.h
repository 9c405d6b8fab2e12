// What a successful update leaves behind: the patch list entry, the history file and the
// product registration, written best effort after the file work.
#pragma once

#include "engine/update_context.h"

// Puts this update's identity into the context; run before the first file is touched.
void SetUpdateIdentity(UpdateContext& context);

// The three record steps in their order, each whatever the one before achieved.
void WriteInstallationRecords(const UpdateContext& context);
