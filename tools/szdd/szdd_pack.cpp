#include "tools/szdd/szdd_pack.h"

#include <algorithm>
#include <array>
#include <limits>
#include <memory>
#include <stdexcept>

namespace szdd {
namespace {

constexpr std::size_t kWindow = 4096;
constexpr std::size_t kStartWrite = kWindow - 16;
constexpr std::size_t kMinMatch = 3;
constexpr std::size_t kMaxMatch = 18;
constexpr std::size_t kLevels = kMaxMatch - kMinMatch + 1;
constexpr int kHashBits = 13;

struct Match {
    std::uint8_t length = 0;     // 0 when no match of kMinMatch bytes exists
    std::uint16_t distance = 0;  // 1..kWindow back from the byte being written
};

// One hash chain per match length: chain k links the window positions whose first k bytes
// hash alike, so the first real k-byte match on it is found in about one step. Whether a
// match of k bytes exists is monotone in k, which allows a binary search over the lengths;
// a plain 3-byte chain would instead walk thousands of candidates in zero-filled PE data.
class MatchFinder {
  public:
    explicit MatchFinder(const std::uint8_t* buf) : buf_(buf) {
        for (auto& h : head_) h.fill(-1);
        for (auto& p : prev_) p.fill(-1);
    }

    // Positions are inserted in order, each after it has been searched.
    // `searched` says Longest(q, ...) has just computed q's buckets.
    void Insert(std::size_t q, std::size_t available, bool searched) {
        const std::size_t levels = std::min(kMaxMatch, available) + 1 - kMinMatch;
        if (!searched) Buckets(q, levels);
        for (std::size_t l = 0; l < levels; ++l) {
            prev_[l][q & (kWindow - 1)] = head_[l][bucket_[l]];
            head_[l][bucket_[l]] = static_cast<std::int32_t>(q);
        }
    }

    // `hint` is a distance worth trying first: the previous position's match, which in long
    // repeats usually goes on here and then settles the search in one probe.
    Match Longest(std::size_t p, std::size_t maxLen, std::size_t hint) {
        Buckets(p, maxLen + 1 - kMinMatch);
        std::size_t lo = kMinMatch - 1;  // longest length known to exist
        std::size_t hi = maxLen;         // longest length not yet ruled out
        std::size_t dist = 0;
        if (hint != 0) {
            std::size_t len = 0;
            while (len < maxLen && buf_[p - hint + len] == buf_[p + len]) ++len;
            if (len > lo) {
                lo = len;
                dist = hint;
            }
        }
        while (lo < hi) {
            const std::size_t mid = (lo + hi + 1) / 2;
            const std::size_t l = mid - kMinMatch;
            const std::int64_t lowest = static_cast<std::int64_t>(p) - std::int64_t{kWindow};
            std::size_t found = 0;
            for (std::int32_t q = head_[l][bucket_[l]]; q >= lowest;
                 q = prev_[l][q & (kWindow - 1)]) {
                const std::uint8_t* s = buf_ + q;
                std::size_t len = 0;
                while (len < maxLen && s[len] == buf_[p + len]) ++len;
                if (len >= mid) {
                    found = len;
                    dist = p - static_cast<std::size_t>(q);
                    break;
                }
            }
            if (found != 0) {
                lo = found;
            } else {
                hi = mid - 1;
            }
        }
        if (dist == 0) return {};
        return {static_cast<std::uint8_t>(lo), static_cast<std::uint16_t>(dist)};
    }

  private:
    void Buckets(std::size_t q, std::size_t levels) {
        std::uint64_t h = 0;
        for (std::size_t k = 0; k < kMinMatch - 1; ++k) h = (h + buf_[q + k]) * 0x9E3779B97F4A7C15u;
        for (std::size_t l = 0; l < levels; ++l) {
            h = (h + buf_[q + l + kMinMatch - 1]) * 0x9E3779B97F4A7C15u;
            bucket_[l] = static_cast<std::uint32_t>(h >> (64 - kHashBits));
        }
    }

