#include <algorithm>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "platform/sim/szdd_decoder.h"
#include "tools/szdd/szdd_pack.h"

namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes FromString(const std::string& s) {
    return Bytes(s.begin(), s.end());
}

Bytes Random(std::size_t n, std::uint32_t seed) {
    std::mt19937 gen(seed);
    Bytes out(n);
    for (auto& b : out) b = static_cast<std::uint8_t>(gen());
    return out;
}

// Few distinct bytes, so matches of every length and distance are common.
Bytes SmallAlphabet(std::size_t n, std::uint32_t seed) {
    std::mt19937 gen(seed);
    Bytes out(n);
    for (auto& b : out) b = static_cast<std::uint8_t>("ab "[gen() % 3]);
    return out;
}

Bytes ReadFile(const std::filesystem::path& p) {
    std::ifstream in(p, std::ios::binary);
    return Bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
}

void ExpectRoundTrip(const Bytes& data, const std::string& what) {
    const Bytes packed = szdd::PackSzdd(data, 'x');
    ASSERT_GE(packed.size(), sim::kSzddHeaderSize) << what;
    EXPECT_TRUE(
        std::equal(std::begin(sim::kSzddSignature), std::end(sim::kSzddSignature), packed.begin()))
        << what;
    EXPECT_EQ(packed[8], 'A') << what;
    EXPECT_EQ(packed[9], 'x') << what;
    const std::uint32_t length = packed[10] | (packed[11] << 8) | (packed[12] << 16) |
                                 (static_cast<std::uint32_t>(packed[13]) << 24);
    EXPECT_EQ(length, data.size()) << what;
    const auto decoded = sim::DecodeSzdd(packed);
    ASSERT_TRUE(decoded.has_value()) << what;
    EXPECT_TRUE(*decoded == data) << what;
}

TEST(SzddPack, RoundTripsAndWritesTheHeader) {
    const struct {
        std::string name;
        Bytes data;
    } cases[] = {
        {"empty", {}},
        {"1 byte", FromString("a")},
        {"2 bytes", FromString("ab")},
        {"3 same", FromString("aaa")},
        {"4 same", FromString("aaaa")},
        {"5 bytes", FromString("abcab")},
        {"6 spaces", FromString("      ")},
        {"7 bytes", FromString("a a a a")},
        {"8 bytes", FromString("abcdabcd")},
        {"9 bytes", FromString("\0\xff\0\xff\0\xff\0\xff\0")},
        {"1000 x A", Bytes(1000, 'A')},
        {"1000 spaces", Bytes(1000, ' ')},
        {"5000 spaces then text",
         [] {
             Bytes b(5000, ' ');
             for (char c : std::string("then some text")) b.push_back(static_cast<std::uint8_t>(c));
             return b;
         }()},
        {"text",
         FromString("It was the best of times, it was the worst of times, it was the age "
                    "of wisdom, it was the age of foolishness, it was the epoch of belief")},
        {"small alphabet 20000", SmallAlphabet(20000, 7)},
        {"random 1 MiB", Random(1 << 20, 12345)},
    };
    for (const auto& c : cases) ExpectRoundTrip(c.data, c.name);
}

TEST(SzddPack, RoundTripsPeFiles) {
    const std::filesystem::path dir = "/usr/lib/x86_64-linux-gnu/wine/x86_64-windows";
    // Small ones, so the sanitizer build stays quick.
    const char* names[] = {"lz32.dll", "version.dll", "cabinet.dll"};
    int found = 0;
    for (const char* name : names) {
        std::error_code ec;
        if (!std::filesystem::is_regular_file(dir / name, ec)) continue;
        ++found;
        ExpectRoundTrip(ReadFile(dir / name), name);
    }
    if (found == 0) GTEST_SKIP() << "no Wine PE files in " << dir;
}

// The smallest byte count of any stream for `data`, by trying every parse, with matches found
// by comparing against every window position one at a time.
std::size_t BruteForceStreamSize(const Bytes& data) {
    Bytes virt(4096, ' ');
    virt.insert(virt.end(), data.begin(), data.end());
    const std::size_t n = data.size();
    std::vector<std::size_t> longest(n, 0);
    for (std::size_t i = 0; i < n; ++i) {
        const std::size_t p = 4096 + i;
        for (std::size_t d = 1; d <= 4096; ++d) {
            std::size_t len = 0;
            while (len < 18 && i + len < n && virt[p - d + len] == virt[p + len]) ++len;
            if (len >= 3) longest[i] = std::max(longest[i], len);
        }
    }
    // Items in parse order; the stream size is ceil(items / 8) flag bytes plus item bytes.
    std::size_t best = SIZE_MAX;
    const auto walk = [&](auto&& self, std::size_t i, std::size_t items, std::size_t bytes) {
        if (i == n) {
            best = std::min(best, bytes + (items + 7) / 8);
            return;
        }
        self(self, i + 1, items + 1, bytes + 1);
        for (std::size_t l = 3; l <= longest[i]; ++l) self(self, i + l, items + 1, bytes + 2);
    };
    walk(walk, 0, 0, 0);
    return best;
}

