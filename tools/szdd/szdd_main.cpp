// szdd_pack INPUT OUTPUT: writes INPUT as an SZDD compressed file.
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <vector>

#include "tools/szdd/szdd_pack.h"

int main(int argc, char** argv) {
    if (argc != 3) {
        std::fprintf(stderr, "usage: szdd_pack INPUT OUTPUT\n");
        return 2;
    }
    std::ifstream in(argv[1], std::ios::binary);
    if (!in) {
        std::fprintf(stderr, "szdd_pack: cannot read %s\n", argv[1]);
        return 1;
    }
    const std::vector<std::uint8_t> data((std::istreambuf_iterator<char>(in)),
                                         std::istreambuf_iterator<char>());
    // The expander restores the extension's last character, which "foo.dl_" lost.
    const std::string ext = std::filesystem::path(argv[1]).extension().string();
    const std::uint8_t missing = ext.size() > 1 ? static_cast<std::uint8_t>(ext.back()) : 0;
    try {
        const std::vector<std::uint8_t> packed = szdd::PackSzdd(data, missing);
        std::ofstream out(argv[2], std::ios::binary);
        out.write(reinterpret_cast<const char*>(packed.data()),
                  static_cast<std::streamsize>(packed.size()));
        if (!out.flush()) {
            std::fprintf(stderr, "szdd_pack: cannot write %s\n", argv[2]);
            return 1;
        }
    } catch (const std::exception& e) {
        std::fprintf(stderr, "szdd_pack: %s\n", e.what());
        return 1;
    }
    return 0;
}
