// What the two hooks of a patch run share: the update's identity and the Restart Manager
// state. Created by StartPatchProcess, disposed of by the post-work hook.
#pragma once

#include <string>

#include "engine/restart_session.h"

struct UpdateContext {
    std::u16string patchId;
    std::u16string productName;
    RestartSession restart;
};
