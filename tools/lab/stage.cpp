// stage: sets up machine state in HKEY_LOCAL_MACHINE from a script, so that a test pays for one
// process start however many values it needs.
//
//   stage.exe [SCRIPT]      (no SCRIPT: the script is read from standard input; UTF-8)
//
// One command per line; empty lines and lines starting with '#' are skipped. VIEW is 32 or 64.
// KEYPATH and NAME are single words or "double-quoted" (key paths often contain spaces);
// NAME "@" is the key's default value.
//   delete-tree VIEW KEYPATH              the key with everything below it; missing is fine
//   set-sz      VIEW KEYPATH NAME VALUE   REG_SZ; VALUE is the rest of the line after the one
//                                         space that follows NAME, and may be empty
//   set-dword   VIEW KEYPATH NAME NUMBER  decimal or 0x hexadecimal
//   set-binary  VIEW KEYPATH NAME HEX     e.g. 01000000; may be empty
//   delete-dir  PATH                      a folder with everything in it; missing is fine
//   make-dir    PATH                      with its missing parents
//   copy-file   SOURCE TARGET             overwrites TARGET
//   write-file  TARGET TEXT               TEXT is the rest of the line, written as UTF-8
// Keys are created as needed. The first failure is reported and ends the run with exit code 1.
#include <windows.h>

#include <algorithm>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace {

std::string ToUtf8(const std::wstring& text) {
    if (text.empty()) return {};
    int size = WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), nullptr,
                                   0, nullptr, nullptr);
    std::string out(static_cast<size_t>(size), '\0');
    WideCharToMultiByte(CP_UTF8, 0, text.data(), static_cast<int>(text.size()), out.data(), size,
                        nullptr, nullptr);
    return out;
}

std::optional<std::wstring> FromUtf8(const std::string& bytes) {
    if (bytes.empty()) return std::wstring();
    int size = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(),
                                   static_cast<int>(bytes.size()), nullptr, 0);
    if (size <= 0) return std::nullopt;
    std::wstring out(static_cast<size_t>(size), L'\0');
    MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, bytes.data(), static_cast<int>(bytes.size()),
                        out.data(), size);
    return out;
}

void Err(const std::wstring& line) {
    std::string bytes = ToUtf8(line) + "\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_ERROR_HANDLE), bytes.data(), static_cast<DWORD>(bytes.size()),
              &written, nullptr);
}

std::optional<std::string> ReadAll(HANDLE handle) {
    std::string data;
    char buffer[4096];
    for (;;) {
        DWORD got = 0;
        if (!ReadFile(handle, buffer, sizeof(buffer), &got, nullptr)) {
            if (GetLastError() == ERROR_BROKEN_PIPE)
                break;  // the writer closed the pipe: end of input
            return std::nullopt;
        }
        if (got == 0) break;
        data.append(buffer, got);
    }
    return data;
}

std::wstring ErrorText(LSTATUS status) {
    return L"error " + std::to_wstring(status);
}

// Reads the line from left to right: words, then the raw rest.
class LineReader {
  public:
    explicit LineReader(const std::wstring& line) : line_(line) {}

    std::optional<std::wstring> Word() {
        while (pos_ < line_.size() && (line_[pos_] == L' ' || line_[pos_] == L'\t')) ++pos_;
        if (pos_ >= line_.size()) return std::nullopt;
        if (line_[pos_] == L'"') {
            size_t close = line_.find(L'"', pos_ + 1);
            if (close == std::wstring::npos) return std::nullopt;
            std::wstring word = line_.substr(pos_ + 1, close - pos_ - 1);
            pos_ = close + 1;
            return word;
        }
        size_t end = line_.find_first_of(L" \t", pos_);
        if (end == std::wstring::npos) end = line_.size();
        std::wstring word = line_.substr(pos_, end - pos_);
        pos_ = end;
        return word;
    }

    // Everything after the single separator that follows the previous word.
    std::wstring Rest() {
        if (pos_ < line_.size() && (line_[pos_] == L' ' || line_[pos_] == L'\t')) ++pos_;
        return line_.substr(std::min(pos_, line_.size()));
    }

  private:
    const std::wstring& line_;
    size_t pos_ = 0;
};

std::optional<REGSAM> ParseView(const std::wstring& view) {
    if (view == L"32") return KEY_WOW64_32KEY;
    if (view == L"64") return KEY_WOW64_64KEY;
    return std::nullopt;
}

