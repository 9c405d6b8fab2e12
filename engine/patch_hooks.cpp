#include "engine/patch_hooks.h"

#include <new>
#include <string>

#include "platform/constants.h"
#include "records/installation_records.h"

void UpdateContextDisposer::operator()(UpdateContext* context) const {
    if (context == nullptr) return;
    CloseRestartSession(context->restart);
    delete context;
}

UpdateContextPtr CreateUpdateContext() {
    UpdateContextPtr context;
    try {
        context.reset(new UpdateContext{});
    } catch (const std::bad_alloc&) {
        return nullptr;
    }
    OpenRestartSession(context->restart);
    return context;
}

win::HRESULT BeforePatching(win::HRESULT previous, win::HANDLE, PatchWorkList& items,
                            UpdateContext* context) {
    if (context == nullptr) return win::E_INVALIDARG;
    if (previous < 0) return previous;
    if (!items.empty()) {
        std::u16string joined;
        for (std::size_t i = 0; i < items.size(); ++i) {
            if (i != 0) joined += u';';
            joined += items[i].fileName;
        }
        SetSessionFiles(context->restart, joined);
        if (RegisterSessionFiles(context->restart) == 0)
            ShutDownSessionApplications(context->restart);
    }
    SetUpdateIdentity(*context);
    return win::S_OK;
}

win::HRESULT AfterPatching(win::HRESULT previous, win::HANDLE, PatchWorkList&,
                           UpdateContext* context) {
    if (context == nullptr) return win::E_INVALIDARG;
    const UpdateContextPtr owned(context);
    if (previous >= 0) WriteInstallationRecords(*owned);
    RestartSessionApplications(owned->restart);
    return previous;
}
