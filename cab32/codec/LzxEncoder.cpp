#include <algorithm>
#include <cstdint>
#include <memory>
#include <stdexcept>

#include "cab32/codec/Lzx.h"
#include "cab32/codec/LzxBlockCodes.h"
#include "cab32/codec/LzxBlockSplitter.h"
#include "cab32/codec/LzxBlockWriter.h"
#include "cab32/codec/LzxCommon.h"
#include "cab32/codec/LzxFrameBound.h"
#include "cab32/codec/LzxLeastCost.h"
#include "cab32/codec/LzxMatchFinder.h"
#include "cab32/codec/LzxMatchTrees.h"
#include "cab32/codec/LzxParser.h"
#include "cab32/codec/LzxWindow.h"

// The encoder in its parts, each a stage a stretch of four frames goes
// through: the window holds the bytes (LzxWindow.h); the match finder searches
// it (hash buckets, LzxMatchFinder.h; binary trees for the least-cost option,
// LzxMatchTrees.h); the parse chooses the items, each priced by the codes of
// the block written last (lazily, LzxParser.h; at the least cost,
// LzxLeastCost.h); the block splitter ends blocks where the statistics shift
// (LzxBlockSplitter.h); the block coder builds each block's codes
// (LzxBlockCodes.h); the frame bound (LzxFrameBound.h) has the block writer
// (LzxBlockWriter.h) write them within the frames' bound, and the frames it
// cuts are the output.
namespace cab32 {

using namespace lzx;

namespace {

// Whether the first stretch looks like x86 code: many E8 bytes whose
// operand's top byte is 0x00 or 0xFF, as near calls have.
bool LooksLikeCode(const uint8_t* data, size_t len)
{
    size_t calls = 0;
    for (size_t i = 0; i + 4 < len; ++i)
        if (data[i] == 0xE8 && (data[i + 4] == 0x00 || data[i + 4] == 0xFF))
            ++calls;
    return calls >= 16 && calls * 1024 >= len;
}

int Clamp(int value, int low, int high)
{
    return std::min(std::max(value, low), high);
}

// The match finder: hash buckets for the lazy parse, or binary trees and the
// matches they found for the least-cost one.
struct Finder
{
    std::unique_ptr<HashBuckets> buckets;
    std::unique_ptr<MatchTrees> trees;
    MatchCache cache;      // the stretch's matches (trees)
    uint32_t inserted = 0; // next stream offset to enter the buckets or trees
};

// The parse: its two ways, the repeated offsets after the stretches coded so
// far, and the stretch's items.
struct Parse
{
    LazyParser lazy;
    LeastCostParser leastCost;
    CostModel lastCosts; // the codes of the block written last, as costs
    uint32_t rep[3] = {1, 1, 1};
    std::vector<Item> items;   // the stretch's parse
    std::vector<Item> reparse; // the stretch's items parsed again block by block (least cost)
};

// The block splitter and the block coder: the stretch's blocks and their codes.
struct Blocks
{
    explicit Blocks(int mainSymbols) : splitter(mainSymbols) {}

    BlockSplitter splitter;
    std::vector<GroupBlock> blocks;
    std::vector<BlockCodes> codes; // one a block
};

// The output: the stream's header (call translation decided on the folder's
// first stretch) and the block writer, whose frames are the encoder's output.
struct Output
{
    explicit Output(int mainSymbols) : writer(mainSymbols) {}

    BlockWriter writer;
    bool headerDone = false;
    bool e8 = false; // call translation is on
};

} // namespace

struct LzxEncoder::State
{
    State(int windowBits, uint64_t planned, const LzxOptions& o);

    // The folder.
    LzxOptions options;
    uint64_t folderBytes; // its planned size, exactly
    int mainSymbols;
    bool finished = false;

    Window window;
    Finder finder;
    Parse parse;
    Blocks blocks;
    Output output;

