#include "cab32/codec/Lzx.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <stdexcept>

#include "cab32/codec/LzxBlockWriter.h"
#include "cab32/codec/LzxCommon.h"
#include "cab32/codec/LzxFrameBound.h"

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
    uint64_t folderBytes; // the folder's planned size
    uint32_t windowSize;
    uint32_t maxOffset; // the largest match offset (see kLzxOffsetReserve)
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
    bool headerDone = false;
    bool e8 = false;
    bool finished = false;
    std::vector<Item> items;
    BlockWriter writer;

    State(int windowBits, uint64_t planned, const LzxOptions& o)
        : options(o), folderBytes(planned), windowSize(1u << windowBits),
          maxOffset(windowSize - static_cast<uint32_t>(std::max(o.offsetReserve, kLzxFormatOffsetReserve))),
          blockBytes(static_cast<uint32_t>(std::max(1, o.blockFrames)) * kLzxFrameSize), buf(windowSize + blockBytes),
          head(1u << kHashBits, 0), chainSize(1u << std::min(windowBits, std::max(o.chainBits, kLzxMinWindowBits))),
          prev(chainSize, 0), writer(kNumChars + SlotsForWindow(windowBits) * 8)
    {}

    const uint8_t* At(uint32_t pos) const { return buf.data() + (pos - bufBase); }

    void Insert(uint32_t pos);
    Match Find(uint32_t pos);
    void SearchChain(uint32_t pos, uint32_t limit, Match& best);
    void Parse();
    void EncodeBlock(bool last);
    uint32_t ShortLastFrame() const;
    void WriteHeader();
    void Slide();
};

void LzxEncoder::State::Insert(uint32_t pos)
{
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
// skipped offset before it into the hash chains. The last two bytes written
// so far wait: their three-byte prefix is known only with the next bytes.
Match LzxEncoder::State::Find(uint32_t pos)
{
    const uint32_t hashable = end - std::min<uint32_t>(end, 2);
    for (; inserted < pos && inserted < hashable; ++inserted)
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
    if (inserted == pos && pos < hashable) {
        Insert(pos);
        inserted = pos + 1;
    }
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
        UpdateReps(rep, items.back());
        pos += cur.length;
        if (pos < end)
            cur = Find(pos);
    }
}

// The stream's header. Translation is never on in a folder past 1 GiB: the
// format stops translating after frame 32,768, and libarchive 3.6 does not.
void LzxEncoder::State::WriteHeader()
{
    if (options.e8 == LzxOptions::E8::Auto)
        e8 = LooksLikeCode(At(blockStart), end - blockStart);
    else
        e8 = options.e8 == LzxOptions::E8::On;
    e8 = e8 && folderBytes <= std::min(options.e8FolderLimit, kLzxE8FolderLimit);
    writer.WriteHeader(e8);
    headerDone = true;
}

// Codes the block being filled: E8 translation, the parse, and its frames
// written within the bound.
void LzxEncoder::State::EncodeBlock(bool last)
{
    if (end == blockStart)
        return;
    if (!headerDone)
        WriteHeader();
    if (e8 && end > kLzxE8FolderLimit)
        throw std::length_error("more LZX bytes than planned with E8 translation on");
    for (uint32_t f = blockStart; e8 && f < end; f += kLzxFrameSize)
        TranslateE8(buf.data() + (f - bufBase), std::min(kLzxFrameSize, end - f), f, kE8TranslationSize, true);
    FrameGroup group = {nullptr, 0, At(blockStart), end - blockStart, {rep[0], rep[1], rep[2]}, last, ShortLastFrame()};
    Parse();
    group.items = items.data();
    group.count = items.size();
    WriteWithinBound(writer, group, options.frameLimit);
    blockStart = end;
    Slide();
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

LzxEncoder::LzxEncoder(int windowBits, uint64_t folderBytes, const LzxOptions& options)
    : m_state(new State(std::min(std::max(windowBits, kLzxMinWindowBits), kLzxMaxWindowBits), folderBytes, options))
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
            s.EncodeBlock(false);
    }
}

void LzxEncoder::Finish()
{
    State& s = *m_state;
    if (s.finished)
        return;
    s.EncodeBlock(true);
    s.finished = true;
}

bool LzxEncoder::TakeFrame(LzxFrame& frame)
{
    std::deque<LzxFrame>& ready = m_state->writer.Ready();
    if (ready.empty())
        return false;
    frame = std::move(ready.front());
    ready.pop_front();
    return true;
}

bool LzxEncoder::E8Enabled() const
{
    return m_state->e8;
}

} // namespace cab32
