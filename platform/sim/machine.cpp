#include "platform/sim/machine.h"

#include <algorithm>

namespace sim {

namespace {

std::unique_ptr<Machine>& Current() {
    static std::unique_ptr<Machine> current = std::make_unique<Machine>();
    return current;
}

char16_t Upper(char16_t c) {
    if (c >= u'a' && c <= u'z') return static_cast<char16_t>(c - 32);
    if (c >= 0xE0 && c <= 0xFE && c != 0xF7) return static_cast<char16_t>(c - 32);
    return c;
}

std::u16string UpperCase(std::u16string text) {
    std::transform(text.begin(), text.end(), text.begin(), Upper);
    return text;
}

std::vector<std::u16string> SplitPath(const std::u16string& path) {
    std::vector<std::u16string> parts;
    std::u16string part;
    for (char16_t c : path) {
        if (c == u'\\') {
            if (!part.empty()) parts.push_back(part);
            part.clear();
        } else {
            part += c;
        }
    }
    if (!part.empty()) parts.push_back(part);
    return parts;
}

bool SameText(const std::u16string& a, const std::u16string& b) {
    return UpperCase(a) == UpperCase(b);
}

}  // namespace

bool Caseless::operator()(const std::u16string& a, const std::u16string& b) const {
    return UpperCase(a) < UpperCase(b);
}

Machine& machine() {
    return *Current();
}
void ResetMachine() {
    Current() = std::make_unique<Machine>();
}

std::string Narrow(std::u16string_view text) {
    std::string out;
    for (std::size_t i = 0; i < text.size(); ++i) {
        std::uint32_t c = text[i];
        if (c >= 0xD800 && c < 0xDC00 && i + 1 < text.size()) {
            c = 0x10000 + ((c - 0xD800) << 10) + (text[++i] - 0xDC00);
        }
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else if (c < 0x800) {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else if (c < 0x10000) {
            out += static_cast<char>(0xE0 | (c >> 12));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        } else {
            out += static_cast<char>(0xF0 | (c >> 18));
            out += static_cast<char>(0x80 | ((c >> 12) & 0x3F));
            out += static_cast<char>(0x80 | ((c >> 6) & 0x3F));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::u16string Widen(std::string_view text) {
    std::u16string out;
    for (std::size_t i = 0; i < text.size();) {
        const auto b = static_cast<unsigned char>(text[i]);
        std::uint32_t c = b;
        int extra = b >= 0xF0 ? 3 : b >= 0xE0 ? 2 : b >= 0xC0 ? 1 : 0;
        if (extra > 0) c = b & (0x3F >> extra);
        ++i;
        for (; extra > 0 && i < text.size(); --extra, ++i)
            c = (c << 6) | (static_cast<unsigned char>(text[i]) & 0x3F);
        if (c >= 0x10000) {
            c -= 0x10000;
            out += static_cast<char16_t>(0xD800 + (c >> 10));
            out += static_cast<char16_t>(0xDC00 + (c & 0x3FF));
        } else {
            out += static_cast<char16_t>(c);
        }
    }
    return out;
}

Machine::Machine() : hklm(std::make_shared<RegKey>()) {
    hklm->name = u"HKEY_LOCAL_MACHINE";
    classes = Resolve(hklm, false, View::Wow64, u"Software\\Classes", true);
    tokenGroups = {
        {MakeSid(1, {0}), 0x7},        // Everyone
        {MakeSid(5, {32, 545}), 0x7},  // Users
        {MakeSid(5, {32, 544}), 0xF},  // Administrators, enabled and owner
        {MakeSid(5, {4}), 0x7},        // Interactive
    };
    processes = {{4, u"System"},
                 {388, u"wininit.exe"},
                 {1200, u"explorer.exe"},
                 {processId, u"ReelwrightUpdate.exe"}};
    AddDirectory(u"C:\\Windows\\System32");
    AddDirectory(tempPath);
}

std::vector<std::uint8_t> Machine::MakeSid(std::uint8_t authority,
                                           std::vector<win::DWORD> subAuthorities) {
    std::vector<std::uint8_t> sid = {
        1, static_cast<std::uint8_t>(subAuthorities.size()), 0, 0, 0, 0, 0, authority};
    for (win::DWORD sub : subAuthorities) {
        for (int i = 0; i < 4; ++i) sid.push_back(static_cast<std::uint8_t>(sub >> (8 * i)));
    }
    return sid;
}

void Machine::SetAdministratorGroup(win::DWORD attributes) {
    const auto admins = MakeSid(5, {32, 544});
    for (TokenGroup& group : tokenGroups) {
        if (group.sid == admins) group.attributes = attributes;
    }
}

void Machine::StartProcess(const std::u16string& exeName) {
    const win::DWORD pid = 5000 + static_cast<win::DWORD>(processes.size()) * 4;
    processes.push_back({pid, exeName});
}

void Machine::HoldMutexElsewhere(const std::u16string& name) {
    ++mutexRefs[name];
}

RegKeyPtr Machine::Resolve(const RegKeyPtr& parent, bool parentIsMachineRoot, View view,
                           const std::u16string& path, bool create, bool* created) const {
    std::vector<std::u16string> parts = SplitPath(path);
    // A 32-bit program on 64-bit Windows sees HKLM\Software\Wow6432Node as HKLM\Software.
    const bool view32 = Is64Bit() && view != View::Wow64;
    if (parentIsMachineRoot && view32 && !parts.empty() && SameText(parts[0], u"Software") &&
        (parts.size() == 1 ||
         (!SameText(parts[1], u"Wow6432Node") && !SameText(parts[1], u"Classes")))) {
        parts.insert(parts.begin() + 1, u"Wow6432Node");
    }
    if (created) *created = false;
    RegKeyPtr key = parent;
    for (const std::u16string& part : parts) {
        auto found = key->subkeys.find(part);
        if (found == key->subkeys.end()) {
            if (!create) return nullptr;
            auto child = std::make_shared<RegKey>();
            child->name = part;
            child->parent = key.get();
            found = key->subkeys.emplace(part, child).first;
            if (created) *created = true;
        }
        key = found->second;
    }
    return key;
}

namespace {

// "HKLM\..." or "HKCR\..." (HKLM when no root is named).
std::pair<bool, std::u16string> SplitRoot(const std::u16string& path) {
    if (path.rfind(u"HKCR\\", 0) == 0) return {false, path.substr(5)};
    if (path.rfind(u"HKLM\\", 0) == 0) return {true, path.substr(5)};
    return {true, path};
}

}  // namespace

void Machine::SetValue(View view, const std::u16string& path, const std::u16string& name,
                       win::DWORD type, std::vector<std::uint8_t> data) {
    const auto [machineRoot, rest] = SplitRoot(path);
    RegKeyPtr key = Resolve(machineRoot ? hklm : classes, machineRoot, view, rest, true);
    key->values[name] = RegValue{type, std::move(data)};
}

void Machine::SetString(View view, const std::u16string& path, const std::u16string& name,
                        const std::u16string& text) {
    std::vector<std::uint8_t> data;
    for (char16_t c : text) {
        data.push_back(static_cast<std::uint8_t>(c & 0xFF));
        data.push_back(static_cast<std::uint8_t>(c >> 8));
    }
    data.push_back(0);
    data.push_back(0);
    SetValue(view, path, name, 1, std::move(data));
}

void Machine::SetDword(View view, const std::u16string& path, const std::u16string& name,
                       win::DWORD value) {
    SetValue(view, path, name, 4,
             {static_cast<std::uint8_t>(value), static_cast<std::uint8_t>(value >> 8),
              static_cast<std::uint8_t>(value >> 16), static_cast<std::uint8_t>(value >> 24)});
}

void Machine::CreateKey(View view, const std::u16string& path) {
    const auto [machineRoot, rest] = SplitRoot(path);
    Resolve(machineRoot ? hklm : classes, machineRoot, view, rest, true);
}

void Machine::DeleteKey(View view, const std::u16string& path) {
    const auto [machineRoot, rest] = SplitRoot(path);
    const RegKeyPtr key = Resolve(machineRoot ? hklm : classes, machineRoot, view, rest, false);
    if (!key || !key->parent) return;
    key->deleted = true;
    key->parent->subkeys.erase(key->name);
    key->parent = nullptr;
}

std::optional<RegValue> Machine::GetValue(View view, const std::u16string& path,
                                          const std::u16string& name) const {
    const auto [machineRoot, rest] = SplitRoot(path);
    const RegKeyPtr key = Resolve(machineRoot ? hklm : classes, machineRoot, view, rest, false);
    if (!key) return std::nullopt;
    const auto found = key->values.find(name);
    if (found == key->values.end()) return std::nullopt;
    return found->second;
}

std::optional<std::u16string> Machine::GetString(View view, const std::u16string& path,
                                                 const std::u16string& name) const {
    const auto value = GetValue(view, path, name);
    if (!value || (value->type != 1 && value->type != 2)) return std::nullopt;
    std::u16string text;
    for (std::size_t i = 0; i + 1 < value->data.size(); i += 2)
        text += static_cast<char16_t>(value->data[i] | (value->data[i + 1] << 8));
    if (!text.empty() && text.back() == u'\0') text.pop_back();
    return text;
}

bool Machine::KeyExists(View view, const std::u16string& path) const {
    const auto [machineRoot, rest] = SplitRoot(path);
    return Resolve(machineRoot ? hklm : classes, machineRoot, view, rest, false) != nullptr;
}

std::u16string Machine::NormalizePath(const std::u16string& path) {
    std::u16string p = path;
    std::replace(p.begin(), p.end(), u'/', u'\\');
    if (p.rfind(u"\\\\?\\UNC\\", 0) == 0) {
        p = u"\\\\" + p.substr(8);
    } else if (p.rfind(u"\\\\?\\", 0) == 0) {
        p = p.substr(4);
    } else {
        // Windows reads a run of separators inside a plain path as one ("C:\App\\x.txt").
        const std::size_t root = p.rfind(u"\\\\", 0) == 0 ? 2 : 0;
        const auto doubled = [](char16_t a, char16_t b) { return a == u'\\' && b == u'\\'; };
        p.erase(std::unique(p.begin() + static_cast<std::ptrdiff_t>(root), p.end(), doubled),
                p.end());
    }
    while (p.size() > 3 && p.back() == u'\\') p.pop_back();
    return UpperCase(p);
}

void Machine::AddDirectory(const std::u16string& path) {
    std::u16string p = NormalizePath(path);
    // Every parent folder exists too.
    for (std::size_t at = p.find(u'\\', 3); at != std::u16string::npos; at = p.find(u'\\', at + 1))
        directories.insert(p.substr(0, at));
    directories.insert(p);
}

void Machine::AddFile(const std::u16string& path, std::vector<std::uint8_t> bytes,
                      win::DWORD attributes) {
    const std::u16string p = NormalizePath(path);
    const std::size_t slash = p.rfind(u'\\');
    if (slash != std::u16string::npos) AddDirectory(p.substr(0, slash));
    files[p] = File{std::move(bytes), attributes,
                    FileTimes{systemTime, systemTime, systemTime, systemTime}};
}

void Machine::DeleteFolder(const std::u16string& path) {
    const std::u16string folder = NormalizePath(path);
    auto inside = [&](const std::u16string& p) {
        return p == folder ||
               (p.size() > folder.size() && p.compare(0, folder.size(), folder) == 0 &&
                p[folder.size()] == u'\\');
    };
    std::erase_if(files, [&](const auto& entry) { return inside(entry.first); });
    std::erase_if(directories, [&](const std::u16string& d) { return inside(d); });
}

const File* Machine::FindFile(const std::u16string& path) const {
    const auto found = files.find(NormalizePath(path));
    return found == files.end() ? nullptr : &found->second;
}

File* Machine::FindFile(const std::u16string& path) {
    const auto found = files.find(NormalizePath(path));
    return found == files.end() ? nullptr : &found->second;
}

namespace {

// "X:\" or "\\server\share": folders that exist without being created.
bool IsRoot(const std::u16string& normalized) {
    if (normalized.size() == 3 && normalized[1] == u':' && normalized[2] == u'\\') return true;
    if (normalized.rfind(u"\\\\", 0) != 0) return false;
    const std::size_t server = normalized.find(u'\\', 2);
    return server != std::u16string::npos && server > 2 && server + 1 < normalized.size() &&
           normalized.find(u'\\', server + 1) == std::u16string::npos;
}

bool Inside(const std::u16string& path, const std::u16string& folder) {
    return path.size() > folder.size() && path.compare(0, folder.size(), folder) == 0 &&
           (path[folder.size()] == u'\\' || folder.back() == u'\\');
}

// Only reading, writing (appending) and deleting take part in sharing checks.
constexpr win::DWORD kReadData = 0x0001 | 0x0020;   // FILE_READ_DATA, FILE_EXECUTE
constexpr win::DWORD kWriteData = 0x0002 | 0x0004;  // FILE_WRITE_DATA, FILE_APPEND_DATA
constexpr win::DWORD kDelete = 0x00010000;

bool Conflicts(win::DWORD access, win::DWORD shareMode, win::DWORD otherAccess,
               win::DWORD otherShare) {
    const win::DWORD data = kReadData | kWriteData | kDelete;
    // The other open limits this one only when it holds data access itself.
    if ((otherAccess & data) != 0 &&
        (((access & kReadData) && !(otherShare & 1)) ||
         ((access & kWriteData) && !(otherShare & 2)) || ((access & kDelete) && !(otherShare & 4))))
        return true;
    // An open without data access ignores its own sharing mode.
    if ((access & data) == 0) return false;
    return ((otherAccess & kReadData) && !(shareMode & 1)) ||
           ((otherAccess & kWriteData) && !(shareMode & 2)) ||
           ((otherAccess & kDelete) && !(shareMode & 4));
}

}  // namespace

bool Machine::DirectoryExists(const std::u16string& path) const {
    const std::u16string normalized = NormalizePath(path);
    return IsRoot(normalized) || directories.count(normalized) != 0;
}

void Machine::HoldFileElsewhere(const std::u16string& path, win::DWORD access,
                                win::DWORD shareMode) {
    foreignOpens.push_back({NormalizePath(path), access, shareMode});
}

void Machine::ReleaseFile(const std::u16string& path) {
    const std::u16string normalized = NormalizePath(path);
    std::erase_if(foreignOpens, [&](const ForeignOpen& open) { return open.path == normalized; });
}

win::DWORD Machine::FileRights(win::DWORD access) {
    constexpr win::DWORD kGenericRead = 0x80000000u, kGenericWrite = 0x40000000u,
                         kGenericExecute = 0x20000000u, kGenericAll = 0x10000000u;
    win::DWORD rights = access & 0x0FFFFFFFu;
    if (access & kGenericRead) rights |= 0x00120089;     // FILE_GENERIC_READ
    if (access & kGenericWrite) rights |= 0x00120116;    // FILE_GENERIC_WRITE
    if (access & kGenericExecute) rights |= 0x001200A0;  // FILE_GENERIC_EXECUTE
    if (access & kGenericAll) rights |= 0x001F01FF;      // FILE_ALL_ACCESS
    return rights;
}

bool Machine::SharingAllows(const std::u16string& path, win::DWORD access,
                            win::DWORD shareMode) const {
    const std::u16string normalized = NormalizePath(path);
    const win::DWORD rights = FileRights(access);
    for (const ForeignOpen& other : foreignOpens) {
        if (other.path == normalized &&
            Conflicts(rights, shareMode, FileRights(other.access), other.shareMode))
            return false;
    }
    for (const std::weak_ptr<FileOpen>& weak : fileOpens) {
        const std::shared_ptr<FileOpen> other = weak.lock();
        if (other && !other->unlinked && other->path == normalized &&
            Conflicts(rights, shareMode, other->access, other->shareMode))
            return false;
    }
    return true;
}

std::shared_ptr<FileOpen> Machine::OpenFile(const std::u16string& path, win::DWORD access,
                                            win::DWORD shareMode) {
    std::erase_if(fileOpens, [](const std::weak_ptr<FileOpen>& weak) { return weak.expired(); });
    auto open = std::make_shared<FileOpen>();
    open->path = NormalizePath(path);
    open->access = FileRights(access);
    open->shareMode = shareMode;
    fileOpens.push_back(open);
    return open;
}

File* Machine::FileOf(const FileOpen& open) {
    if (open.unlinked) return open.unlinked.get();
    const auto found = files.find(open.path);
    return found == files.end() ? nullptr : &found->second;
}

win::DWORD Machine::NotFoundError(const std::u16string& path) const {
    return ParentExists(path) ? 2 : 3;  // ERROR_FILE_NOT_FOUND, ERROR_PATH_NOT_FOUND
}

std::u16string Machine::ParentFolder(const std::u16string& normalized) {
    const std::size_t slash = normalized.rfind(u'\\');
    if (slash == std::u16string::npos || slash < 2) return {};
    // The parent of "C:\\name" is the root "C:\\".
    return normalized.substr(0, slash == 2 ? 3 : slash);
}

bool Machine::ParentExists(const std::u16string& path) const {
    const std::u16string parent = ParentFolder(NormalizePath(path));
    return !parent.empty() && DirectoryExists(parent);
}

bool Machine::HasChildren(const std::u16string& folder) const {
    const std::u16string normalized = NormalizePath(folder);
    const auto inside = [&](const std::u16string& p) { return Inside(p, normalized); };
    return std::any_of(files.begin(), files.end(),
                       [&](const auto& f) { return inside(f.first); }) ||
           std::any_of(directories.begin(), directories.end(), inside);
}

void Machine::RenamePath(const std::u16string& from, const std::u16string& to) {
    const std::u16string source = NormalizePath(from), target = NormalizePath(to);
    const auto moved = [&](const std::u16string& p) -> std::optional<std::u16string> {
        if (p == source) return target;
        if (Inside(p, source)) return target + p.substr(source.size());
        return std::nullopt;
    };
    std::map<std::u16string, File> movedFiles;
    for (auto it = files.begin(); it != files.end();) {
        if (const auto name = moved(it->first)) {
            movedFiles.emplace(*name, std::move(it->second));
            it = files.erase(it);
        } else {
            ++it;
        }
    }
    files.merge(movedFiles);
    std::set<std::u16string> movedFolders;
    for (auto it = directories.begin(); it != directories.end();) {
        if (const auto name = moved(*it)) {
            movedFolders.insert(*name);
            it = directories.erase(it);
        } else {
            ++it;
        }
    }
    directories.merge(movedFolders);
    for (ForeignOpen& open : foreignOpens) {
        if (const auto name = moved(open.path)) open.path = *name;
    }
    for (const std::weak_ptr<FileOpen>& weak : fileOpens) {
        const std::shared_ptr<FileOpen> open = weak.lock();
        if (!open || open->unlinked) continue;
        if (const auto name = moved(open->path)) open->path = *name;
    }
}

win::DWORD Machine::ChangedAttributes(win::DWORD current, win::DWORD requested) {
    // Read-only, hidden, system, archive, normal, temporary, offline, not indexed.
    constexpr win::DWORD kSettable = 0x31A7;
    constexpr win::DWORD kNormal = 0x80;
    win::DWORD next = (current & ~kSettable) | (requested & kSettable);
    if (next != kNormal) next &= ~kNormal;
    return next == 0 ? kNormal : next;
}

void Machine::UnlinkFile(const std::u16string& path) {
    const std::u16string normalized = NormalizePath(path);
    const auto found = files.find(normalized);
    if (found == files.end()) return;
    std::shared_ptr<File> contents;
    for (const std::weak_ptr<FileOpen>& weak : fileOpens) {
        const std::shared_ptr<FileOpen> open = weak.lock();
        if (!open || open->unlinked || open->path != normalized) continue;
        if (!contents) contents = std::make_shared<File>(std::move(found->second));
        open->unlinked = contents;
    }
    std::erase_if(foreignOpens, [&](const ForeignOpen& open) { return open.path == normalized; });
    files.erase(found);
}

void Machine::Fail(const std::string& function, win::DWORD error, int occurrence) {
    failures_.push_back({function, error, occurrence});
}

std::optional<win::DWORD> Machine::Enter(const std::string& function) {
    const int count = ++callCounts_[function];
    for (const Failure& failure : failures_) {
        if (failure.function == function &&
            (failure.occurrence == 0 || failure.occurrence == count))
            return failure.error;
    }
    return std::nullopt;
}

void Machine::Log(std::string function, std::string arguments, std::string result) {
    calls.push_back({std::move(function), std::move(arguments), std::move(result)});
}

std::size_t Machine::CountCalls(const std::string& function) const {
    return static_cast<std::size_t>(std::count_if(
        calls.begin(), calls.end(), [&](const CallRecord& c) { return c.function == function; }));
}

std::vector<CallRecord> Machine::CallsTo(const std::string& function) const {
    std::vector<CallRecord> found;
    std::copy_if(calls.begin(), calls.end(), std::back_inserter(found),
                 [&](const CallRecord& c) { return c.function == function; });
    return found;
}

win::HANDLE Machine::AddHandle(std::shared_ptr<KernelObject> object) {
    const std::uintptr_t value = nextHandle_;
    nextHandle_ += 4;
    handles_[value] = std::move(object);
    return reinterpret_cast<win::HANDLE>(value);
}

std::shared_ptr<KernelObject> Machine::FindHandle(win::HANDLE handle) const {
    const auto found = handles_.find(reinterpret_cast<std::uintptr_t>(handle));
    return found == handles_.end() ? nullptr : found->second;
}

bool Machine::CloseHandle(win::HANDLE handle) {
    return handles_.erase(reinterpret_cast<std::uintptr_t>(handle)) != 0;
}

}  // namespace sim
