// engine_probe: the patch engine and the records of the real program, run on their own under
// Wine against a staged product, so an end-to-end test can check the files and records they
// leave without the checks and the dialog in front of them.
//
//   engine_probe.exe     (no arguments)
//
// Resolves the targets of the installed product, applies the work list with the payloads
// this program carries (the same compiled resources as the product's exe), writes the
// installation records when that succeeded, and prints:
//   items=N            the number of work items
//   apply=0xXXXXXXXX   the result of the file work
//   records=written    when the records were written
// The exit code is the result of the file work.
#include <cstdio>

#include "engine/file_replacement.h"
#include "engine/update_context.h"
#include "inspect/target_resolution.h"
#include "records/installation_records.h"

int wmain() {
    PatchWorkList items;
    ResolveTargets(items);
    std::printf("items=%u\n", static_cast<unsigned>(items.size()));
    const win::HRESULT result = ApplyPatchItems(items, win::GetModuleHandleW(nullptr));
    std::printf("apply=0x%08X\n", static_cast<unsigned>(result));
    if (result >= 0) {
        UpdateContext context;
        SetUpdateIdentity(context);
        WriteInstallationRecords(context);
        std::printf("records=written\n");
    }
    std::fflush(stdout);
    return result;
}
