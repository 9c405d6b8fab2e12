// Prints the installed files of the sample product as they lie in a Wine prefix: each file
// the patch table names with its file version (or its size for a text file), then the
// update history file. The demo shows it before and after the update.
//
//   print_product DRIVE_C     (the prefix's drive_c folder)
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <iterator>
#include <vector>

#include "platform/sim/machine.h"
#include "platform/sim/resource_file.h"
#include "product_state.h"

namespace {

namespace fs = std::filesystem;

fs::path OnDrive(const fs::path& driveC, const std::u16string& windowsPath) {
    std::string path = sim::Narrow(windowsPath.substr(3));
    for (char& c : path) c = c == '\\' ? '/' : c;
    return driveC / path;
}

std::vector<std::uint8_t> Read(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The file version of the fixed information in a PE file's version resource.
std::string FileVersion(const std::vector<std::uint8_t>& bytes) {
    const auto resource = sim::FindPeResource(bytes, 16);
    if (!resource) return "";
    const std::uint8_t signature[] = {0xBD, 0x04, 0xEF, 0xFE};
    for (std::size_t at = 0; at + 16 <= resource->size(); at += 4) {
        if (std::memcmp(resource->data() + at, signature, 4) != 0) continue;
        std::uint32_t ms = 0, ls = 0;
        std::memcpy(&ms, resource->data() + at + 8, 4);
        std::memcpy(&ls, resource->data() + at + 12, 4);
        char text[48];
        std::snprintf(text, sizeof text, "%u.%u.%u.%u", ms >> 16, ms & 0xFFFF, ls >> 16,
                      ls & 0xFFFF);
        return text;
    }
    return "";
}

}  // namespace

int main(int argc, char** argv) {
    if (argc != 2) {
        std::cerr << "usage: print_product DRIVE_C\n";
        return 2;
    }
    const fs::path driveC = argv[1];
    const staging::ProductState product = staging::ProductState::WithAllFilesAt("4.2.0.500");
    for (const staging::StagedFile& file : product.files) {
        const fs::path path = OnDrive(driveC, file.path);
        std::printf("   %-72s ", sim::Narrow(file.path).c_str());
        if (!fs::exists(path)) {
            std::printf("(absent)\n");
            continue;
        }
        const std::vector<std::uint8_t> bytes = Read(path);
        const std::string version = FileVersion(bytes);
        if (version.empty())
            std::printf("%zu bytes\n", bytes.size());
        else
            std::printf("version %s\n", version.c_str());
    }
    const fs::path history = OnDrive(driveC, product.appDir + u"\\version.txt");
    std::printf("   %s:\n", sim::Narrow(product.appDir + u"\\version.txt").c_str());
    if (!fs::exists(history)) {
        std::printf("      (absent)\n");
        return 0;
    }
    std::ifstream in(history, std::ios::binary);
    for (std::string line; std::getline(in, line);) {
        if (!line.empty() && line.back() == '\r') line.pop_back();
        std::printf("      %s\n", line.c_str());
    }
    return 0;
}
