// The LZX encoder's parts on their own: the match finders against a search
// of every earlier position, both parses against literals and against the
// bytes they must give back, and the block splitter on symbols whose
// statistics shift.
#include <gtest/gtest.h>

#include <random>
#include <string>

#include "cab32/codec/Lzx.h"
#include "cab32/codec/LzxBlockSplitter.h"
#include "cab32/codec/LzxLeastCost.h"
#include "cab32/codec/LzxMatchFinder.h"
#include "cab32/codec/LzxMatchTrees.h"
#include "cab32/codec/LzxParser.h"

using namespace cab32;
using namespace cab32::lzx;

namespace {

using Bytes = std::vector<uint8_t>;

// Words from a small vocabulary with noise between them: many short matches.
Bytes Words(size_t size, uint32_t seed, int vocabulary)
{
    std::mt19937 rng(seed);
    std::vector<std::string> words;
    for (int i = 0; i < vocabulary; ++i) {
        std::string w;
        for (int n = 2 + static_cast<int>(rng() % 9); n > 0; --n)
            w.push_back(static_cast<char>('a' + rng() % 6));
        words.push_back(w + " ");
    }
    Bytes out;
    while (out.size() < size) {
        const std::string& w = words[rng() % words.size()];
        out.insert(out.end(), w.begin(), w.end());
        if (rng() % 5 == 0)
            out.push_back(static_cast<uint8_t>(rng()));
    }
    out.resize(size);
    return out;
}

// The longest match at pos reaching back at most 'reach', by trying every offset.
uint32_t LongestMatch(const Bytes& d, uint32_t pos, uint32_t reach, uint32_t limit)
{
    uint32_t best = 0;
    for (uint32_t off = 1; off <= reach && off <= pos; ++off)
        best = std::max(best, CommonLength(d.data() + pos, d.data() + pos - off, limit));
    return best;
}

// Checks the matches one finder reported at pos: each true, within reach and
// limit, longer than the one before; and how the longest compares with the
// longest there is.
void CheckMatches(const Bytes& d, uint32_t pos, const LzMatch* m, int n, uint32_t reach, uint32_t limit,
                  bool mustFindLongest)
{
    uint32_t last = 0;
    for (int k = 0; k < n; ++k) {
        ASSERT_GE(m[k].offset, 1u);
        ASSERT_LE(m[k].offset, std::min(reach, pos));
        ASSERT_LE(m[k].length, limit);
        ASSERT_GT(m[k].length, last);
        ASSERT_EQ(CommonLength(d.data() + pos, d.data() + pos - m[k].offset, m[k].length), m[k].length);
        last = m[k].length;
    }
    const uint32_t longest = LongestMatch(d, pos, reach, limit);
    ASSERT_LE(last, longest);
    if (mustFindLongest && longest >= 3)
        ASSERT_EQ(last, longest) << "at " << pos;
}

} // namespace

TEST(LzxParts, MatchFindersReportTrueMatchesAndTheTreesTheLongest)
{
    const struct
    {
        const char* what;
        Bytes data;
        int reachBits;
        uint32_t limit;
    } cases[] = {
        {"words, reach past the data", Words(6000, 1, 40), 15, 257},
        {"words, short reach", Words(6000, 2, 40), 10, 257},
        {"words, short limit", Words(6000, 3, 12), 15, 5},
        {"one byte repeated", Bytes(3000, 'x'), 15, 257},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.what);
        const WindowView w{c.data.data(), 0};
        const uint32_t reach = (1u << c.reachBits) - 1;
        MatchTrees trees(c.reachBits, reach);
        trees.depth = 63;
        trees.nice = 258;
        HashBuckets buckets(c.reachBits, reach, 12, 10);
        buckets.depth = 63;
        buckets.nice = 258;
        LzMatch m[63 + 2];
        for (uint32_t pos = 0; pos + 4 <= c.data.size(); ++pos) {
            const uint32_t avail = static_cast<uint32_t>(c.data.size()) - pos;
            const uint32_t limit = std::min(c.limit, avail);
            // A tree holds at most 63 nodes per path here only if the data is varied enough.
            const bool exact = c.data[0] != 'x';
            int n = trees.Find(w, pos, avail, limit, m);
            ASSERT_NO_FATAL_FAILURE(CheckMatches(c.data, pos, m, n, reach, limit, exact));
            n = buckets.Find(w, pos, avail, limit, m);
            ASSERT_NO_FATAL_FAILURE(CheckMatches(c.data, pos, m, n, reach, limit, false));
            buckets.Insert(w, pos, avail);
        }
    }
}

