#include "records/installation_records.h"

#include "inspect/product_identity.h"
#include "records/history_file.h"
#include "records/patch_list.h"
#include "records/product_registration.h"

void SetUpdateIdentity(UpdateContext& context) {
    context.patchId = product::kUpdateId;
    context.productName = product::kProductName;
}

void WriteInstallationRecords(const UpdateContext& context) {
    // Best effort: each step runs whatever the one before it achieved.
    RegisterPatchList(context.patchId.c_str(), context.productName.c_str());
    AppendUpdateHistory(product::kTargetVersion, context.productName);
    UpdateProductRegistration(product::kTargetVersion);
}
