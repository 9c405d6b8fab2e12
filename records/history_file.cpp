#include "records/history_file.h"

#include <cstdint>
#include <limits>
#include <string_view>

#include "inspect/product_identity.h"
#include "inspect/reg_key.h"
#include "platform/constants.h"

namespace {

constexpr std::string_view kCounterPrefix = "UpdateCount=";
constexpr char kLineEnd[] = "\r\n";

class FileHandle {
  public:
    explicit FileHandle(win::HANDLE handle) : handle_(handle) {}
    FileHandle(const FileHandle&) = delete;
    FileHandle& operator=(const FileHandle&) = delete;
    ~FileHandle() {
        if (IsOpen()) win::CloseHandle(handle_);
    }
    bool IsOpen() const { return handle_ != win::INVALID_HANDLE_VALUE && handle_ != nullptr; }
    win::HANDLE get() const { return handle_; }

  private:
    win::HANDLE handle_;
};

// The file's characters are bytes; the program's own texts are plain ASCII, and anything
// that does not fit a byte is written as '?' rather than cut to its low byte.
std::string ToFileText(const std::u16string& text) {
    std::string bytes;
    bytes.reserve(text.size());
    for (const char16_t c : text) bytes += c <= 0xFF ? static_cast<char>(c) : '?';
    return bytes;
}

bool IsBlank(char c) {
    return c == ' ' || (c >= '\t' && c <= '\r');
}

// A signed decimal as strtol reads it: blanks, one sign, digits up to the first other
// character; no digits read as 0, and numbers beyond 32 bits saturate.
std::int32_t ReadCounter(std::string_view text) {
    constexpr std::int64_t kMax = std::numeric_limits<std::int32_t>::max();
    constexpr std::int64_t kMin = std::numeric_limits<std::int32_t>::min();
    std::size_t i = 0;
    while (i < text.size() && IsBlank(text[i])) ++i;
    bool negative = false;
    if (i < text.size() && (text[i] == '+' || text[i] == '-')) negative = text[i++] == '-';
    std::int64_t value = 0;
    for (; i < text.size() && text[i] >= '0' && text[i] <= '9'; ++i) {
        if (value <= kMax + 1) value = value * 10 + (text[i] - '0');
    }
    if (negative) value = -value;
    if (value > kMax) return static_cast<std::int32_t>(kMax);
    if (value < kMin) return static_cast<std::int32_t>(kMin);
    return static_cast<std::int32_t>(value);
}

// One more update; a counter already at the limit stays there instead of wrapping.
std::int32_t Raised(std::int32_t counter) {
    return counter == std::numeric_limits<std::int32_t>::max() ? counter : counter + 1;
}

void AppendLine(std::string& text, std::string_view line) {
    text += line;
    text += kLineEnd;
}

std::string Two(int value) {
    return std::string(value < 10 ? "0" : "") + std::to_string(value);
}

}  // namespace

std::vector<std::string> ReadHistoryLines(const std::u16string& path) {
    std::vector<std::string> lines;
    const FileHandle file(win::CreateFileW(
        path.c_str(), win::GENERIC_READ, win::FILE_SHARE_READ | win::FILE_SHARE_WRITE, nullptr,
        win::OPEN_EXISTING, win::FILE_ATTRIBUTE_NORMAL, nullptr));
    if (!file.IsOpen()) return lines;

    std::string line;
    char buffer[4096];
    for (;;) {
        win::DWORD read = 0;
        // A read error ends the list; the line it cut short is not taken.
        if (!win::ReadFile(file.get(), buffer, sizeof buffer, &read, nullptr)) return lines;
        if (read == 0) break;
        for (win::DWORD i = 0; i < read; ++i) {
            if (buffer[i] != '\n') {
                line += buffer[i];
                continue;
            }
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (!line.empty()) lines.push_back(std::move(line));
            line.clear();
        }
    }
    if (!line.empty()) lines.push_back(std::move(line));
    return lines;
}

bool WriteHistoryFile(const std::u16string& path, const std::vector<std::string>& oldLines,
                      const std::u16string& newVersion, const std::u16string& productName) {
    const FileHandle file(win::CreateFileW(path.c_str(), win::GENERIC_WRITE, 0, nullptr,
                                           win::CREATE_ALWAYS, win::FILE_ATTRIBUTE_NORMAL,
                                           nullptr));
    if (!file.IsOpen()) return false;

    const std::string version = ToFileText(newVersion);
    std::string text;
    AppendLine(text, version);
    std::int32_t update = 1;
    bool counterSeen = false;
    for (const std::string& line : oldLines) {
        if (line.empty()) continue;
        if (std::string_view(line).starts_with(kCounterPrefix)) {
            update = Raised(ReadCounter(std::string_view(line).substr(kCounterPrefix.size())));
            counterSeen = true;
            AppendLine(text, std::string(kCounterPrefix) + std::to_string(update));
        } else {
            AppendLine(text, line);
        }
    }
    if (!counterSeen) AppendLine(text, std::string(kCounterPrefix) + "1");

    win::SYSTEMTIME now{};
    win::GetLocalTime(&now);
    const std::string entry = "Updated_" + std::to_string(update) + "_";
    AppendLine(text, entry + "Date=" + std::to_string(now.wYear) + "/" +
                         std::to_string(now.wMonth) + "/" + std::to_string(now.wDay) + " " +
                         Two(now.wHour) + ":" + Two(now.wMinute) + ":" + Two(now.wSecond));
    AppendLine(text, entry + "ProductName=" + ToFileText(productName));
    AppendLine(text, entry + "Version=" + version);
    AppendLine(text, entry + "ProductGUID=" + ToFileText(product::kProductCode));

    // Write errors change nothing: the records are best effort.
    win::DWORD written = 0;
    win::WriteFile(file.get(), text.data(), static_cast<win::DWORD>(text.size()), &written,
                   nullptr);
    return true;
}

void AppendUpdateHistory(const std::u16string& newVersion, const std::u16string& productName) {
    const std::u16string folder = ReadMachineText(product::kApplicationKey, u"ApplicationDir");
    // Without a registered folder there is no history file to keep.
    if (folder.empty()) return;
    const std::u16string path = folder + u"\\" + product::kHistoryFileName;
    const std::vector<std::string> lines = ReadHistoryLines(path);
    WriteHistoryFile(path, lines, newVersion, productName);
}
