#include "tests/e2e/wine_lab.h"

#include <fcntl.h>
#include <locale.h>
#include <poll.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace e2e {

namespace {

std::string Unescape(const std::string& text) {
    std::string out;
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] != '\\' || i + 1 == text.size()) {
            out += text[i];
            continue;
        }
        char next = text[++i];
        out += next == 'n' ? '\n' : next == 'r' ? '\r' : next;
    }
    return out;
}

std::vector<std::string> MergedEnvironment(const std::vector<std::string>& overrides) {
    std::map<std::string, std::string> variables;
    for (char** entry = environ; *entry; ++entry) {
        std::string text = *entry;
        size_t equals = text.find('=');
        if (equals != std::string::npos)
            variables[text.substr(0, equals)] = text.substr(equals + 1);
    }
    for (const std::string& text : overrides) {
        size_t equals = text.find('=');
        if (equals == std::string::npos) continue;
        std::string name = text.substr(0, equals);
        if (equals + 1 == text.size())
            variables.erase(name);
        else
            variables[name] = text.substr(equals + 1);
    }
    std::vector<std::string> merged;
    for (const auto& [name, value] : variables) merged.push_back(name + "=" + value);
    return merged;
}

std::vector<char*> Pointers(std::vector<std::string>& strings) {
    std::vector<char*> pointers;
    for (std::string& s : strings) pointers.push_back(s.data());
    pointers.push_back(nullptr);
    return pointers;
}

bool IsExecutableInPath(const std::string& name) {
    const char* path = std::getenv("PATH");
    std::stringstream dirs(path ? path : "");
    for (std::string dir; std::getline(dirs, dir, ':');)
        if (!dir.empty() && access((dir + "/" + name).c_str(), X_OK) == 0) return true;
    return false;
}

// The lab programs are 64-bit. The "wine" command always starts the 32-bit loader first, which
// here runs emulated and needs over a minute before it hands a 64-bit program on; the 64-bit
// loader starts them at once (and still starts 32-bit programs they create correctly).
std::string Wine64Loader() {
    if (IsExecutableInPath("wine64")) return "wine64";
    for (const char* path :
         {"/usr/lib/wine/wine64", "/usr/lib64/wine/wine64", "/opt/wine-stable/bin/wine64"})
        if (access(path, X_OK) == 0) return path;
    return "wine";
}

}  // namespace

std::string WindowsPath(const std::string& linuxPath) {
    std::string absolute = std::filesystem::absolute(linuxPath).lexically_normal().string();
    std::string out = "Z:";
    for (char c : absolute) out += c == '/' ? '\\' : c;
    return out;
}