TEST(SzddPack, WritesTheSmallestStream) {
    // Every string of up to 8 bytes over a 2-letter alphabet that includes the space the
    // window starts with, plus longer mixed samples.
    std::vector<Bytes> inputs;
    for (std::size_t len = 1; len <= 8; ++len) {
        for (std::uint32_t bits = 0; bits < (1u << len); ++bits) {
            Bytes b(len);
            for (std::size_t k = 0; k < len; ++k) b[k] = (bits >> k) & 1 ? 'a' : ' ';
            inputs.push_back(b);
        }
    }
    for (std::uint32_t seed = 0; seed < 16; ++seed) inputs.push_back(SmallAlphabet(22, seed));
    for (const Bytes& data : inputs) {
        const Bytes packed = szdd::PackSzdd(data, 0);
        ASSERT_EQ(packed.size() - sim::kSzddHeaderSize, BruteForceStreamSize(data))
            << std::string(data.begin(), data.end());
    }
}

TEST(SzddPack, RunsPackToTheKnownMinimum) {
    const struct {
        Bytes data;
        std::size_t size;  // header + stream
    } cases[] = {
        // One literal, then 56 matches at distance 1 (55 x 18 + 9): 57 items, 8 flag bytes.
        {Bytes(1000, 'a'), 14 + 8 + 1 + 56 * 2},
        // All from the window's spaces: 56 matches (55 x 18 + 10), 7 flag bytes.
        {Bytes(1000, ' '), 14 + 7 + 56 * 2},
        {Bytes(18, ' '), 14 + 1 + 2},
        {Bytes(2, 'a'), 14 + 1 + 2},
        {{}, 14},
    };
    for (const auto& c : cases) EXPECT_EQ(szdd::PackSzdd(c.data, 0).size(), c.size);
}

TEST(SzddDecode, RejectsCorruptHeadersAndStreams) {
    const Bytes good = szdd::PackSzdd(FromString("abcabcabcabc hello"), 't');
    ASSERT_TRUE(sim::DecodeSzdd(good).has_value());
    const auto with = [&](std::size_t at, std::uint8_t value) {
        Bytes b = good;
        b[at] = value;
        return b;
    };
    const auto withLength = [&](std::uint32_t len) {
        Bytes b = good;
        for (int k = 0; k < 4; ++k) b[10 + k] = static_cast<std::uint8_t>(len >> (8 * k));
        return b;
    };
    // Eight literals fill a flag byte exactly, so one more byte can only be a new flag byte.
    Bytes trailingFlagOnly = szdd::PackSzdd(FromString("abcdefgh"), 0);
    ASSERT_EQ(trailingFlagOnly.size(), 14u + 9u);
    trailingFlagOnly.push_back(0x00);
    Bytes extraLiteral = good;
    extraLiteral.push_back(0x01);
    extraLiteral.push_back('z');
    Bytes cutMatch = szdd::PackSzdd(Bytes(30, 'q'), 0);
    cutMatch.pop_back();
    const struct {
        std::string name;
        Bytes file;
        bool decodes;
    } cases[] = {
        {"signature", with(0, 'X'), false},
        {"signature tail", with(7, 0x34), false},
        {"mode", with(8, 'B'), false},
        {"header only, claims bytes", Bytes(good.begin(), good.begin() + 14), false},
        {"short header", Bytes(good.begin(), good.begin() + 13), false},
        {"length too short", withLength(17), false},
        {"length too long", withLength(19), false},
        {"length huge", withLength(0xFFFFFFFF), false},
        {"output past the length", extraLiteral, false},
        {"match cut after its first byte", cutMatch, false},
        {"trailing empty flag byte", trailingFlagOnly, true},
        {"missing char ignored", with(9, 0), true},
    };
    for (const auto& c : cases) EXPECT_EQ(sim::DecodeSzdd(c.file).has_value(), c.decodes) << c.name;
}

TEST(SzddDecode, SurvivesTruncationAndCorruption) {
    Bytes sample = SmallAlphabet(300, 3);
    for (char c : std::string("some literal text 0123456789"))
        sample.push_back(static_cast<std::uint8_t>(c));
    const Bytes good = szdd::PackSzdd(sample, 'l');
    // Every proper prefix either lacks the header or ends before the header's length.
    for (std::size_t len = 0; len < good.size(); ++len) {
        EXPECT_FALSE(sim::DecodeSzdd(std::span(good).first(len)).has_value()) << len;
    }
    std::mt19937 gen(99);
    for (int round = 0; round < 4000; ++round) {
        Bytes b = good;
        const int flips = 1 + static_cast<int>(gen() % 8);
        for (int f = 0; f < flips; ++f) b[gen() % b.size()] = static_cast<std::uint8_t>(gen());
        if (round % 4 == 0) b.resize(gen() % (b.size() + 1));
        const auto decoded = sim::DecodeSzdd(b);
        if (decoded) {
            EXPECT_EQ(decoded->size(), b[10] | (b[11] << 8));
        }
    }
    for (int round = 0; round < 2000; ++round) {
        // A valid header over random stream bytes and a random small length.
        Bytes b(good.begin(), good.begin() + 14);
        b[10] = static_cast<std::uint8_t>(gen());
        b[11] = static_cast<std::uint8_t>(gen() % 4);
        b[12] = b[13] = 0;
        const Bytes tail = Random(gen() % 200, static_cast<std::uint32_t>(round));
        b.insert(b.end(), tail.begin(), tail.end());
        const auto decoded = sim::DecodeSzdd(b);
        if (decoded) {
            EXPECT_EQ(decoded->size(), b[10] | (b[11] << 8));
        }
    }
}

}  // namespace
