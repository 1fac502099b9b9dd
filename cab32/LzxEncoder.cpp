#include "cab32/Lzx.h"

#include <algorithm>
#include <climits>
#include <cstring>

#include "cab32/LzxBitWriter.h"
#include "cab32/LzxCommon.h"
#include "cab32/LzxTreeWriter.h"

// Matches come from hash chains over three-byte prefixes with a lazy parse:
// the three repeated offsets are tried first at every position, then up to
// chainDepth earlier positions with the same prefix; a match is taken unless
// the next position offers a better one. Choices are scored in rough bits
// saved against literals, so a short match far away loses to literals and a
// repeated offset wins over an equally long new one.
namespace cab32 {

using namespace lzx;

namespace {

constexpr int kHashBits = 16;
constexpr int kLiteralBits = 6;     // rough cost of a literal in scores
constexpr int kMatchSymbolBits = 8; // rough cost of a match's main symbol
constexpr int kRepSymbolBits = 6;   // a repeated offset's main symbol, no extra bits

// One parsed symbol of a block.
struct Item
{
    uint32_t length; // 0 for a literal, else the match length (2..257)
    uint32_t value;  // the literal, a repeated offset's index (0..2) or the formatted offset (3..)
};

struct Match
{
    uint32_t length = 0; // 0: none worth taking
    uint32_t code = 0;   // as Item::value
    int score = 0;       // rough bits saved against literals
};

inline uint32_t Hash3(const uint8_t* p)
{
    const uint32_t v = uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16;
    return (v * 2654435761u) >> (32 - kHashBits);
}

// How many bytes at a equal those at b, up to limit.
inline uint32_t MatchLength(const uint8_t* a, const uint8_t* b, uint32_t limit)
{
    uint32_t n = 0;
    while (n + 8 <= limit) {
        uint64_t x, y;
        std::memcpy(&x, a + n, 8);
        std::memcpy(&y, b + n, 8);
        if (x != y)
            return n + static_cast<uint32_t>(__builtin_ctzll(x ^ y) >> 3);
        n += 8;
    }
    while (n < limit && a[n] == b[n])
        ++n;
    return n;
}

// Whether the first block looks like x86 code: many E8 bytes whose operand's
// top byte is 0x00 or 0xFF, as near calls have.
bool LooksLikeCode(const uint8_t* data, size_t len)
{
    size_t calls = 0;
    for (size_t i = 0; i + 4 < len; ++i)
        if (data[i] == 0xE8 && (data[i + 4] == 0x00 || data[i + 4] == 0xFF))
            ++calls;
    return calls >= 16 && calls * 1024 >= len;
}

} // namespace

struct LzxEncoder::State
{
    LzxOptions options;
    uint32_t windowSize;
    uint32_t maxOffset; // the window less 3, as the format allows
    int mainSymbols;
    uint32_t blockBytes;
    std::vector<uint8_t> buf;   // history (up to the window) and the current block
    uint32_t bufBase = 0;       // stream offset of buf[0]
    uint32_t end = 0;           // stream offset just past the bytes written so far
    uint32_t blockStart = 0;    // stream offset of the block being filled
    uint32_t inserted = 0;      // next stream offset to enter the hash chains
    std::vector<uint32_t> head; // per hash: latest offset + 1, 0 for none
    uint32_t chainSize;         // entries of prev: the chains reach this far back (at most the window)
    std::vector<uint32_t> prev; // per offset modulo chainSize: the previous offset + 1 with its hash
    uint32_t rep[3] = {1, 1, 1};
    uint8_t prevMain[kMaxMainSymbols] = {};
    uint8_t prevLength[kSecondaryLengths] = {};
    bool headerDone = false;
    bool e8 = false;
    bool finished = false;
    BitWriter bits;
    uint32_t written = 0; // stream offset of the next item to write
    uint32_t cut = 0;     // stream offset where the current frame starts
    std::vector<Item> items;
    std::deque<LzxFrame> ready;