    void EncodeStretch(bool last);
    void WriteHeader();
    void ParseStretch();
    void ChooseBlocks();
    uint32_t ChooseCodes(size_t block, size_t first, size_t count, uint32_t begin);
    uint32_t ShortLastFrame() const;
};

LzxEncoder::State::State(int windowBits, uint64_t planned, const LzxOptions& o)
    : options(o), folderBytes(planned), mainSymbols(kNumChars + SlotsForWindow(windowBits) * 8),
      window(1u << windowBits, static_cast<uint32_t>(std::max(1, o.blockFrames)) * kLzxFrameSize), blocks(mainSymbols),
      output(mainSymbols)
{
    const int reachBits = std::min(windowBits, std::max(o.chainBits, kLzxMinWindowBits));
    const uint32_t maxOffset =
        (1u << windowBits) - static_cast<uint32_t>(std::max(o.offsetReserve, kLzxFormatOffsetReserve));
    const uint32_t nice = static_cast<uint32_t>(std::max(3, o.niceLength));
    if (o.leastCost) {
        // Trees take 8 bytes a position: they reach 1 MiB back at most.
        finder.trees.reset(new MatchTrees(std::min(reachBits, 20), maxOffset));
        finder.trees->depth = Clamp(o.chainDepth, 1, 63);
        finder.trees->nice = nice;
        parse.leastCost.nice = nice;
        parse.leastCost.everyLength = o.everyLength;
    } else {
        finder.buckets.reset(
            new HashBuckets(reachBits, maxOffset, Clamp(o.headBits, 10, 24), Clamp(o.nearBits, 0, 20)));
        finder.buckets->depth = Clamp(o.chainDepth, 1, HashBuckets::kWays);
        finder.buckets->nice = nice;
        finder.buckets->good = static_cast<uint32_t>(std::max(3, o.goodLength));
        parse.lazy.lazyBelow = static_cast<uint32_t>(std::max(0, o.lazyLength));
    }
    parse.lastCosts.SetDefault(mainSymbols);
}

// The stream's header. Translation is never on in a folder past 1 GiB: the
// format stops translating after frame 32,768, and libarchive 3.6 does not.
void LzxEncoder::State::WriteHeader()
{
    const uint32_t start = window.StretchStart();
    bool e8 = options.e8 == LzxOptions::E8::On;
    if (options.e8 == LzxOptions::E8::Auto)
        e8 = LooksLikeCode(window.At(start), window.End() - start);
    output.e8 = e8 && folderBytes <= std::min(options.e8FolderLimit, kLzxE8FolderLimit);
    output.writer.WriteHeader(output.e8);
    output.headerDone = true;
}

// The stretch's items, priced by the codes of the block written last.
void LzxEncoder::State::ParseStretch()
{
    const WindowView view = window.View();
    const uint32_t start = window.StretchStart(), end = window.End();
    uint32_t rep[3] = {parse.rep[0], parse.rep[1], parse.rep[2]};
    if (finder.trees) {
        finder.trees->FindStretch(view, finder.inserted, start, end, finder.cache);
        parse.leastCost.Parse(view, finder.cache, start, end, parse.lastCosts, rep, parse.items);
    } else {
        parse.lazy.Parse(view, *finder.buckets, finder.inserted, start, end, end, parse.lastCosts, rep, parse.items);
    }
}

// Codes the items [first, first + count) of the stretch as its block 'block',
// which starts at stream offset begin: codes from their counts; with the
// least-cost parse, parsed again as often as asked, each time priced by the
// codes of the parse before (the final items go to parse.reparse). Returns
// the bytes the block covers.
uint32_t LzxEncoder::State::ChooseCodes(size_t block, size_t first, size_t count, uint32_t begin)
{
    const uint32_t size = BytesOf(parse.items.data() + first, count);
    SymbolCounts counts;
    counts.Add(parse.items.data() + first, count);
    BlockCodes& codes = blocks.codes[block];
    codes.Build(counts, mainSymbols);
    const bool again = finder.trees && options.parsePasses > 1;
    std::vector<Item> pass;
    for (int p = 1; again && p < options.parsePasses; ++p) {
        CostModel costs;
        costs.Set(codes, mainSymbols);
        uint32_t r[3] = {parse.rep[0], parse.rep[1], parse.rep[2]};
        parse.leastCost.Parse(window.View(), finder.cache, begin, begin + size, costs, r, pass);
        counts.Clear();
        counts.Add(pass.data(), pass.size());
        codes.Build(counts, mainSymbols);
    }
    const Item* final = again ? pass.data() : parse.items.data() + first;
    const size_t finalCount = again ? pass.size() : count;
    for (size_t i = 0; i < finalCount; ++i)
        UpdateReps(parse.rep, final[i]);
    if (again)
        parse.reparse.insert(parse.reparse.end(), pass.begin(), pass.end());
    blocks.blocks.push_back({finalCount, size, &codes});
    return size;
}

// Where the stretch's blocks end, and each block's codes.
void LzxEncoder::State::ChooseBlocks()
{
    const std::vector<Item>& items = parse.items;
    const std::vector<size_t> whole(1, items.size());
    const std::vector<size_t>& counts =
        options.splitBlocks ? blocks.splitter.Split(items.data(), items.size(),
                                                    static_cast<uint32_t>(std::max(1, options.splitPieceBytes)))
                            : whole;
    blocks.blocks.clear();
    blocks.codes.resize(std::max(blocks.codes.size(), counts.size()));
    parse.reparse.clear();
    uint32_t pos = window.StretchStart();
    size_t first = 0;
    for (size_t b = 0; b < counts.size(); ++b) {
        pos += ChooseCodes(b, first, counts[b], pos);
        first += counts[b];
    }
    parse.lastCosts.Set(blocks.codes[counts.size() - 1], mainSymbols);
}

// Codes the stretch being filled: E8 translation, the parse, its blocks, and
// its frames written within the bound.
void LzxEncoder::State::EncodeStretch(bool last)
{
    const uint32_t start = window.StretchStart();
    const uint32_t end = window.End();
    if (end == start)
        return;
    if (!output.headerDone)
        WriteHeader();
    if (output.e8 && end > kLzxE8FolderLimit)
        throw std::length_error("more LZX bytes than planned with E8 translation on");
    for (uint32_t f = start; output.e8 && f < end; f += kLzxFrameSize)
        TranslateE8(window.At(f), std::min(kLzxFrameSize, end - f), f, kE8TranslationSize, true);
    const uint32_t repsBefore[3] = {parse.rep[0], parse.rep[1], parse.rep[2]};
    ParseStretch();
    ChooseBlocks();
    const std::vector<Item>& items = parse.reparse.empty() ? parse.items : parse.reparse;
    const FrameGroup group = {items.data(),
                              items.size(),
                              blocks.blocks.data(),
                              blocks.blocks.size(),
                              window.At(start),
                              end - start,
                              {repsBefore[0], repsBefore[1], repsBefore[2]},
                              last,
                              ShortLastFrame()};
    WriteWithinBound(output.writer, group, options.frameLimit);
    window.NextStretch();
}

// Where the folder's last frame starts when, by its planned size, it is short
// and not its first (libmspack needs the payloads before it off a multiple of
// 4,096: see LzxFrameBound.h); 0 otherwise.
uint32_t LzxEncoder::State::ShortLastFrame() const
{
    if (folderBytes % kLzxFrameSize == 0 || folderBytes < kLzxFrameSize || folderBytes > UINT32_MAX)
        return 0;
    return static_cast<uint32_t>(folderBytes - folderBytes % kLzxFrameSize);
}

LzxEncoder::LzxEncoder(int windowBits, uint64_t folderBytes, const LzxOptions& options)
    : m_state(new State(Clamp(windowBits, kLzxMinWindowBits, kLzxMaxWindowBits), folderBytes, options))
{}

LzxEncoder::~LzxEncoder() = default;

void LzxEncoder::Write(const uint8_t* data, size_t len)
{
    State& s = *m_state;
    while (len > 0 && !s.finished) {
        const uint32_t take = s.window.Append(data, len);
        data += take;
        len -= take;
        if (s.window.StretchFull())
            s.EncodeStretch(false);
    }
}

void LzxEncoder::Finish()
{
    State& s = *m_state;
    if (s.finished)
        return;
    s.EncodeStretch(true);
    s.finished = true;
}

bool LzxEncoder::TakeFrame(LzxFrame& frame)
{
    std::deque<LzxFrame>& ready = m_state->output.writer.Ready();
    if (ready.empty())
        return false;
    frame = std::move(ready.front());
    ready.pop_front();
    return true;
}

bool LzxEncoder::E8Enabled() const
{
    return m_state->output.e8;
}

const LzxBitCounts& LzxEncoder::BitCounts() const
{
    return m_state->output.writer.Counts();
}

} // namespace cab32
