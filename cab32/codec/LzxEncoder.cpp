#include <algorithm>
#include <cstdint>
#include <stdexcept>

#include "cab32/codec/Lzx.h"
#include "cab32/codec/LzxBlockWriter.h"
#include "cab32/codec/LzxCommon.h"
#include "cab32/codec/LzxFrameBound.h"
#include "cab32/codec/LzxMatchFinder.h"
#include "cab32/codec/LzxParser.h"
#include "cab32/codec/LzxWindow.h"

// The encoder in its parts, each a stage a block of four frames goes through:
// the window holds the bytes (LzxWindow.h), the match finder searches it
// (LzxMatchFinder.h), the parse chooses the items (LzxParser.h), the block
// coder below codes them (the stream's header, E8 translation, and the frames
// kept within their bound by LzxFrameBound.h), and its block writer holds the
// frames cut, the output.
namespace cab32 {

using namespace lzx;

namespace {

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

// The block coder: the stream's header (call translation decided on the
// folder's first block), each block's E8 translation, and its frames written
// within their bound; the block writer's frames are the encoder's output.
struct BlockCoder
{
    explicit BlockCoder(int mainSymbols) : writer(mainSymbols) {}

    BlockWriter writer;
    bool headerDone = false;
    bool e8 = false; // call translation is on
};

} // namespace

struct LzxEncoder::State
{
    State(int windowBits, uint64_t planned, const LzxOptions& o)
        : options(o), folderBytes(planned),
          window(1u << windowBits, static_cast<uint32_t>(std::max(1, o.blockFrames)) * kLzxFrameSize),
          finder(window, windowBits, o), coder(kNumChars + SlotsForWindow(windowBits) * 8)
    {}

    // The folder.
    LzxOptions options;
    uint64_t folderBytes; // its planned size, exactly
    bool finished = false;

    // The window, and the match finder's hash chains over it.
    Window window;
    MatchFinder finder;

    // The parse: the repeated offsets after the blocks parsed so far, and the block's items.
    uint32_t rep[3] = {1, 1, 1};
    std::vector<Item> items;

    // The block coder and its output.
    BlockCoder coder;

    void WriteHeader();
    void EncodeBlock(bool last);
    uint32_t ShortLastFrame() const;
};

// The stream's header. Translation is never on in a folder past 1 GiB: the
// format stops translating after frame 32,768, and libarchive 3.6 does not.
void LzxEncoder::State::WriteHeader()
{
    const uint32_t blockStart = window.BlockStart();
    bool e8 = options.e8 == LzxOptions::E8::On;
    if (options.e8 == LzxOptions::E8::Auto)
        e8 = LooksLikeCode(window.At(blockStart), window.End() - blockStart);
    coder.e8 = e8 && folderBytes <= std::min(options.e8FolderLimit, kLzxE8FolderLimit);
    coder.writer.WriteHeader(coder.e8);
    coder.headerDone = true;
}

// Codes the block being filled: E8 translation, the parse, and its frames
// written within the bound.
void LzxEncoder::State::EncodeBlock(bool last)
{
    const uint32_t blockStart = window.BlockStart();
    const uint32_t end = window.End();
    if (end == blockStart)
        return;
    if (!coder.headerDone)
        WriteHeader();
    if (coder.e8 && end > kLzxE8FolderLimit)
        throw std::length_error("more LZX bytes than planned with E8 translation on");
    for (uint32_t f = blockStart; coder.e8 && f < end; f += kLzxFrameSize)
        TranslateE8(window.At(f), std::min(kLzxFrameSize, end - f), f, kE8TranslationSize, true);
    FrameGroup group = {nullptr,         0, window.At(blockStart), end - blockStart, {rep[0], rep[1], rep[2]}, last,
                        ShortLastFrame()};
    ParseLazily(window, finder, static_cast<uint32_t>(options.niceLength), rep, items);
    group.items = items.data();
    group.count = items.size();
    WriteWithinBound(coder.writer, group, options.frameLimit);
    window.NextBlock();
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
    : m_state(new State(std::min(std::max(windowBits, kLzxMinWindowBits), kLzxMaxWindowBits), folderBytes, options))
{}

LzxEncoder::~LzxEncoder() = default;

void LzxEncoder::Write(const uint8_t* data, size_t len)
{
    State& s = *m_state;
    while (len > 0 && !s.finished) {
        const uint32_t take = s.window.Append(data, len);
        data += take;
        len -= take;
        if (s.window.BlockFull())
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
    std::deque<LzxFrame>& ready = m_state->coder.writer.Ready();
    if (ready.empty())
        return false;
    frame = std::move(ready.front());
    ready.pop_front();
    return true;
}

bool LzxEncoder::E8Enabled() const
{
    return m_state->coder.e8;
}

} // namespace cab32