    State(int windowBits, const LzxOptions& o)
        : options(o), windowSize(1u << windowBits), maxOffset(windowSize - 3),
          mainSymbols(kNumChars + SlotsForWindow(windowBits) * 8),
          blockBytes(static_cast<uint32_t>(std::max(1, o.blockFrames)) * kLzxFrameSize), buf(windowSize + blockBytes),
          head(1u << kHashBits, 0), chainSize(1u << std::min(windowBits, std::max(o.chainBits, kLzxMinWindowBits))),
          prev(chainSize, 0)
    {}

    const uint8_t* At(uint32_t pos) const { return buf.data() + (pos - bufBase); }

    void Insert(uint32_t pos);
    Match Find(uint32_t pos);
    void SearchChain(uint32_t pos, uint32_t limit, Match& best);
    void Parse();
    void EncodeBlock();
    void WriteHeader();
    void WriteBlock();
    void WriteItems(bool aligned, const uint8_t* mainLen, const uint8_t* lengthLen, const uint8_t* alignedLen);
    void CutFrame();
    void Slide();
};

void LzxEncoder::State::Insert(uint32_t pos)
{
    if (pos + 2 >= end)
        return;
    const uint32_t h = Hash3(At(pos));
    prev[pos & (chainSize - 1)] = head[h];
    head[h] = pos + 1;
}

void LzxEncoder::State::SearchChain(uint32_t pos, uint32_t limit, Match& best)
{
    if (limit < 3 || pos + 2 >= end)
        return;
    const uint8_t* cur = At(pos);
    // A link older than chainSize may have been overwritten by a newer position.
    const uint32_t reach = std::min(maxOffset, chainSize);
    const uint32_t minPos = pos > reach ? pos - reach : 0;
    const uint32_t nice = std::min<uint32_t>(limit, static_cast<uint32_t>(options.niceLength));
    uint32_t length = 2;
    uint32_t offset = 0;
    uint32_t cand = head[Hash3(cur)];
    for (int depth = options.chainDepth; cand != 0 && depth > 0; --depth) {
        const uint32_t c = cand - 1;
        if (c < minPos)
            break;
        const uint8_t* m = At(c);
        if (m[length] == cur[length]) {
            const uint32_t n = MatchLength(cur, m, limit);
            if (n > length) {
                length = n;
                offset = pos - c;
                if (n >= nice)
                    break;
            }
        }
        cand = prev[c & (chainSize - 1)];
    }
    if (offset == 0)
        return;
    const int extra = ExtraBits(SlotOf(offset + 2));
    const int score = kLiteralBits * static_cast<int>(length) - kMatchSymbolBits - extra;
    if (score > best.score)
        best = {length, offset + 2, score};
}

// The best match at pos (none when literals are cheaper); enters pos and every
// skipped offset before it into the hash chains.
Match LzxEncoder::State::Find(uint32_t pos)
{
    for (; inserted < pos; ++inserted)
        Insert(inserted);
    const uint32_t frameEnd = std::min(end, (pos / kLzxFrameSize + 1) * kLzxFrameSize);
    const uint32_t limit = std::min<uint32_t>(kMaxMatch, frameEnd - pos);
    Match best;
    if (limit >= 2) {
        const uint8_t* cur = At(pos);
        for (uint32_t r = 0; r < 3; ++r) {
            const uint32_t off = rep[r];
            if (off > pos || off > maxOffset)
                continue;
            const uint32_t n = MatchLength(cur, cur - off, limit);
            const int score = kLiteralBits * static_cast<int>(n) - kRepSymbolBits - static_cast<int>(r);
            if (n >= 2 && score > best.score)
                best = {n, r, score};
        }
        if (best.length < static_cast<uint32_t>(options.niceLength))
            SearchChain(pos, limit, best);
    }
    Insert(pos);
    inserted = pos + 1;
    return best;
}

void LzxEncoder::State::Parse()
{
    items.clear();
    uint32_t pos = blockStart;
    Match cur = Find(pos);
    while (pos < end) {
        if (cur.length == 0) {
            items.push_back({0, *At(pos)});
            if (++pos < end)
                cur = Find(pos);
            continue;
        }
        const bool frameStartsNext = (pos + 1) % kLzxFrameSize == 0;
        if (cur.length < static_cast<uint32_t>(options.niceLength) && pos + 1 < end && !frameStartsNext) {
            const Match next = Find(pos + 1);
            if (next.score > cur.score) {
                items.push_back({0, *At(pos)});
                ++pos;
                cur = next;
                continue;
            }
        }
        items.push_back({cur.length, cur.code});
        if (cur.code >= 3) {
            rep[2] = rep[1];
            rep[1] = rep[0];
            rep[0] = cur.code - 2;
        } else {
            std::swap(rep[0], rep[cur.code]);
        }
        pos += cur.length;
        if (pos < end)
            cur = Find(pos);
    }
}

void LzxEncoder::State::WriteHeader()
{
    if (options.e8 == LzxOptions::E8::Auto)
        e8 = LooksLikeCode(At(blockStart), end - blockStart);
    else
        e8 = options.e8 == LzxOptions::E8::On;
    bits.Put(e8 ? 1 : 0, 1);
    if (e8) {
        bits.Put(static_cast<uint32_t>(kE8TranslationSize) >> 16, 16);
        bits.Put(static_cast<uint32_t>(kE8TranslationSize) & 0xFFFF, 16);
    }
    headerDone = true;
}

void LzxEncoder::State::EncodeBlock()
{
    if (end == blockStart)
        return;
    if (!headerDone)
        WriteHeader();
    for (uint32_t f = blockStart; e8 && f < end && f / kLzxFrameSize < 32768; f += kLzxFrameSize)
        TranslateE8(buf.data() + (f - bufBase), std::min(kLzxFrameSize, end - f), f, kE8TranslationSize, true);
    Parse();
    WriteBlock();
    blockStart = end;
    Slide();
}

// Keeps the last window of history at the front of the buffer, making room
// for the next block.
void LzxEncoder::State::Slide()
{
    if (blockStart - bufBase + blockBytes <= buf.size())
        return;
    const uint32_t keep = std::min(windowSize, blockStart - bufBase);
    std::memmove(buf.data(), At(blockStart - keep), keep);
    bufBase = blockStart - keep;
}

void LzxEncoder::State::CutFrame()
{
    bits.Align();
    LzxFrame frame;
    frame.data = bits.Take();
    frame.uncompressed = written - cut;
    cut = written;
    ready.push_back(std::move(frame));
}

void LzxEncoder::State::WriteBlock()
{
    uint32_t mainFreq[kMaxMainSymbols] = {};
    uint32_t lengthFreq[kSecondaryLengths] = {};
    uint32_t alignedFreq[kAlignedSymbols] = {};
    uint64_t alignedCount = 0;
    for (const Item& it : items) {
        if (it.length == 0) {
            ++mainFreq[it.value];
            continue;
        }
        const int slot = it.value < 3 ? static_cast<int>(it.value) : SlotOf(it.value);
        const uint32_t header = std::min<uint32_t>(it.length - kMinMatch, kPrimaryLengths);
        ++mainFreq[kNumChars + slot * 8 + header];
        if (header == kPrimaryLengths)
            ++lengthFreq[it.length - kMinMatch - kPrimaryLengths];
        if (it.value >= 3 && ExtraBits(slot) >= 3) {
            ++alignedFreq[(it.value - PositionBase(slot)) & 7];
            ++alignedCount;
        }
    }
    uint8_t mainLen[kMaxMainSymbols], lengthLen[kSecondaryLengths], alignedLen[kAlignedSymbols];
    BuildLengths(mainFreq, mainSymbols, kMaxCodeLength, mainLen);
    BuildLengths(lengthFreq, kSecondaryLengths, kMaxCodeLength, lengthLen);
    BuildLengths(alignedFreq, kAlignedSymbols, kMaxAlignedLength, alignedLen);
    // An aligned block spends 24 bits on its tree to code the low three offset bits.
    uint64_t alignedBits = 24;
    for (int i = 0; i < kAlignedSymbols; ++i)
        alignedBits += uint64_t(alignedFreq[i]) * alignedLen[i];
    const bool aligned = alignedCount > 0 && alignedBits < alignedCount * 3;

    const uint32_t size = end - blockStart;
    bits.Put(aligned ? kBlockAligned : kBlockVerbatim, 3);
    bits.Put(size >> 8, 16);
    bits.Put(size & 0xFF, 8);
    for (int i = 0; aligned && i < kAlignedSymbols; ++i)
        bits.Put(alignedLen[i], 3);
    WriteLengths(bits, mainLen, prevMain, kNumChars);
    WriteLengths(bits, mainLen + kNumChars, prevMain + kNumChars, mainSymbols - kNumChars);
    WriteLengths(bits, lengthLen, prevLength, kSecondaryLengths);
    std::memcpy(prevMain, mainLen, static_cast<size_t>(mainSymbols));
    std::memcpy(prevLength, lengthLen, sizeof(prevLength));
    WriteItems(aligned, mainLen, lengthLen, alignedLen);
}

void LzxEncoder::State::WriteItems(bool aligned, const uint8_t* mainLen, const uint8_t* lengthLen,
                                   const uint8_t* alignedLen)
{
    uint16_t mainCode[kMaxMainSymbols], lengthCode[kSecondaryLengths], alignedCode[kAlignedSymbols];
    BuildCodes(mainLen, mainSymbols, mainCode);
    BuildCodes(lengthLen, kSecondaryLengths, lengthCode);
    BuildCodes(alignedLen, kAlignedSymbols, alignedCode);
    for (const Item& it : items) {
        if (it.length == 0) {
            bits.Put(mainCode[it.value], mainLen[it.value]);
            ++written;
        } else {
            const int slot = it.value < 3 ? static_cast<int>(it.value) : SlotOf(it.value);
            const uint32_t header = std::min<uint32_t>(it.length - kMinMatch, kPrimaryLengths);
            const uint32_t symbol = kNumChars + static_cast<uint32_t>(slot) * 8 + header;
            bits.Put(mainCode[symbol], mainLen[symbol]);
            if (header == kPrimaryLengths) {
                const uint32_t footer = it.length - kMinMatch - kPrimaryLengths;
                bits.Put(lengthCode[footer], lengthLen[footer]);
            }
            const int extra = ExtraBits(slot);
            if (it.value >= 3 && extra > 0) {
                const uint32_t e = it.value - PositionBase(slot);
                if (aligned && extra >= 3) {
                    bits.Put(e >> 3, extra - 3);
                    bits.Put(alignedCode[e & 7], alignedLen[e & 7]);
                } else {
                    bits.Put(e, extra);
                }
            }
            written += it.length;
        }
        if (written % kLzxFrameSize == 0)
            CutFrame();
    }
}

LzxEncoder::LzxEncoder(int windowBits, const LzxOptions& options)
    : m_state(new State(std::min(std::max(windowBits, kLzxMinWindowBits), kLzxMaxWindowBits), options))
{}

LzxEncoder::~LzxEncoder() = default;

void LzxEncoder::Write(const uint8_t* data, size_t len)
{
    State& s = *m_state;
    while (len > 0 && !s.finished) {
        const uint32_t take = static_cast<uint32_t>(std::min<size_t>(len, s.blockStart + s.blockBytes - s.end));
        std::memcpy(s.buf.data() + (s.end - s.bufBase), data, take);
        s.end += take;
        data += take;
        len -= take;
        if (s.end - s.blockStart == s.blockBytes)
            s.EncodeBlock();
    }
}

void LzxEncoder::Finish()
{
    State& s = *m_state;
    if (s.finished)
        return;
    s.EncodeBlock();
    if (s.written != s.cut)
        s.CutFrame();
    s.finished = true;
}

bool LzxEncoder::TakeFrame(LzxFrame& frame)
{
    if (m_state->ready.empty())
        return false;
    frame = std::move(m_state->ready.front());
    m_state->ready.pop_front();
    return true;
}

bool LzxEncoder::E8Enabled() const
{
    return m_state->e8;
}

} // namespace cab32
