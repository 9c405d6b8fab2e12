// The program's own resources, served from the compiled .res that the exe also carries,
// and the message boxes it shows.
#include "platform/constants.h"
#include "platform/sim/call.h"
#include "platform/sim/resource_file.h"

namespace sim {
extern const unsigned char kModuleResources[];
extern const unsigned long kModuleResourcesSize;
}  // namespace sim

namespace win {

namespace {

using sim::Call;

const std::vector<sim::ResourceEntry>& Entries() {
    static const std::vector<sim::ResourceEntry> entries = sim::ParseResFile(
        std::span<const std::uint8_t>(sim::kModuleResources, sim::kModuleResourcesSize));
    return entries;
}

bool Matches(const sim::ResourceId& id, LPCWSTR wanted) {
    const auto value = reinterpret_cast<std::uintptr_t>(wanted);
    if (value < 0x10000) return id.id == value && id.name.empty();
    std::u16string text(wanted);
    if (!text.empty() && text[0] == u'#') return id.id == std::stoul(sim::Narrow(text.substr(1)));
    return id.id == 0 && !sim::Caseless{}(id.name, text) && !sim::Caseless{}(text, id.name);
}

bool IsProgramModule(HMODULE module) {
    return module == nullptr || reinterpret_cast<std::uintptr_t>(module) == 0x00400000;
}

}  // namespace

namespace {

// The lookup both FindResource functions make, logged and failed as the call that asked.
HRSRC FindEntry(Call& call, HMODULE module, LPCWSTR type, LPCWSTR name, LANGID language) {
    if (call.injected) return call.Fail<HRSRC>(nullptr, *call.injected);
    if (!IsProgramModule(module)) return call.Fail<HRSRC>(nullptr, ERROR_RESOURCE_DATA_NOT_FOUND);
    std::vector<const sim::ResourceEntry*> candidates;
    bool typeFound = false;
    for (const sim::ResourceEntry& entry : Entries()) {
        if (!Matches(entry.type, type)) continue;
        typeFound = true;
        if (Matches(entry.name, name)) candidates.push_back(&entry);
    }
    if (!typeFound) return call.Fail<HRSRC>(nullptr, ERROR_RESOURCE_TYPE_NOT_FOUND);
    if (candidates.empty()) return call.Fail<HRSRC>(nullptr, ERROR_RESOURCE_NAME_NOT_FOUND);

    // Language 0 lets the loader choose: neutral, the user interface language, its primary
    // language, English, then whatever there is.
    const LANGID ui = call.machine().uiLanguage;
    auto pick = [&](auto&& accept) -> const sim::ResourceEntry* {
        for (const sim::ResourceEntry* entry : candidates) {
            if (accept(entry->language)) return entry;
        }
        return nullptr;
    };
    const sim::ResourceEntry* chosen = nullptr;
    if (language != 0) {
        chosen = pick([&](LANGID l) { return l == language; });
        if (!chosen) return call.Fail<HRSRC>(nullptr, ERROR_RESOURCE_LANG_NOT_FOUND);
    } else {
        chosen = pick([](LANGID l) { return l == 0; });
        if (!chosen) chosen = pick([&](LANGID l) { return l == ui; });
        if (!chosen) chosen = pick([&](LANGID l) { return (l & 0x3FF) == (ui & 0x3FF); });
        if (!chosen) chosen = pick([](LANGID l) { return l == 1033; });
        if (!chosen) chosen = candidates.front();
    }
    return call.Pointer(reinterpret_cast<HRSRC>(const_cast<sim::ResourceEntry*>(chosen)));
}

}  // namespace

HRSRC FindResourceExW(HMODULE module, LPCWSTR type, LPCWSTR name, LANGID language) {
    Call call("FindResourceExW", sim::Args(static_cast<const void*>(module), type, name,
                                           static_cast<DWORD>(language)));
    return FindEntry(call, module, type, name, language);
}

HRSRC FindResourceW(HMODULE module, LPCWSTR name, LPCWSTR type) {
    Call call("FindResourceW", sim::Args(static_cast<const void*>(module), name, type));
    return FindEntry(call, module, type, name, 0);
}

HGLOBAL LoadResource(HMODULE module, HRSRC resource) {
    Call call("LoadResource",
              sim::Args(static_cast<const void*>(module), static_cast<const void*>(resource)));
    if (call.injected) return call.Fail<HGLOBAL>(nullptr, *call.injected);
    if (resource == nullptr) return call.Fail<HGLOBAL>(nullptr, ERROR_INVALID_HANDLE);
    const auto* entry = reinterpret_cast<const sim::ResourceEntry*>(resource);
    return call.Pointer(const_cast<std::uint8_t*>(entry->data.data()));
}

void* LockResource(HGLOBAL data) {
    Call call("LockResource", sim::Args(static_cast<const void*>(data)));
    if (call.injected) return call.Fail<void*>(nullptr, *call.injected);
    return call.Pointer(data);
}

DWORD SizeofResource(HMODULE module, HRSRC resource) {
    Call call("SizeofResource",
              sim::Args(static_cast<const void*>(module), static_cast<const void*>(resource)));
    if (call.injected) return call.Fail<DWORD>(0, *call.injected);
    if (resource == nullptr) return call.Fail<DWORD>(0, ERROR_INVALID_HANDLE);
    return call.Return(
        static_cast<DWORD>(reinterpret_cast<const sim::ResourceEntry*>(resource)->data.size()));
}

int MessageBoxW(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type) {
    Call call("MessageBoxW", sim::Args(static_cast<const void*>(owner), text, caption, type));
    if (call.injected) return call.Fail<int>(0, *call.injected);
    call.machine().messageBoxes.push_back(
        {owner, text ? text : u"", caption ? caption : u"", type});
    return call.Return<int>(IDOK);
}

}  // namespace win
