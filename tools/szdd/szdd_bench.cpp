// szdd_bench FILE...: packed size, packing and unpacking speed over a corpus; also the size
// mscompress gives when it is on PATH, for comparison.
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include "platform/sim/szdd_decoder.h"
#include "tools/szdd/szdd_pack.h"

namespace {

std::vector<std::uint8_t> ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

bool OnPath(const std::string& tool) {
    const char* path = std::getenv("PATH");
    if (path == nullptr) return false;
    std::string rest = path;
    for (std::size_t start = 0; start <= rest.size();) {
        const std::size_t end = std::min(rest.find(':', start), rest.size());
        std::error_code ec;
        if (end > start && std::filesystem::exists(
                               std::filesystem::path(rest.substr(start, end - start)) / tool, ec)) {
            return true;
        }
        start = end + 1;
    }
    return false;
}

// mscompress writes NAME_ next to its input, so it works on a copy in a scratch folder.
std::uintmax_t MscompressSize(const std::filesystem::path& file, const std::filesystem::path& dir) {
    const std::filesystem::path copy = dir / "input.bin";
    std::filesystem::copy_file(file, copy, std::filesystem::copy_options::overwrite_existing);
    const std::string command = "mscompress '" + copy.string() + "' >/dev/null 2>&1";
    if (std::system(command.c_str()) != 0) return 0;
    const std::filesystem::path out = dir / "input.bin_";
    std::error_code ec;
    const std::uintmax_t size = std::filesystem::file_size(out, ec);
    std::filesystem::remove(out, ec);
    return ec ? 0 : size;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: szdd_bench FILE...\n");
        return 2;
    }
    const bool haveMscompress = OnPath("mscompress");
    const std::filesystem::path scratch = std::filesystem::temp_directory_path() /
                                          ("szdd_bench." + std::to_string(std::random_device{}()));
    if (haveMscompress) std::filesystem::create_directories(scratch);

    using Clock = std::chrono::steady_clock;
    double packSeconds = 0;
    double unpackSeconds = 0;
    std::uintmax_t inputTotal = 0, oursTotal = 0, theirsTotal = 0;
    int failures = 0;
    for (int a = 1; a < argc; ++a) {
        const std::vector<std::uint8_t> data = ReadFile(argv[a]);
        const auto t0 = Clock::now();
        const std::vector<std::uint8_t> packed = szdd::PackSzdd(data, 0);
        const auto t1 = Clock::now();
        const auto unpacked = sim::DecodeSzdd(packed);
        const auto t2 = Clock::now();
        packSeconds += std::chrono::duration<double>(t1 - t0).count();
        unpackSeconds += std::chrono::duration<double>(t2 - t1).count();
        const bool same = unpacked && *unpacked == data;
        failures += same ? 0 : 1;
        const std::uintmax_t theirs = haveMscompress ? MscompressSize(argv[a], scratch) : 0;
        inputTotal += data.size();
        oursTotal += packed.size();
        theirsTotal += theirs;
        std::printf("%-40s %10zu -> %10zu", std::filesystem::path(argv[a]).filename().c_str(),
                    data.size(), packed.size());
        if (haveMscompress) std::printf("  mscompress %10ju", theirs);
        std::printf("%s\n", same ? "" : "  ROUND TRIP FAILED");
    }
    if (haveMscompress) std::filesystem::remove_all(scratch);

    const double mb = static_cast<double>(inputTotal) / 1e6;
    std::printf("total %ju bytes -> ours %ju (%.2f%%)", inputTotal, oursTotal,
                inputTotal
                    ? 100.0 * static_cast<double>(oursTotal) / static_cast<double>(inputTotal)
                    : 0.0);
    if (haveMscompress)
        std::printf(", mscompress %ju", theirsTotal);
    else
        std::printf(", mscompress not on PATH");
    std::printf("\npack %.1f MB/s, unpack %.1f MB/s\n", packSeconds > 0 ? mb / packSeconds : 0.0,
                unpackSeconds > 0 ? mb / unpackSeconds : 0.0);
    return failures == 0 ? 0 : 1;
}
