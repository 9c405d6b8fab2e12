// The registry of the simulated machine: HKLM with the two views of its software branch as
// a 32-bit program sees them, HKCR as HKLM\Software\Classes.
#include <cstring>

#include "platform/constants.h"
#include "platform/sim/call.h"

namespace win {

namespace {

using sim::Call;
using sim::RegKeyPtr;

constexpr DWORD kViewBits = KEY_WOW64_32KEY | KEY_WOW64_64KEY;
constexpr REGSAM kAllAccess = 0xF003F;

struct OpenKey {
    RegKeyPtr key;
    REGSAM access = 0;
    bool machineRoot = false;
};

// The key behind a handle or predefined root; null key for an invalid handle.
OpenKey Lookup(sim::Machine& m, HKEY key) {
    if (key == HKEY_LOCAL_MACHINE) return {m.hklm, kAllAccess, true};
    if (key == HKEY_CLASSES_ROOT) return {m.classes, kAllAccess, false};
    const auto found = m.keyHandles.find(reinterpret_cast<std::uintptr_t>(key));
    if (found == m.keyHandles.end()) return {};
    return {found->second.first, found->second.second, false};
}

sim::View ViewOf(REGSAM access) {
    if (access & KEY_WOW64_64KEY) return sim::View::Wow64;
    if (access & KEY_WOW64_32KEY) return sim::View::Wow32;
    return sim::View::Default;
}

HKEY NewHandle(sim::Machine& m, RegKeyPtr key, REGSAM access) {
    const std::uintptr_t value = m.nextKeyHandle;
    m.nextKeyHandle += 4;
    m.keyHandles[value] = {std::move(key), access};
    return reinterpret_cast<HKEY>(value);
}

std::u16string Text(LPCWSTR text) {
    return text ? std::u16string(text) : std::u16string();
}

void Detach(sim::RegKey& key) {
    key.deleted = true;
    if (key.parent) key.parent->subkeys.erase(key.name);
    key.parent = nullptr;
}

LSTATUS DeleteKey(Call& call, HKEY key, LPCWSTR subKey, REGSAM view) {
    sim::Machine& m = call.machine();
    const OpenKey parent = Lookup(m, key);
    if (!parent.key) return ERROR_INVALID_HANDLE;
    if (parent.key->deleted) return ERROR_KEY_DELETED;
    if (subKey == nullptr) return ERROR_INVALID_PARAMETER;
    const RegKeyPtr target = m.Resolve(parent.key, parent.machineRoot, ViewOf(view), subKey, false);
    if (!target) return ERROR_FILE_NOT_FOUND;
    if (target == m.hklm || target == m.classes || !target->subkeys.empty())
        return ERROR_ACCESS_DENIED;
    Detach(*target);
    return ERROR_SUCCESS;
}

LSTATUS PLATFORM_API SimRegDeleteKeyExW(HKEY key, LPCWSTR subKey, REGSAM view, DWORD) {
    Call call("RegDeleteKeyExW", sim::Args(static_cast<const void*>(key), subKey, view));
    if (call.injected) return call.Return<LSTATUS>(static_cast<LSTATUS>(*call.injected));
    return call.Return(DeleteKey(call, key, subKey, view));
}

}  // namespace

FARPROC SimRegDeleteKeyExWProc() {
    return reinterpret_cast<FARPROC>(&SimRegDeleteKeyExW);
}

LSTATUS RegOpenKeyExW(HKEY key, LPCWSTR subKey, DWORD, REGSAM access, HKEY* result) {
    Call call("RegOpenKeyExW", sim::Args(static_cast<const void*>(key), subKey, access));
    if (call.injected) return call.Return<LSTATUS>(static_cast<LSTATUS>(*call.injected));
    if (result == nullptr) return call.Return<LSTATUS>(ERROR_INVALID_PARAMETER);
    sim::Machine& m = call.machine();
    const OpenKey parent = Lookup(m, key);
    if (!parent.key) return call.Return<LSTATUS>(ERROR_INVALID_HANDLE);
    if (parent.key->deleted) return call.Return<LSTATUS>(ERROR_KEY_DELETED);
    const RegKeyPtr found =
        m.Resolve(parent.key, parent.machineRoot, ViewOf(access), Text(subKey), false);
    if (!found) return call.Return<LSTATUS>(ERROR_FILE_NOT_FOUND);
    *result = NewHandle(m, found, access & ~kViewBits);
    return call.Return<LSTATUS>(ERROR_SUCCESS);
}

LSTATUS RegCreateKeyExW(HKEY key, LPCWSTR subKey, DWORD, LPWSTR, DWORD, REGSAM access,
                        SECURITY_ATTRIBUTES*, HKEY* result, DWORD* disposition) {
    Call call("RegCreateKeyExW", sim::Args(static_cast<const void*>(key), subKey, access));
    if (call.injected) return call.Return<LSTATUS>(static_cast<LSTATUS>(*call.injected));
    if (result == nullptr || subKey == nullptr)
        return call.Return<LSTATUS>(ERROR_INVALID_PARAMETER);
    sim::Machine& m = call.machine();
    const OpenKey parent = Lookup(m, key);
    if (!parent.key) return call.Return<LSTATUS>(ERROR_INVALID_HANDLE);
    if (parent.key->deleted) return call.Return<LSTATUS>(ERROR_KEY_DELETED);
    if (!(parent.access & KEY_CREATE_SUB_KEY)) return call.Return<LSTATUS>(ERROR_ACCESS_DENIED);
    bool created = false;
    const RegKeyPtr found =
        m.Resolve(parent.key, parent.machineRoot, ViewOf(access), subKey, true, &created);
    *result = NewHandle(m, found, access & ~kViewBits);
    if (disposition) *disposition = created ? REG_CREATED_NEW_KEY : REG_OPENED_EXISTING_KEY;
    return call.Return<LSTATUS>(ERROR_SUCCESS);
}

LSTATUS RegCloseKey(HKEY key) {
    Call call("RegCloseKey", sim::Args(static_cast<const void*>(key)));
    if (call.injected) return call.Return<LSTATUS>(static_cast<LSTATUS>(*call.injected));
    if (key == HKEY_LOCAL_MACHINE || key == HKEY_CLASSES_ROOT)
        return call.Return<LSTATUS>(ERROR_SUCCESS);
    const bool closed = call.machine().keyHandles.erase(reinterpret_cast<std::uintptr_t>(key)) != 0;
    return call.Return<LSTATUS>(closed ? ERROR_SUCCESS : ERROR_INVALID_HANDLE);
}

LSTATUS RegQueryValueExW(HKEY key, LPCWSTR valueName, DWORD*, DWORD* type, BYTE* data,
                         DWORD* dataSize) {
    Call call("RegQueryValueExW",
              sim::Args(static_cast<const void*>(key), valueName, dataSize ? *dataSize : 0u));
    if (call.injected) return call.Return<LSTATUS>(static_cast<LSTATUS>(*call.injected));
    const OpenKey open = Lookup(call.machine(), key);
    if (!open.key) return call.Return<LSTATUS>(ERROR_INVALID_HANDLE);
    if (open.key->deleted) return call.Return<LSTATUS>(ERROR_KEY_DELETED);
    if (!(open.access & KEY_QUERY_VALUE)) return call.Return<LSTATUS>(ERROR_ACCESS_DENIED);
    if (data != nullptr && dataSize == nullptr)
        return call.Return<LSTATUS>(ERROR_INVALID_PARAMETER);
    const auto found = open.key->values.find(Text(valueName));
    if (found == open.key->values.end()) return call.Return<LSTATUS>(ERROR_FILE_NOT_FOUND);
    const sim::RegValue& value = found->second;
    if (type) *type = value.type;
    const auto size = static_cast<DWORD>(value.data.size());
    if (data == nullptr) {
        if (dataSize) *dataSize = size;
        return call.Return<LSTATUS>(ERROR_SUCCESS);
    }
    const DWORD capacity = *dataSize;
    *dataSize = size;
    if (capacity < size) return call.Return<LSTATUS>(ERROR_MORE_DATA);
    if (size != 0) std::memcpy(data, value.data.data(), size);
    return call.Return<LSTATUS>(ERROR_SUCCESS);
}

LSTATUS RegSetValueExW(HKEY key, LPCWSTR valueName, DWORD, DWORD type, const BYTE* data,
                       DWORD dataSize) {
    Call call("RegSetValueExW",
              sim::Args(static_cast<const void*>(key), valueName, type, dataSize));
    if (call.injected) return call.Return<LSTATUS>(static_cast<LSTATUS>(*call.injected));
    const OpenKey open = Lookup(call.machine(), key);
    if (!open.key) return call.Return<LSTATUS>(ERROR_INVALID_HANDLE);
    if (open.key->deleted) return call.Return<LSTATUS>(ERROR_KEY_DELETED);
    if (!(open.access & KEY_SET_VALUE)) return call.Return<LSTATUS>(ERROR_ACCESS_DENIED);
    if (data == nullptr && dataSize != 0) return call.Return<LSTATUS>(ERROR_INVALID_PARAMETER);
    sim::RegValue& value = open.key->values[Text(valueName)];
    value.type = type;
    value.data.assign(data, data + dataSize);
    return call.Return<LSTATUS>(ERROR_SUCCESS);
}

LSTATUS RegEnumKeyExW(HKEY key, DWORD index, LPWSTR name, DWORD* nameLength, DWORD*, LPWSTR, DWORD*,
                      FILETIME*) {
    Call call("RegEnumKeyExW", sim::Args(static_cast<const void*>(key), index));
    if (call.injected) return call.Return<LSTATUS>(static_cast<LSTATUS>(*call.injected));
    const OpenKey open = Lookup(call.machine(), key);
    if (!open.key) return call.Return<LSTATUS>(ERROR_INVALID_HANDLE);
    if (open.key->deleted) return call.Return<LSTATUS>(ERROR_KEY_DELETED);
    if (!(open.access & KEY_ENUMERATE_SUB_KEYS)) return call.Return<LSTATUS>(ERROR_ACCESS_DENIED);
    if (name == nullptr || nameLength == nullptr)
        return call.Return<LSTATUS>(ERROR_INVALID_PARAMETER);
    if (index >= open.key->subkeys.size()) return call.Return<LSTATUS>(ERROR_NO_MORE_ITEMS);
    auto it = open.key->subkeys.begin();
    std::advance(it, index);
    const std::u16string& child = it->first;
    if (child.size() >= *nameLength) return call.Return<LSTATUS>(ERROR_MORE_DATA);
    std::memcpy(name, child.c_str(), (child.size() + 1) * sizeof(char16_t));
    *nameLength = static_cast<DWORD>(child.size());
    return call.Return<LSTATUS>(ERROR_SUCCESS);
}

LSTATUS RegDeleteKeyW(HKEY key, LPCWSTR subKey) {
    Call call("RegDeleteKeyW", sim::Args(static_cast<const void*>(key), subKey));
    if (call.injected) return call.Return<LSTATUS>(static_cast<LSTATUS>(*call.injected));
    return call.Return(DeleteKey(call, key, subKey, 0));
}

}  // namespace win
