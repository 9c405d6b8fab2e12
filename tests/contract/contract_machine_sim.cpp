#include <fstream>
#include <iterator>

#include "contract_machine.h"
#include "platform/sim/machine.h"

namespace contract {

namespace {
constexpr char16_t kFixtures[] = u"C:\\Fixtures\\";
}

void PrepareMachine() {
    sim::ResetMachine();
    for (const char* name :
         {"library_4.2.0.500.dll", "library_4.3.0.11000.dll", "library_4.3.0.11001.dll",
          "library_unversioned.dll", "library_short_version.dll", "program_4.3.0.11000.exe"}) {
        std::ifstream in(std::string(FIXTURE_DIR) + "/" + name, std::ios::binary);
        sim::machine().AddFile(kFixtures + sim::Widen(name), {std::istreambuf_iterator<char>(in),
                                                              std::istreambuf_iterator<char>()});
    }
    sim::machine().AddDirectory(ScratchFolder());
}

std::u16string FixturePath(const std::u16string& name) {
    return kFixtures + name;
}

std::u16string ScratchFolder() {
    return u"C:\\Scratch";
}

void WriteTextFile(const std::u16string& path, const std::string& content) {
    sim::machine().AddFile(path, {content.begin(), content.end()});
}

void MakeFolder(const std::u16string& path) {
    sim::machine().AddDirectory(path);
}

void CopyFixture(const std::u16string& name, const std::u16string& target) {
    sim::machine().AddFile(target, sim::machine().FindFile(FixturePath(name))->bytes);
}

bool RunsUnderWine() {
    return false;
}

std::u16string FreshFolder(const std::u16string& name) {
    const std::u16string folder = ScratchFolder() + u"\\" + name;
    sim::machine().DeleteFolder(folder);
    sim::machine().AddDirectory(folder);
    return folder;
}

}  // namespace contract