CommandResult RunCommand(const std::vector<std::string>& argv,
                         const std::vector<std::string>& environment) {
    CommandResult result;
    auto started = std::chrono::steady_clock::now();
    int outPipe[2], errPipe[2];
    if (pipe2(outPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");
    if (pipe2(errPipe, O_CLOEXEC) != 0) throw std::runtime_error("pipe failed");

    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    // No terminal input: a Wine program must not wait on (or be stopped by) the tty.
    posix_spawn_file_actions_addopen(&actions, 0, "/dev/null", O_RDONLY, 0);
    posix_spawn_file_actions_adddup2(&actions, outPipe[1], 1);
    posix_spawn_file_actions_adddup2(&actions, errPipe[1], 2);

    std::vector<std::string> args = argv;
    std::vector<std::string> env = MergedEnvironment(environment);
    auto argPointers = Pointers(args);
    auto envPointers = Pointers(env);
    pid_t pid = 0;
    int spawned = posix_spawnp(&pid, args[0].c_str(), &actions, nullptr, argPointers.data(),
                               envPointers.data());
    posix_spawn_file_actions_destroy(&actions);
    close(outPipe[1]);
    close(errPipe[1]);
    if (spawned != 0) {
        close(outPipe[0]);
        close(errPipe[0]);
        result.err = "cannot start " + args[0] + ": " + std::strerror(spawned);
        return result;
    }

    // Ends with the program, not with the pipes: Wine's service processes, started by the
    // first Wine program of a session, inherit its output pipes and keep them open. Both pipes
    // are read at once, so that a chatty stderr cannot block the program's stdout.
    pollfd fds[2] = {{outPipe[0], POLLIN, 0}, {errPipe[0], POLLIN, 0}};
    std::string* sinks[2] = {&result.out, &result.err};
    int status = 0;
    bool exited = false;
    for (;;) {
        if (!exited) {
            pid_t waited = waitpid(pid, &status, WNOHANG);
            exited = waited == pid || (waited < 0 && errno != EINTR);
            // What the program wrote before it ended is in the pipes: take it without waiting.
            if (exited)
                for (pollfd& fd : fds)
                    if (fd.fd >= 0) fcntl(fd.fd, F_SETFL, fcntl(fd.fd, F_GETFL) | O_NONBLOCK);
        }
        if (fds[0].fd < 0 && fds[1].fd < 0) break;
        if (poll(fds, 2, exited ? 0 : 100) < 0 && errno != EINTR) break;
        bool gotAny = false;
        for (int i = 0; i < 2; ++i) {
            if (fds[i].fd < 0) continue;
            if (!exited && !(fds[i].revents & (POLLIN | POLLHUP | POLLERR))) continue;
            char buffer[4096];
            ssize_t got = read(fds[i].fd, buffer, sizeof(buffer));
            if (got > 0) {
                sinks[i]->append(buffer, static_cast<size_t>(got));
                gotAny = true;
            } else if (got == 0 || (errno != EINTR && errno != EAGAIN)) {
                close(fds[i].fd);
                fds[i].fd = -1;
            }
        }
        if (exited && !gotAny) break;
    }
    for (pollfd& fd : fds)
        if (fd.fd >= 0) close(fd.fd);
    if (!exited)
        while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
        }
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    result.seconds =
        std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    return result;
}

LabReport ParseLabOutput(const std::string& output) {
    LabReport report;
    report.output = output;
    std::stringstream lines(output);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        size_t equals = line.find('=');
        if (equals == std::string::npos) continue;
        const std::string key = line.substr(0, equals);
        const std::string value = line.substr(equals + 1);
        if (key == "box.caption") {
            report.boxes.push_back({});
            report.boxes.back().caption = Unescape(value);
        } else if (key.rfind("box.", 0) == 0 && !report.boxes.empty()) {
            SeenBox& box = report.boxes.back();
            if (key == "box.text")
                box.text = Unescape(value);
            else if (key == "box.icon")
                box.icon = value;
            else if (key == "box.buttons")
                box.buttons = value;
        } else if (key == "dialog.caption") {
            report.dialogs.push_back({Unescape(value), {}, {}});
        } else if (key.rfind("dialog.", 0) == 0 && !report.dialogs.empty()) {
            if (key == "dialog.text") report.dialogs.back().text = Unescape(value);
            if (key == "dialog.progress") report.dialogs.back().progress = value;
        } else if (key == "exit") {
            if (value == "timeout") {
                report.timedOut = true;
            } else if (value.rfind("0x", 0) == 0 && value.size() > 2) {
                report.exitCode = static_cast<uint32_t>(std::stoul(value.substr(2), nullptr, 16));
            }
        }
    }
    return report;
}

WineLab::WineLab(std::string labDir, std::string workDir)
    : labDir_(std::move(labDir)), workDir_(std::move(workDir)), loader_(Wine64Loader()) {}

std::string WineLab::MissingPrerequisites() const {
    std::string missing;
    for (const char* name : {"stage.exe", "lab_run.exe"})
        if (!std::filesystem::exists(labDir_ + "/" + name))
            missing += std::string(" ") + labDir_ + "/" + name + " (build the win32 preset);";
    if (loader_ == "wine" && !IsExecutableInPath("wine")) missing += " wine is not installed;";
    for (const char* name : {"WINEPREFIX", "DISPLAY"})
        if (!std::getenv(name))
            missing +=
                std::string(" ") + name + " is not set (run inside scripts/with-wine-session.sh);";
    return missing;
}

