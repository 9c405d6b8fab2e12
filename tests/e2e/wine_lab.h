// Drives Windows programs under Wine from a Linux test: stages registry state with stage.exe
// and runs a program under lab_run.exe, which operates its message boxes and reports them.
// The Wine session (WINEPREFIX, DISPLAY, the wine server) comes from
// scripts/with-wine-session.sh.
#pragma once

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace e2e {

// One message box as lab_run saw it, texts unescaped.
struct SeenBox {
    std::string caption;
    std::string text;
    std::string icon;     // none, warning, error, information or unknown
    std::string buttons;  // comma-separated, '&' removed
};

// A dialog without buttons (the progress dialog) as lab_run saw it.
struct SeenDialog {
    std::string caption;
    std::string text;
    std::string progress;  // marquee, bar or none
};

struct LabReport {
    std::vector<SeenBox> boxes;
    std::vector<SeenDialog> dialogs;
    std::optional<uint32_t> exitCode;  // empty when the program timed out or lab_run failed
    bool timedOut = false;
    std::string output;       // lab_run's stdout as it came
    std::string diagnostics;  // stderr of wine and lab_run
    int labStatus = -1;       // lab_run's own exit status, as Linux saw it
    double seconds = 0;       // wall time of the whole lab_run call
};

struct RunOptions {
    std::string holdMutex;            // a mutex lab_run holds while the program runs
    std::string companion;            // Linux path of a program running meanwhile
    std::optional<std::string> lang;  // LANG for Wine (sets the Windows UI language)
    unsigned timeoutSeconds = 300;
    std::string screenshot;                // Linux path of a BMP of the box, when wanted
    std::string dialogScreenshot;          // the same of the progress dialog
    bool closeDialog = false;              // send WM_CLOSE to the progress dialog once it shows
    std::vector<std::string> environment;  // "NAME=VALUE" for the program and its companion
};

// Result of running one Linux command to its end.
struct CommandResult {
    int status = -1;  // exit status, or 128 + signal
    std::string out;
    std::string err;
    double seconds = 0;
};

// "Z:\..." for an absolute Linux path (Wine maps Z: to /).
std::string WindowsPath(const std::string& linuxPath);

// The Linux path of a "C:\..." path in the session's prefix.
std::filesystem::path OnDriveC(const std::u16string& windowsPath);

// The whole content of a file; empty when it cannot be read.
std::string ReadBytes(const std::filesystem::path& path);

// One registry value as reg_read.exe printed it.
struct RegValue {
    unsigned long type = 0;
    unsigned long size = 0;
    std::string data;  // the text of string data, else hexadecimal bytes
};
using RegValues = std::map<std::string, RegValue>;  // by name, "@" for the default value

// A value that is not there reads as a text no value holds, so a comparison shows it.
RegValue Get(const RegValues& values, const std::string& name);

// Runs argv[0] (searched in PATH) with the current environment plus overrides
// ("NAME=VALUE"; "NAME=" alone removes NAME), and collects its output.
CommandResult RunCommand(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment = {});

// Parses lab_run's report.
LabReport ParseLabOutput(const std::string& output);

class WineLab {
  public:
    // labDir holds lab_run.exe and stage.exe; workDir is scratch space of the tests (script
    // files, generated locales).
    WineLab(std::string labDir, std::string workDir);

    // Applies a stage.exe script; the answer is empty on success, else what went wrong.
    std::string Stage(const std::string& script) const;

    LabReport Run(const std::string& exe, const RunOptions& options = {}) const;

    // Runs one of the lab programs (by name, without ".exe") with arguments to its end.
    CommandResult RunTool(const std::string& name, const std::vector<std::string>& args) const;

    // The values of a key ("HKLM\..." or "HKCR\...") in a view ("32" or "64"), read with the
    // real registry API; empty when the key is missing.
    RegValues ReadKey(const std::string& view, const std::string& path) const;

    // What is missing for running programs under Wine here; empty when all is in place.
    std::string MissingPrerequisites() const;

  private:
    // Environment entries that make Wine take its UI language from lang, or an error text.
    std::vector<std::string> LanguageEnvironment(const std::string& lang, std::string& error) const;

    std::string labDir_;
    std::string workDir_;
    std::string loader_;
};

}  // namespace e2e