namespace {

// The least-cost parse of d, over binary trees.
std::vector<Item> LeastCostParse(const Bytes& d, const CostModel& costs, uint32_t rep[3])
{
    const WindowView w{d.data(), 0};
    MatchTrees trees(16, 65535);
    MatchCache cache;
    cache.Reset(0);
    for (uint32_t pos = 0; pos < d.size(); ++pos) {
        const uint32_t avail = static_cast<uint32_t>(d.size()) - pos;
        LzMatch* room = cache.Room(trees.depth);
        cache.Commit(trees.Find(w, pos, avail, std::min<uint32_t>(kMaxMatch, avail), room));
    }
    LeastCostParser parser;
    std::vector<Item> items;
    parser.Parse(w, cache, 0, static_cast<uint32_t>(d.size()), costs, rep, items);
    return items;
}

// The lazy parse of d, over hash buckets.
std::vector<Item> LazyParse(const Bytes& d, const CostModel& costs, uint32_t rep[3])
{
    const WindowView w{d.data(), 0};
    HashBuckets buckets(16, 65535, 12, 10);
    LazyParser lazy;
    uint32_t inserted = 0;
    std::vector<Item> items;
    const uint32_t n = static_cast<uint32_t>(d.size());
    lazy.Parse(w, buckets, inserted, 0, n, n, costs, rep, items);
    return items;
}

// Replays items against d: every match within a frame and equal to its
// source, the repeated offsets at the end as the parse said; returns their bits.
uint64_t Replay(const Bytes& d, const std::vector<Item>& items, const uint32_t rep[3], const CostModel& costs)
{
    Bytes out;
    uint64_t bits = 0;
    uint32_t r[3] = {1, 1, 1};
    for (const Item& it : items) {
        const uint32_t off = it.length == 0 ? 0 : it.value < 3 ? r[it.value] : it.value - 2;
        EXPECT_EQ(out.size() / kLzxFrameSize, (out.size() + std::max(it.length, 1u) - 1) / kLzxFrameSize);
        if (it.length == 0) {
            out.push_back(static_cast<uint8_t>(it.value));
            bits += costs.Literal(static_cast<uint8_t>(it.value));
        } else {
            if (off < 1 || off > out.size() || it.length > kMaxMatch)
                return ADD_FAILURE() << "bad match", 0;
            for (uint32_t k = 0; k < it.length; ++k)
                out.push_back(out[out.size() - off]);
            const int slot = SlotOfValue(it.value);
            bits += costs.Length(slot, it.length) + (it.value >= 3 ? costs.Offset(slot, it.value) : 0);
        }
        UpdateReps(r, it);
    }
    EXPECT_TRUE(out == d);
    EXPECT_TRUE(std::equal(r, r + 3, rep));
    return bits;
}

} // namespace

TEST(LzxParts, ParsesGiveBackTheBytesForLessThanLiterals)
{
    const struct
    {
        Bytes data;
        double most; // bits of the parse over bits of the bytes as literals, at most
    } cases[] = {{Words(70000, 4, 30), 0.5}, {Words(70000, 5, 2000), 0.7}, {Bytes(70000, 0), 0.01}};
    const struct
    {
        const char* what;
        std::vector<Item> (*parse)(const Bytes&, const CostModel&, uint32_t*);
    } parsers[] = {{"least cost", LeastCostParse}, {"lazy", LazyParse}};
    CostModel costs;
    costs.SetDefault(kNumChars + 32 * 8);
    for (const auto& c : cases)
        for (const auto& p : parsers) {
            SCOPED_TRACE(p.what);
            uint32_t rep[3] = {1, 1, 1};
            const std::vector<Item> items = p.parse(c.data, costs, rep);
            uint64_t literalBits = 0;
            for (uint8_t b : c.data)
                literalBits += costs.Literal(b);
            EXPECT_LT(static_cast<double>(Replay(c.data, items, rep, costs)), c.most * literalBits);
        }
}

TEST(LzxParts, SplitterEndsBlocksWhereTheSymbolsChange)
{
    const int mainSymbols = kNumChars + 42 * 8;
    auto literals = [](size_t n, int first, int count, uint32_t seed) {
        std::mt19937 rng(seed);
        std::vector<Item> out(n);
        for (Item& it : out)
            it = {0, static_cast<uint32_t>(first + static_cast<int>(rng() % count))};
        return out;
    };
    auto join = [](std::vector<Item> a, const std::vector<Item>& b) {
        a.insert(a.end(), b.begin(), b.end());
        return a;
    };
    const struct
    {
        const char* what;
        std::vector<Item> items;
        std::vector<size_t> blocks;
    } cases[] = {
        {"one alphabet", literals(60000, 0, 64, 1), {60000}},
        {"two alphabets, the change on a piece's edge",
         join(literals(16384, 0, 16, 2), literals(16384, 128, 128, 3)),
         {16384, 16384}},
        {"noise between letters",
         join(join(literals(20480, 97, 26, 4), literals(8192, 0, 256, 5)), literals(20480, 97, 26, 6)),
         {20480, 8192, 20480}},
        {"nothing", {}, {}},
    };
    BlockSplitter splitter(mainSymbols);
    for (const auto& c : cases)
        EXPECT_EQ(splitter.Split(c.items.data(), c.items.size(), 4096), c.blocks) << c.what;
}