    const std::uint8_t* buf_;
    std::array<std::array<std::int32_t, std::size_t{1} << kHashBits>, kLevels> head_;
    // Links only ever need to reach one window back, so a ring of kWindow slots suffices.
    std::array<std::array<std::int32_t, kWindow>, kLevels> prev_;
    std::array<std::uint32_t, kLevels> bucket_{};
};

// The longest match at every data position. The decoder's ring starts as spaces, so the
// data is searched as if kWindow spaces preceded it; every window position is a candidate
// (distance kWindow is the ring slot about to be overwritten, which is read first).
std::vector<Match> LongestMatches(std::span<const std::uint8_t> data) {
    std::vector<std::uint8_t> buf(kWindow + data.size(), ' ');
    std::copy(data.begin(), data.end(), buf.begin() + kWindow);
    const std::size_t total = buf.size();
    const auto finder = std::make_unique<MatchFinder>(buf.data());
    for (std::size_t q = 0; q < kWindow && q + kMinMatch <= total; ++q) {
        finder->Insert(q, total - q, false);
    }
    std::vector<Match> matches(data.size());
    for (std::size_t p = kWindow; p + kMinMatch <= total; ++p) {
        const std::size_t hint = p > kWindow ? matches[p - kWindow - 1].distance : 0;
        matches[p - kWindow] = finder->Longest(p, std::min(kMaxMatch, total - p), hint);
        finder->Insert(p, total - p, true);
    }
    return matches;
}

}  // namespace

std::vector<std::uint8_t> PackSzdd(std::span<const std::uint8_t> data, std::uint8_t missingChar) {
    if (data.size() > std::numeric_limits<std::uint32_t>::max()) {
        throw std::length_error("SZDD length is 32-bit");
    }
    const std::size_t n = data.size();
    const std::vector<Match> matches = LongestMatches(data);

    // Optimal parse from the end. Each item costs its flag bit plus 8 bits a byte, and the
    // stream's size is that total rounded up to bytes, so fewest bits is fewest bytes. Any
    // prefix of a match is a match at the same distance, so the longest match and its
    // prefixes are all the options at a position.
    std::vector<std::uint32_t> cost(n + 1, 0);
    std::vector<std::uint8_t> choice(n);  // 0 = literal, else match length
    for (std::size_t i = n; i-- > 0;) {
        std::uint32_t best = 9 + cost[i + 1];
        std::uint8_t pick = 0;
        const std::size_t longest = matches[i].length;
        for (std::size_t l = kMinMatch; l <= longest; ++l) {
            if (17 + cost[i + l] < best) {
                best = 17 + cost[i + l];
                pick = static_cast<std::uint8_t>(l);
            }
        }
        cost[i] = best;
        choice[i] = pick;
    }

    std::vector<std::uint8_t> out = {'S', 'Z', 'D', 'D', 0x88, 0xF0, 0x27, 0x33, 'A', missingChar};
    for (int shift = 0; shift < 32; shift += 8)
        out.push_back(static_cast<std::uint8_t>(n >> shift));
    out.reserve(out.size() + n + n / 8 + 1);
    std::size_t flagAt = 0;
    for (std::size_t i = 0, k = 0; i < n; k = (k + 1) & 7) {
        if (k == 0) {
            flagAt = out.size();
            out.push_back(0);  // unused bits stay 0: a match the decoder finds no bytes for
        }
        const std::uint8_t pick = choice[i];
        if (pick == 0) {
            out[flagAt] |= static_cast<std::uint8_t>(1u << k);
            out.push_back(data[i]);
            ++i;
            continue;
        }
        const std::size_t offset = (kStartWrite + i - matches[i].distance) & (kWindow - 1);
        out.push_back(static_cast<std::uint8_t>(offset & 0xFF));
        out.push_back(static_cast<std::uint8_t>(((offset >> 4) & 0xF0) | (pick - kMinMatch)));
        i += pick;
    }
    return out;
}

}  // namespace szdd
