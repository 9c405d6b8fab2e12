// The built exe as Windows will load it: a 32-bit GUI image with the Unicode start-up,
// importing only DLLs that Windows never takes from the program's own folder, and
// carrying its manifest and version resource.
#include <gtest/gtest.h>

#include <algorithm>
#include <fstream>
#include <iterator>
#include <set>
#include <string>
#include <vector>

#include "platform/sim/resource_file.h"

namespace {

class ExeImage : public ::testing::Test {
  protected:
    void SetUp() override {
        std::ifstream in(std::string(WIN32_BUILD_DIR) + "/bin/ReelwrightUpdate.exe",
                         std::ios::binary);
        ASSERT_TRUE(in) << "build the win32 preset first";
        image.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        ASSERT_GT(image.size(), 0x400u);
        pe = U32(0x3C);
        ASSERT_EQ(U32(pe), 0x00004550u);
    }
    std::uint32_t U16(std::size_t at) const { return image.at(at) | image.at(at + 1) << 8; }
    std::uint32_t U32(std::size_t at) const { return U16(at) | U16(at + 2) << 16; }
    std::size_t Optional() const { return pe + 24; }
    std::uint32_t Directory(int index) const { return U32(Optional() + 96 + 8 * index); }
    std::size_t Offset(std::uint32_t rva) const {
        const std::size_t table = Optional() + U16(pe + 20);
        for (std::uint32_t i = 0; i < U16(pe + 6); ++i) {
            const std::size_t s = table + 40 * i;
            if (rva >= U32(s + 12) && rva < U32(s + 12) + std::max(U32(s + 8), U32(s + 16)))
                return U32(s + 20) + (rva - U32(s + 12));
        }
        ADD_FAILURE() << "RVA outside every section: " << rva;
        return 0;
    }
    std::string Text(std::uint32_t rva) const {
        std::string s;
        for (std::size_t at = Offset(rva); image.at(at) != 0; ++at)
            s += static_cast<char>(image[at]);
        return s;
    }
    static std::string Lower(std::string s) {
        std::transform(s.begin(), s.end(), s.begin(),
                       [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
        return s;
    }

    std::vector<std::uint8_t> image;
    std::size_t pe = 0;
};

TEST_F(ExeImage, IsA32BitGuiProgram) {
    EXPECT_EQ(U16(pe + 4), 0x14Cu);       // i386
    EXPECT_EQ(U16(Optional()), 0x10Bu);   // PE32
    EXPECT_EQ(U16(Optional() + 68), 2u);  // Windows GUI subsystem
}

TEST_F(ExeImage, ImportsOnlyKnownOrSideBySideDllsAndStartsThroughTheUnicodeEntry) {
    const std::set<std::string> allowed = {"kernel32.dll", "user32.dll",  "gdi32.dll",
                                           "advapi32.dll", "shell32.dll", "shlwapi.dll",
                                           "msvcrt.dll",   "comctl32.dll"};
    std::set<std::string> imported;
    bool unicodeStart = false;
    for (std::size_t d = Offset(Directory(1)); U32(d + 12) != 0; d += 20) {
        const std::string dll = Lower(Text(U32(d + 12)));
        imported.insert(dll);
        for (std::size_t t = Offset(U32(d) ? U32(d) : U32(d + 16)); U32(t) != 0; t += 4) {
            if (!(U32(t) & 0x80000000u) && Text(U32(t) + 2) == "__wgetmainargs")
                unicodeStart = true;
        }
    }
    for (const std::string& dll : imported)
        EXPECT_TRUE(allowed.count(dll)) << dll << " may be planted";
    EXPECT_TRUE(imported.count("kernel32.dll"));
    EXPECT_EQ(Directory(13), 0u) << "no delay-loaded DLLs";
    EXPECT_TRUE(unicodeStart);
}

TEST_F(ExeImage, CarriesItsManifestAndVersion) {
    const auto manifest = sim::FindPeResource(image, 24);
    ASSERT_TRUE(manifest);
    const std::string xml(manifest->begin(), manifest->end());
    for (const char* part :
         {"requireAdministrator", "Microsoft.Windows.Common-Controls", "version=\"6.0.0.0\"",
          "{e2011457-1546-43c5-a5fe-008deee3d3f0}", "{35138b9a-5d96-4fbd-8e2d-a2440225f93a}",
          "{4a2f28e3-53b9-4441-ba9c-d69d4a4a6e38}", "dpiAware"})
        EXPECT_NE(xml.find(part), std::string::npos) << part;
    EXPECT_TRUE(sim::FindPeResource(image, 16));
}

}  // namespace
