#include "engine/patch_process.h"

#include "platform/constants.h"

win::HRESULT StartPatchProcess(const PatchWorkList&, const char16_t*, win::HINSTANCE) {
    // Not built yet: the patch process lands later; until then no run reaches it.
    return win::S_FALSE;
}
