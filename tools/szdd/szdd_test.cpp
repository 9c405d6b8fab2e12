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

// The distances (1..4096) of the matches in a packed file, by the output position each
// starts at.
std::vector<std::pair<std::size_t, std::size_t>> MatchDistances(const Bytes& file) {
    std::vector<std::pair<std::size_t, std::size_t>> found;
    std::size_t in = sim::kSzddHeaderSize, at = 0;
    while (in < file.size()) {
        const std::uint8_t flags = file[in++];
        for (int bit = 0; bit < 8 && in < file.size(); ++bit) {
            if (flags & (1u << bit)) {
                ++in;
                ++at;
                continue;
            }
            if (in + 1 >= file.size()) break;
            const std::size_t offset = file[in] | ((file[in + 1] & 0xF0u) << 4);
            const std::size_t length = (file[in + 1] & 0x0Fu) + 3;
            in += 2;
            const std::size_t distance = ((4096 - 16 + at - offset - 1) & 0xFFF) + 1;
            found.emplace_back(at, distance);
            at += length;
        }
    }
    return found;
}

TEST(SzddPack, ReachesAcrossTheWholeWindow) {
    // 4096 random bytes, then their first 18 again: the only match is at distance 4096, the
    // ring slot about to be overwritten.
    Bytes data = Random(4096, 77);
    const Bytes head(data.begin(), data.begin() + 18);
    data.insert(data.end(), head.begin(), head.end());
    const Bytes packed = szdd::PackSzdd(data, 0);
    ExpectRoundTrip(data, "repeat at 4096");
    EXPECT_TRUE(std::ranges::count(MatchDistances(packed),
                                   std::pair<std::size_t, std::size_t>{4096, 4096}) == 1);

    // One byte further back is out of reach: the repeat is written as literals.
    Bytes far = Random(4097, 77);
    const Bytes farHead(far.begin(), far.begin() + 18);
    far.insert(far.end(), farHead.begin(), farHead.end());
    const auto farMatches = MatchDistances(szdd::PackSzdd(far, 0));
    EXPECT_TRUE(std::ranges::none_of(farMatches, [](const auto& m) { return m.first >= 4097; }));
    ExpectRoundTrip(far, "repeat at 4097");

    // Leading spaces come from the ring's initial spaces, as far back as its start.
    const Bytes spaces = FromString("                    then text");
    const auto spaceMatches = MatchDistances(szdd::PackSzdd(spaces, 0));
    ASSERT_FALSE(spaceMatches.empty());
    EXPECT_EQ(spaceMatches.front().first, 0u);
    ExpectRoundTrip(spaces, "leading spaces");
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

std::uint32_t HeaderLength(const Bytes& file) {
    return file[10] | (file[11] << 8) | (file[12] << 16) |
           (static_cast<std::uint32_t>(file[13]) << 24);
}

void SetHeaderLength(Bytes& file, std::uint32_t length) {
    for (int k = 0; k < 4; ++k) file[10 + k] = static_cast<std::uint8_t>(length >> (8 * k));
}

// What must hold for any input, however damaged: the strict decoder yields the header's
// length or nothing, and whatever it accepts the lenient expansion (what LZCopy writes)
// reproduces; the lenient expansion stays within its bound.
void ExpectSafeDecode(const Bytes& file, const std::string& what) {
    const auto decoded = sim::DecodeSzdd(file);
    if (file.size() < sim::kSzddHeaderSize) {
        EXPECT_FALSE(decoded.has_value()) << what;
        return;
    }
    const std::span<const std::uint8_t> stream = std::span(file).subspan(sim::kSzddHeaderSize);
    const Bytes expanded = sim::ExpandSzddStream(stream);
    EXPECT_LE(expanded.size(), (stream.size() + 16) / 17 * 144) << what;
    if (decoded) {
        EXPECT_EQ(decoded->size(), HeaderLength(file)) << what;
        EXPECT_TRUE(expanded == *decoded) << what;
    }
}

TEST(SzddDecode, SurvivesTruncationAndCorruption) {
    Bytes sample = SmallAlphabet(300, 3);
    for (char c : std::string("some literal text 0123456789"))
        sample.push_back(static_cast<std::uint8_t>(c));
    const Bytes good = szdd::PackSzdd(sample, 'l');
    // Every proper prefix either lacks the header or ends before the header's length, and
    // the lenient expansion of a prefix is a prefix of the data.
    for (std::size_t len = 0; len < good.size(); ++len) {
        const std::span<const std::uint8_t> cut = std::span(good).first(len);
        EXPECT_FALSE(sim::DecodeSzdd(cut).has_value()) << len;
        if (len < sim::kSzddHeaderSize) continue;
        const Bytes partial = sim::ExpandSzddStream(cut.subspan(sim::kSzddHeaderSize));
        ASSERT_LE(partial.size(), sample.size()) << len;
        EXPECT_TRUE(std::equal(partial.begin(), partial.end(), sample.begin())) << len;
    }
}

// A few thousand damaged files from a fixed seed, run under the sanitizers: random bytes,
// and packed files truncated, with flipped bits, overwritten bytes, a changed length field,
// or bytes inserted and removed.
TEST(SzddDecode, SurvivesRandomAndMutatedInput) {
    const Bytes samples[] = {
        szdd::PackSzdd(SmallAlphabet(300, 3), 'l'),
        szdd::PackSzdd(Random(700, 5), 'x'),
        szdd::PackSzdd(Bytes(2000, ' '), 0),
        szdd::PackSzdd(FromString("It was the best of times, it was the worst of times"), 't'),
    };
    std::mt19937 gen(20131112);
    const auto below = [&](std::size_t n) { return n == 0 ? 0 : gen() % n; };
    using Mutation = void (*)(Bytes&, std::mt19937&);
    const struct {
        const char* name;
        Mutation mutate;
    } mutations[] = {
        {"truncated", [](Bytes& b, std::mt19937& g) { b.resize(g() % (b.size() + 1)); }},
        {"bits flipped",
         [](Bytes& b, std::mt19937& g) {
             for (int f = 1 + static_cast<int>(g() % 4); f > 0; --f)
                 b[g() % b.size()] ^= static_cast<std::uint8_t>(1u << (g() % 8));
         }},
        {"bytes overwritten",
         [](Bytes& b, std::mt19937& g) {
             for (int f = 1 + static_cast<int>(g() % 8); f > 0; --f)
                 b[g() % b.size()] = static_cast<std::uint8_t>(g());
         }},
        {"length changed",
         [](Bytes& b, std::mt19937& g) {
             const std::uint32_t length = HeaderLength(b);
             const std::uint32_t choices[] = {length + 1,
                                              length - 1,
                                              length + 1 + static_cast<std::uint32_t>(g() % 64),
                                              length / 2,
                                              0,
                                              0xFFFFFFFFu,
                                              sim::kSzddMaxLength,
                                              sim::kSzddMaxLength + 1,
                                              static_cast<std::uint32_t>(g())};
             SetHeaderLength(b, choices[g() % std::size(choices)]);
         }},
        {"bytes inserted",
         [](Bytes& b, std::mt19937& g) {
             b.insert(b.begin() + static_cast<std::ptrdiff_t>(g() % (b.size() + 1)), 1 + g() % 4,
                      static_cast<std::uint8_t>(g()));
         }},
        {"bytes removed",
         [](Bytes& b, std::mt19937& g) {
             const std::size_t at = g() % b.size();
             b.erase(b.begin() + static_cast<std::ptrdiff_t>(at),
                     b.begin() + static_cast<std::ptrdiff_t>(std::min(b.size(), at + 1 + g() % 4)));
         }},
    };
    for (int round = 0; round < 6000; ++round) {
        const auto& m = mutations[round % std::size(mutations)];
        Bytes file = samples[below(std::size(samples))];
        m.mutate(file, gen);
        ExpectSafeDecode(file, std::string(m.name) + " round " + std::to_string(round));
    }
    for (int round = 0; round < 2000; ++round) {
        // Random bytes, half of them behind a valid header with a random small length.
        Bytes file = Random(below(300), static_cast<std::uint32_t>(round));
        if (round % 2 == 0) {
            Bytes header(samples[0].begin(), samples[0].begin() + sim::kSzddHeaderSize);
            SetHeaderLength(header, static_cast<std::uint32_t>(below(1200)));
            file.insert(file.begin(), header.begin(), header.end());
        }
        ExpectSafeDecode(file, "random round " + std::to_string(round));
    }
}

TEST(SzddDecode, TheLenientExpansionIgnoresTheHeaderLength) {
    const Bytes data = FromString("abcabcabcabc hello");
    Bytes file = szdd::PackSzdd(data, 0);
    const std::span<const std::uint8_t> stream = std::span(file).subspan(sim::kSzddHeaderSize);
    EXPECT_TRUE(sim::ExpandSzddStream(stream) == data);
    SetHeaderLength(file, 3);
    EXPECT_FALSE(sim::DecodeSzdd(file).has_value());
    EXPECT_TRUE(sim::ExpandSzddStream(stream) == data);
    // A literal 'q', 18 bytes copied from it (offset 0xFF0, where the first byte went),
    // then a match cut after its first byte, which is dropped.
    const Bytes cut = {0x01, 'q', 0xF0, 0xFF, 0xF0};
    EXPECT_TRUE(sim::ExpandSzddStream(cut) == Bytes(19, 'q'));
    EXPECT_TRUE(sim::ExpandSzddStream({}).empty());
}

}  // namespace
