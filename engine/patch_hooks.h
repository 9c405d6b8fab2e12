// The two hooks around the file work of a patch run, and the disposal of their shared
// context. Both hooks run on the worker thread.
#pragma once

#include <memory>

#include "engine/patch_table.h"
#include "engine/update_context.h"
#include "platform/api.h"

// Previous result code, the stop event, the process's work list and the context (absent
// when it could not be allocated); returns the result code that goes on.
using PatchHook = win::HRESULT (*)(win::HRESULT previous, win::HANDLE stopEvent,
                                   PatchWorkList& items, UpdateContext* context);

// Ends the context's Restart Manager session and frees the record.
struct UpdateContextDisposer {
    void operator()(UpdateContext* context) const;
};
using UpdateContextPtr = std::unique_ptr<UpdateContext, UpdateContextDisposer>;

// A new context with empty texts and its Restart Manager state opened; empty when the
// record cannot be allocated.
UpdateContextPtr CreateUpdateContext();

// Pre-work: closes the applications that use the existing targets (Restart Manager) and
// fills in the update's identity.
win::HRESULT BeforePatching(win::HRESULT previous, win::HANDLE stopEvent, PatchWorkList& items,
                            UpdateContext* context);

// Post-work: writes the installation records after successful file work, lets Restart
// Manager restart the applications, and disposes of the context, which it owns from the
// moment it is called. Returns `previous`.
win::HRESULT AfterPatching(win::HRESULT previous, win::HANDLE stopEvent, PatchWorkList& items,
                           UpdateContext* context);
