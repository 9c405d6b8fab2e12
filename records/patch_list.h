// This update's entry in the patch list of the maker's shared application database.
#pragma once

// Creates or refreshes the entry "PatchList\<updateId>" below the product's AppDB key.
// True when every value it attempted was stored; false when the product key does not open,
// the entry cannot be created, an argument is null or a write fails (the values written
// before the failure stay).
bool RegisterPatchList(const char16_t* updateId, const char16_t* productName);