std::vector<std::string> WineLab::LanguageEnvironment(const std::string& lang,
                                                      std::string& error) const {
    // LANG only counts when no LC_ALL or LC_MESSAGES overrides it.
    std::vector<std::string> environment = {"LANG=" + lang, "LC_ALL=", "LC_MESSAGES="};
    // Wine falls back to English when the Linux locale is not installed; a locale compiled
    // into the work folder serves as well and needs no change to the system.
    if (locale_t installed = newlocale(LC_ALL_MASK, lang.c_str(), nullptr)) {
        freelocale(installed);
        return environment;
    }
    const size_t dot = lang.find('.');
    const std::string source = lang.substr(0, dot);
    const std::string charmap = dot == std::string::npos ? "UTF-8" : lang.substr(dot + 1);
    const std::string localeDir = workDir_ + "/locales";
    if (!std::filesystem::exists(localeDir + "/" + lang)) {
        std::filesystem::create_directories(localeDir);
        CommandResult made =
            RunCommand({"localedef", "-i", source, "-f", charmap, localeDir + "/" + lang});
        if (made.status !=
            0) {  // localedef also says 1 for mere warnings; the files are what counts
            if (!std::filesystem::exists(localeDir + "/" + lang + "/LC_MESSAGES")) {
                error = "cannot make the locale " + lang + " (Debian package locales): " + made.err;
                return {};
            }
        }
    }
    environment.push_back("LOCPATH=" + localeDir);
    return environment;
}

std::string WineLab::Stage(const std::string& script) const {
    std::filesystem::create_directories(workDir_);
    std::string name = workDir_ + "/stage-XXXXXX";
    int fd = mkstemp(name.data());
    if (fd < 0) return "cannot create a script file in " + workDir_;
    close(fd);
    { std::ofstream(name, std::ios::binary) << script; }
    CommandResult result = RunCommand({loader_, labDir_ + "/stage.exe", WindowsPath(name)});
    std::filesystem::remove(name);
    if (result.status == 0) return {};
    return "stage.exe failed (status " + std::to_string(result.status) + "): " + result.err;
}

std::filesystem::path OnDriveC(const std::u16string& windowsPath) {
    std::string path;
    for (const char16_t c : windowsPath.substr(3)) path += c == u'\\' ? '/' : static_cast<char>(c);
    const char* prefix = std::getenv("WINEPREFIX");
    return std::filesystem::path(prefix ? prefix : "") / "drive_c" / path;
}

std::string ReadBytes(const std::filesystem::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

RegValue Get(const RegValues& values, const std::string& name) {
    const auto found = values.find(name);
    return found == values.end() ? RegValue{0, 0, "(no value " + name + ")"} : found->second;
}

RegValues WineLab::ReadKey(const std::string& view, const std::string& path) const {
    const CommandResult result = RunTool("reg_read", {view, path});
    RegValues values;
    std::istringstream lines(result.out);
    for (std::string line; std::getline(lines, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        if (line.rfind("value\t", 0) != 0) continue;
        std::istringstream fields(line.substr(6));
        std::string name, type, size;
        RegValue value;
        std::getline(fields, name, '\t');
        std::getline(fields, type, '\t');
        std::getline(fields, size, '\t');
        std::getline(fields, value.data);
        value.type = std::stoul(type);
        value.size = std::stoul(size);
        values[name] = value;
    }
    return values;
}

CommandResult WineLab::RunTool(const std::string& name,
                               const std::vector<std::string>& args) const {
    std::vector<std::string> argv = {loader_, labDir_ + "/" + name + ".exe"};
    argv.insert(argv.end(), args.begin(), args.end());
    return RunCommand(argv);
}

LabReport WineLab::Run(const std::string& exe, const RunOptions& options) const {
    std::vector<std::string> argv = {loader_, labDir_ + "/lab_run.exe", "--timeout",
                                     std::to_string(options.timeoutSeconds)};
    if (!options.holdMutex.empty()) argv.insert(argv.end(), {"--hold-mutex", options.holdMutex});
    if (!options.companion.empty())
        argv.insert(argv.end(), {"--companion", WindowsPath(options.companion)});
    if (!options.screenshot.empty())
        argv.insert(argv.end(), {"--screenshot", WindowsPath(options.screenshot)});
    if (!options.dialogScreenshot.empty())
        argv.insert(argv.end(), {"--dialog-screenshot", WindowsPath(options.dialogScreenshot)});
    if (options.closeDialog) argv.push_back("--close-dialog");
    argv.insert(argv.end(), {"--", WindowsPath(exe)});

    std::vector<std::string> environment = options.environment;
    if (options.lang) {
        std::string error;
        const std::vector<std::string> language = LanguageEnvironment(*options.lang, error);
        environment.insert(environment.end(), language.begin(), language.end());
        if (!error.empty()) {
            LabReport failed;
            failed.diagnostics = error;
            return failed;
        }
    }
    CommandResult result = RunCommand(argv, environment);
    LabReport report = ParseLabOutput(result.out);
    report.diagnostics = result.err;
    report.labStatus = result.status;
    report.seconds = result.seconds;
    return report;
}

}  // namespace e2e
