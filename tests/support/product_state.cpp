#include "product_state.h"

#include <algorithm>

#include "platform/sim/machine.h"

namespace staging {

namespace {

constexpr char kUninstall[] =
    "SOFTWARE\\Microsoft\\Windows\\CurrentVersion\\Uninstall\\"
    "InstallShield_{7E1A4B90-5D3C-4F62-9A17-3B8C0D2E6F41}";
constexpr char kMaker[] = "SOFTWARE\\Halvern Corporation";

std::string Quoted(const std::u16string& text) {
    return "\"" + sim::Narrow(text) + "\"";
}
std::string Quoted(const std::string& text) {
    return "\"" + text + "\"";
}

}  // namespace

ProductState ProductState::WithAllFilesAt(const std::string& fileVersion) {
    ProductState state;
    const std::u16string app = state.appDir, trimkit = state.trimkitDir, help = state.helpDir;
    for (const char16_t* name : {u"ClipUploader.dll", u"EdControls.dll", u"EdCore.dll",
                                 u"EdResource.dll", u"OrlinUpdate.dll"})
        state.File(app, name, fileVersion);
    state.files.push_back({app + u"\\Reelwright.exe", "program_" + fileVersion + ".exe", ""});
    state.File(trimkit, u"GpuProbe.dll", fileVersion);
    state.File(help, u"OrlinUpdate.dll", fileVersion);
    state.File(trimkit, u"gpucal.dll", fileVersion);
    state.files.push_back({app + u"\\RemoveKeys.bat", "", "@echo off"});
    state.files.push_back({trimkit + u"\\gpucal.ini", "", "[gpu]"});
    return state;
}

ProductState& ProductState::File(const std::u16string& folder, const std::u16string& name,
                                 const std::string& fixtureVersion) {
    files.push_back(
        {folder + u"\\" + name,
         fixtureVersion.empty() ? "library_unversioned.dll" : "library_" + fixtureVersion + ".dll",
         ""});
    return *this;
}

ProductState& ProductState::WithoutFilesToCreate() {
    std::erase_if(files, [](const StagedFile& file) {
        return file.path.ends_with(u"\\RemoveKeys.bat") || file.path.ends_with(u"\\gpucal.ini");
    });
    return *this;
}

std::string StageScript(const ProductState& state, const std::u16string& fixtureFolder) {
    std::string script;
    auto line = [&script](const std::string& text) { script += text + "\n"; };
    for (const char* view : {"32", "64"}) {
        line(std::string("delete-tree ") + view + " " + Quoted(std::string(kMaker)));
        line(std::string("delete-tree ") + view + " " + Quoted(std::string(kUninstall)));
    }
    line("delete-dir " + Quoted(std::u16string(u"C:\\Program Files (x86)\\Halvern")));

    const std::string view = state.only64BitView ? "64" : "32";
    auto value = [&](const std::string& key, const std::string& name, const std::u16string& text) {
        if (!text.empty())
            line("set-sz " + view + " " + Quoted(key) + " " + name + " " + sim::Narrow(text));
    };
    const std::string maker = kMaker;
    value(kUninstall, "DisplayName", u"Orlin Reelwright");
    value(kUninstall, "DisplayVersion", state.displayVersion);
    value(maker + "\\Shared Info\\AppDB\\Orlin Reelwright", "version", state.appDbVersion);
    value(maker + "\\Orlin Reelwright\\1.0\\App", "ApplicationDir", state.appDir);
    value(maker + "\\Orlin Reelwright\\1.0\\Common", "TrimkitPath", state.trimkitDir);
    value(maker + "\\Orlin Creation Help", "HelpDir", state.helpDir);

    // The folders of the files, whether or not their records are there.
    std::vector<std::u16string> folders;
    for (const StagedFile& file : state.files) {
        const std::u16string folder = file.path.substr(0, file.path.rfind(u'\\'));
        if (std::find(folders.begin(), folders.end(), folder) == folders.end()) {
            folders.push_back(folder);
            line("make-dir " + Quoted(folder));
        }
    }
    for (const StagedFile& file : state.files) {
        if (file.fixture.empty()) {
            line("write-file " + Quoted(file.path) + " " + file.text);
        } else {
            line("copy-file " + Quoted(fixtureFolder + u"\\" + sim::Widen(file.fixture)) + " " +
                 Quoted(file.path));
        }
    }
    return script;
}

std::u16string WindowsPathOf(const std::string& linuxPath) {
    std::u16string path = u"Z:";
    for (char c : linuxPath) path += c == '/' ? u'\\' : static_cast<char16_t>(c);
    return path;
}

}  // namespace staging
