// The shell's path and folder helpers on the simulated machine.
#include "platform/constants.h"
#include "platform/sim/call.h"

namespace win {

namespace {

using sim::Call;

constexpr int kBadPathName = 161;  // ERROR_BAD_PATHNAME

// A full path starts with a drive ("C:\") or two separators (UNC and the \\?\ forms).
bool IsFullPath(const std::u16string& path) {
    if (path.size() >= 3 && path[1] == u':' && (path[2] == u'\\' || path[2] == u'/')) return true;
    return path.size() >= 2 && (path[0] == u'\\' || path[0] == u'/') &&
           (path[1] == u'\\' || path[1] == u'/');
}

}  // namespace

int SHCreateDirectory(HWND, LPCWSTR path) {
    Call call("SHCreateDirectory", sim::Args(path));
    if (call.injected) return call.Fail(static_cast<int>(*call.injected), *call.injected);
    if (path == nullptr || !IsFullPath(path)) return call.Fail(kBadPathName, kBadPathName);
    if (std::u16string_view(path).size() >= MAX_PATH)
        return call.Fail(static_cast<int>(ERROR_FILENAME_EXCED_RANGE), ERROR_FILENAME_EXCED_RANGE);
    sim::Machine& m = call.machine();
    const std::u16string name = sim::Machine::NormalizePath(path);
    if (m.DirectoryExists(name) || m.FindFile(name))
        return call.Fail(static_cast<int>(ERROR_ALREADY_EXISTS), ERROR_ALREADY_EXISTS);
    // Every missing folder on the way is created; a file in the way stops it.
    std::vector<std::u16string> missing;
    for (std::u16string folder = name; !folder.empty() && !m.DirectoryExists(folder);
         folder = sim::Machine::ParentFolder(folder)) {
        if (m.FindFile(folder))
            return call.Fail(static_cast<int>(ERROR_PATH_NOT_FOUND), ERROR_PATH_NOT_FOUND);
        missing.push_back(folder);
    }
    if (!m.DirectoryExists(sim::Machine::ParentFolder(missing.back())))
        return call.Fail(static_cast<int>(ERROR_PATH_NOT_FOUND), ERROR_PATH_NOT_FOUND);
    for (const std::u16string& folder : missing) m.directories.insert(folder);
    SetLastError(ERROR_SUCCESS);
    return call.Return(static_cast<int>(ERROR_SUCCESS));
}

LPWSTR PathFindFileNameW(LPCWSTR path) {
    Call call("PathFindFileNameW", sim::Args(path));
    if (path == nullptr) return call.Pointer<LPWSTR>(nullptr);
    // After the last separator or drive colon that has a name after it, so that a
    // trailing separator stays with the last name.
    LPCWSTR name = path;
    for (LPCWSTR p = path; *p; ++p) {
        if ((*p == u'\\' || *p == u'/' || *p == u':') && p[1] && p[1] != u'\\' && p[1] != u'/')
            name = p + 1;
    }
    return call.Pointer(const_cast<LPWSTR>(name));
}

BOOL PathFileExistsW(LPCWSTR path) {
    Call call("PathFileExistsW", sim::Args(path));
    if (call.injected) return call.Fail<BOOL>(0, *call.injected);
    if (path == nullptr) return call.Return<BOOL>(0);
    const sim::Machine& m = call.machine();
    if (m.FindFile(path) || m.DirectoryExists(path)) return call.Return<BOOL>(1);
    return call.Fail<BOOL>(0, m.NotFoundError(path));
}

}  // namespace win
