#include "stage_sim.h"

#include <fstream>
#include <iterator>
#include <sstream>

namespace staging {

namespace {

// A word, or a "double-quoted" text; advances past it and the blank after it.
std::string Token(const std::string& line, std::size_t& at) {
    std::string token;
    if (at < line.size() && line[at] == '"') {
        const std::size_t end = line.find('"', at + 1);
        token = line.substr(at + 1, end - at - 1);
        at = end == std::string::npos ? line.size() : end + 1;
    } else {
        const std::size_t end = line.find(' ', at);
        token = line.substr(at, end - at);
        at = end == std::string::npos ? line.size() : end;
    }
    if (at < line.size() && line[at] == ' ') ++at;
    return token;
}

std::string LinuxPathOf(const std::string& windowsPath) {
    std::string path = windowsPath.rfind("Z:", 0) == 0 ? windowsPath.substr(2) : windowsPath;
    for (char& c : path) c = c == '\\' ? '/' : c;
    return path;
}

}  // namespace

std::string ApplyStageScript(sim::Machine& machine, const std::string& script) {
    std::istringstream lines(script);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.empty() || line[0] == '#') continue;
        std::size_t at = 0;
        const std::string command = Token(line, at);
        auto view = [&] { return Token(line, at) == "64" ? sim::View::Wow64 : sim::View::Wow32; };
        if (command == "delete-tree") {
            const sim::View v = view();
            machine.DeleteKey(v, sim::Widen(Token(line, at)));
        } else if (command == "set-sz") {
            const sim::View v = view();
            const std::string key = Token(line, at), name = Token(line, at);
            machine.SetString(v, sim::Widen(key), name == "@" ? u"" : sim::Widen(name),
                              sim::Widen(line.substr(at)));
        } else if (command == "set-dword") {
            const sim::View v = view();
            const std::string key = Token(line, at), name = Token(line, at);
            machine.SetDword(v, sim::Widen(key), sim::Widen(name),
                             static_cast<win::DWORD>(std::stoul(Token(line, at), nullptr, 0)));
        } else if (command == "delete-dir") {
            machine.DeleteFolder(sim::Widen(Token(line, at)));
        } else if (command == "make-dir") {
            machine.AddDirectory(sim::Widen(Token(line, at)));
        } else if (command == "copy-file") {
            const std::string source = Token(line, at), target = Token(line, at);
            std::ifstream in(LinuxPathOf(source), std::ios::binary);
            if (!in) return "cannot read " + source;
            machine.AddFile(sim::Widen(target),
                            {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()});
        } else if (command == "write-file") {
            const std::string target = Token(line, at), text = line.substr(at);
            machine.AddFile(sim::Widen(target), {text.begin(), text.end()});
        } else {
            return "unknown command: " + line;
        }
    }
    return {};
}

}  // namespace staging