std::optional<uint32_t> ParseNumber(const std::wstring& text) {
    int base = 10;
    size_t start = 0;
    if (text.size() > 2 && text[0] == L'0' && (text[1] == L'x' || text[1] == L'X'))
        base = 16, start = 2;
    if (start >= text.size()) return std::nullopt;
    uint64_t value = 0;
    for (size_t i = start; i < text.size(); ++i) {
        wchar_t c = text[i];
        int digit = (c >= L'0' && c <= L'9')                 ? c - L'0'
                    : (base == 16 && c >= L'a' && c <= L'f') ? c - L'a' + 10
                    : (base == 16 && c >= L'A' && c <= L'F') ? c - L'A' + 10
                                                             : -1;
        if (digit < 0) return std::nullopt;
        value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit);
        if (value > 0xFFFFFFFFu) return std::nullopt;
    }
    return static_cast<uint32_t>(value);
}

std::optional<std::vector<BYTE>> ParseHex(const std::wstring& text) {
    std::wstring digits;
    for (wchar_t c : text)
        if (c != L' ' && c != L'\t') digits += c;
    if (digits.size() % 2 != 0) return std::nullopt;
    std::vector<BYTE> bytes;
    for (size_t i = 0; i < digits.size(); i += 2) {
        auto byte = ParseNumber(L"0x" + digits.substr(i, 2));
        if (!byte) return std::nullopt;
        bytes.push_back(static_cast<BYTE>(*byte));
    }
    return bytes;
}

// Deletes the key in the given view: the tree below it through a handle opened in that view
// (RegDeleteTreeW has no view argument), then the key itself.
LSTATUS DeleteTree(REGSAM view, const std::wstring& path) {
    HKEY key = nullptr;
    LSTATUS status = RegOpenKeyExW(
        HKEY_LOCAL_MACHINE, path.c_str(), 0,
        DELETE | KEY_ENUMERATE_SUB_KEYS | KEY_QUERY_VALUE | KEY_SET_VALUE | view, &key);
    if (status == ERROR_FILE_NOT_FOUND) return ERROR_SUCCESS;
    if (status != ERROR_SUCCESS) return status;
    status = RegDeleteTreeW(key, nullptr);
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) return status;
    status = RegDeleteKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), view, 0);
    return status == ERROR_FILE_NOT_FOUND ? ERROR_SUCCESS : status;
}

LSTATUS SetValue(REGSAM view, const std::wstring& path, const std::wstring& name, DWORD type,
                 const void* data, DWORD size) {
    HKEY key = nullptr;
    LSTATUS status = RegCreateKeyExW(HKEY_LOCAL_MACHINE, path.c_str(), 0, nullptr, 0,
                                     KEY_SET_VALUE | view, nullptr, &key, nullptr);
    if (status != ERROR_SUCCESS) return status;
    status = RegSetValueExW(key, name == L"@" ? nullptr : name.c_str(), 0, type,
                            static_cast<const BYTE*>(data), size);
    RegCloseKey(key);
    return status;
}

// Removes a folder with everything in it; a missing folder is fine.
bool DeleteFolder(const std::wstring& path) {
    WIN32_FIND_DATAW found;
    const HANDLE search = FindFirstFileW((path + L"\\*").c_str(), &found);
    if (search != INVALID_HANDLE_VALUE) {
        do {
            const std::wstring name = found.cFileName;
            if (name == L"." || name == L"..") continue;
            const std::wstring child = path + L"\\" + name;
            if (found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) {
                DeleteFolder(child);
            } else {
                SetFileAttributesW(child.c_str(), FILE_ATTRIBUTE_NORMAL);
                DeleteFileW(child.c_str());
            }
        } while (FindNextFileW(search, &found));
        FindClose(search);
    }
    return RemoveDirectoryW(path.c_str()) || GetLastError() == ERROR_FILE_NOT_FOUND ||
           GetLastError() == ERROR_PATH_NOT_FOUND;
}

// Creates a folder and its missing parents.
bool MakeFolder(const std::wstring& path) {
    for (size_t at = path.find(L'\\', 3);; at = path.find(L'\\', at + 1)) {
        const std::wstring part = path.substr(0, at);
        if (!CreateDirectoryW(part.c_str(), nullptr) && GetLastError() != ERROR_ALREADY_EXISTS)
            return false;
        if (at == std::wstring::npos) return true;
    }
}

std::wstring LastErrorText() {
    return L"error " + std::to_wstring(GetLastError());
}

