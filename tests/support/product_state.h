// One description of an installed product: its registry records and files. Rendered as a
// stage script, it sets up the simulated machine in unit tests and a Wine prefix in the
// end-to-end tests (tools/lab/stage.exe reads the same script).
#pragma once

#include <string>
#include <vector>

namespace staging {

struct StagedFile {
    std::u16string path;  // full Windows path
    std::string fixture;  // a PE file of tests/fixtures by name, or empty for a text file
    std::string text;
};

struct ProductState {
    std::u16string displayVersion = u"4.2.0.0";  // uninstall record; empty: not registered
    std::u16string appDbVersion = u"4.2.0.0";    // application database; empty: no record
    std::u16string appDir = u"C:\\Program Files (x86)\\Halvern\\Orlin Reelwright";
    std::u16string trimkitDir = u"C:\\Program Files (x86)\\Halvern\\Orlin Reelwright\\Trimkit";
    std::u16string helpDir = u"C:\\Program Files (x86)\\Halvern\\Orlin Creation Help";
    bool only64BitView = false;  // records as a 64-bit setup leaves them
    std::vector<StagedFile> files;

    // Every file the patch table names, the libraries and the exe at one version.
    static ProductState WithAllFilesAt(const std::string& fileVersion);
    ProductState& File(const std::u16string& folder, const std::u16string& name,
                       const std::string& fixtureVersion);
    // Drops RemoveKeys.bat and gpucal.ini, the two files the update may create.
    ProductState& WithoutFilesToCreate();
};

// The stage script: first removes any earlier product, then sets this one up. Fixtures are
// copied from fixtureFolder (a Windows path).
std::string StageScript(const ProductState& state, const std::u16string& fixtureFolder);

// "Z:\..." for a Linux path, as Wine shows it.
std::u16string WindowsPathOf(const std::string& linuxPath);

}  // namespace staging