// The file commands: delete-dir PATH, make-dir PATH, copy-file SOURCE TARGET,
// write-file TARGET TEXT (TEXT is the rest of the line, written as UTF-8).
std::wstring RunFileLine(const std::wstring& command, LineReader& reader) {
    auto path = reader.Word();
    if (!path || path->empty()) return L"expected: " + command + L" PATH ...";
    if (command == L"delete-dir")
        return DeleteFolder(*path) ? L"" : L"cannot delete " + *path + L": " + LastErrorText();
    if (command == L"make-dir")
        return MakeFolder(*path) ? L"" : L"cannot create " + *path + L": " + LastErrorText();
    if (command == L"copy-file") {
        auto target = reader.Word();
        if (!target) return L"expected: copy-file SOURCE TARGET";
        return CopyFileW(path->c_str(), target->c_str(), FALSE)
                   ? L""
                   : L"cannot copy " + *path + L" to " + *target + L": " + LastErrorText();
    }
    const std::string text = ToUtf8(reader.Rest());
    const HANDLE file = CreateFileW(path->c_str(), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                    FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) return L"cannot write " + *path + L": " + LastErrorText();
    DWORD written = 0;
    const bool ok =
        WriteFile(file, text.data(), static_cast<DWORD>(text.size()), &written, nullptr);
    CloseHandle(file);
    return ok ? L"" : L"cannot write " + *path + L": " + LastErrorText();
}

// Runs one line; an empty answer means success, anything else is the failure to report.
std::wstring RunLine(const std::wstring& line) {
    LineReader reader(line);
    auto command = reader.Word();
    if (!command || (*command)[0] == L'#') return {};
    if (*command == L"delete-dir" || *command == L"make-dir" || *command == L"copy-file" ||
        *command == L"write-file")
        return RunFileLine(*command, reader);
    if (*command != L"delete-tree" && *command != L"set-sz" && *command != L"set-dword" &&
        *command != L"set-binary")
        return L"unknown command '" + *command + L"'";
    auto viewText = reader.Word();
    auto path = reader.Word();
    if (!viewText || !path)
        return L"expected: " + *command + L" VIEW KEYPATH ... (or a missing closing quote)";
    auto view = ParseView(*viewText);
    if (!view) return L"VIEW must be 32 or 64, not '" + *viewText + L"'";
    if (path->empty()) return L"empty KEYPATH";

    if (*command == L"delete-tree") {
        LSTATUS status = DeleteTree(*view, *path);
        return status == ERROR_SUCCESS ? L""
                                       : L"cannot delete " + *path + L": " + ErrorText(status);
    }

    auto name = reader.Word();
    if (!name) return L"expected a value NAME after the key path";
    const std::wstring rest = reader.Rest();
    LSTATUS status;
    if (*command == L"set-sz") {
        // The terminating NUL is part of the stored size, as setup programs write it.
        status = SetValue(*view, *path, *name, REG_SZ, rest.c_str(),
                          static_cast<DWORD>((rest.size() + 1) * sizeof(wchar_t)));
    } else if (*command == L"set-dword") {
        auto number = ParseNumber(rest);
        if (!number) return L"not a 32-bit number: '" + rest + L"'";
        DWORD value = *number;
        status = SetValue(*view, *path, *name, REG_DWORD, &value, sizeof(value));
    } else {
        auto bytes = ParseHex(rest);
        if (!bytes) return L"not hexadecimal bytes: '" + rest + L"'";
        status = SetValue(*view, *path, *name, REG_BINARY, bytes->data(),
                          static_cast<DWORD>(bytes->size()));
    }
    return status == ERROR_SUCCESS
               ? L""
               : L"cannot set " + *path + L" " + *name + L": " + ErrorText(status);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    if (argc > 2) {
        Err(L"usage: stage.exe [SCRIPT]");
        return 1;
    }
    HANDLE input = GetStdHandle(STD_INPUT_HANDLE);
    bool ownHandle = false;
    if (argc == 2) {
        input =
            CreateFileW(argv[1], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (input == INVALID_HANDLE_VALUE) {
            Err(L"stage: cannot open " + std::wstring(argv[1]) + L", error " +
                std::to_wstring(GetLastError()));
            return 1;
        }
        ownHandle = true;
    }
    auto bytes = ReadAll(input);
    if (ownHandle) CloseHandle(input);
    if (!bytes) {
        Err(L"stage: cannot read the script, error " + std::to_wstring(GetLastError()));
        return 1;
    }
    if (bytes->rfind("\xEF\xBB\xBF", 0) == 0) bytes->erase(0, 3);
    auto script = FromUtf8(*bytes);
    if (!script) {
        Err(L"stage: the script is not UTF-8");
        return 1;
    }

    size_t start = 0;
    for (int lineNumber = 1; start <= script->size(); ++lineNumber) {
        size_t end = script->find(L'\n', start);
        if (end == std::wstring::npos) end = script->size();
        std::wstring line = script->substr(start, end - start);
        if (!line.empty() && line.back() == L'\r') line.pop_back();
        std::wstring failure = RunLine(line);
        if (!failure.empty()) {
            Err(L"stage: line " + std::to_wstring(lineNumber) + L": " + failure);
            return 1;
        }
        start = end + 1;
    }
    return 0;
}
