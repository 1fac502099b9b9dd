// LZX folders: one bit stream per folder, cut into frames of 32,768
// uncompressed bytes (the folder's last frame shorter), each frame's bits
// padded to a 16-bit word so that it fills exactly one CFDATA block. Matches
// reach back up to the window (2^15 .. 2^21 bytes) across frames and blocks,
// so a folder is encoded and decoded in order, frame by frame; separate folders
// are independent streams and can go to separate threads.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <memory>
#include <vector>

namespace cab32 {

constexpr int kLzxMinWindowBits = 15;
constexpr int kLzxMaxWindowBits = 21;
constexpr uint32_t kLzxFrameSize = 32768;           // uncompressed bytes in every frame but a folder's last
constexpr uint32_t kLzxMaxFrameData = 32768 + 6144; // largest frame payload a reader accepts
// The largest frame payload the encoder writes: a frame that would compress to
// more goes out as an uncompressed block (32,788 bytes at most with its
// headers; 32,804 where the frame before a short last frame is split in two,
// see LzxFrameBound.h). Planning counts every frame at this size, so a file
// that does not compress still fits its cabinet as planned.
constexpr uint32_t kLzxLargestFrame = 32768 + 36;
constexpr uint32_t kLzxE8Frames = 32768; // frames whose E8 calls the format translates (1 GiB)
constexpr uint64_t kLzxE8FolderLimit = uint64_t(kLzxE8Frames) * kLzxFrameSize; // no translation in a larger folder
// The format allows a match offset up to the window less 3.
constexpr int kLzxFormatOffsetReserve = 3;
// Our matches stay 16 bytes below the window instead. 7-Zip 26 copies a match
// at the window less 3 wrongly whenever the copy wraps round its window, and
// says nothing (exit 0): tools/lzx-offset-probe.sh tried every offset from
// the window less 16 to the window less 3 at windows 2^15 to 2^21, and 7-Zip
// read all right but the last (cabextract, bsdtar and gcab all). 16 keeps 12
// bytes of margin past the offset seen to fail, for a neighbour of that fault
// in another version. It costs nothing measurable: only a folder larger than
// its window less 16 can reach that far, and it loses only those last bytes.
constexpr int kLzxOffsetReserve = 16;

// CFFOLDER.typeCompress for an LZX folder with the given window.
constexpr uint16_t LzxTypeCompress(int windowBits)
{
    return static_cast<uint16_t>(0x0003 | (windowBits << 8));
}

// The window bits a typeCompress names, or 0 when it does not name LZX.
int LzxWindowBitsOf(uint16_t typeCompress);

// The smallest window that holds a folder of the given size (at most 21 bits):
// a larger one would cost memory and never find a match.
int LzxWindowBitsFor(uint64_t folderBytes);

struct LzxOptions
{
    enum class E8 { Auto, On, Off };
    E8 e8 = E8::Auto;    // call translation: Auto looks at the folder's first block
    int chainDepth = 8;  // bucket entries tried per search (at most 8; the least-cost parse's tree nodes, at most 63)
    int niceLength = 48; // a match this long ends the search and is taken at once
    int goodLength = 24; // after a match this long a quarter of the depth is left
    int lazyLength = 16; // a shorter match is weighed against the next position's
    int blockFrames = 4; // frames parsed together (a stretch: the longest block)
    int chainBits = 21;  // matches reach 2^chainBits bytes back at most (the least-cost parse's trees 2^20)
    int headBits = 17;   // hash buckets of 8 positions: 2^headBits of them
    int nearBits = 16;   // tables of the latest positions sharing 3 and 4 bytes: 2^nearBits entries, 0 for none
    bool splitBlocks = true;                // blocks end where the statistics shift (else one block a stretch)
    int splitPieceBytes = 8192;             // the finest step of a block's end
    bool leastCost = false;                 // the least-cost parse over binary trees: smaller, ten times slower
    int parsePasses = 2;                    // least-cost parses a block, each priced by the codes of the one before
    bool everyLength = true;                // the least-cost parse weighs every length of a match, not only its longest
    int offsetReserve = kLzxOffsetReserve;  // the largest match offset is the window less this (at least 3)
    uint32_t frameLimit = kLzxLargestFrame; // largest frame payload (lowered only to test the fallbacks)
    uint64_t e8FolderLimit = kLzxE8FolderLimit; // no E8 translation in a larger folder (never raised past 1 GiB)
};

// Bits an encoder spent, by kind: where the bits go, for measuring.
struct LzxBitCounts
{
    uint64_t literals = 0;     // literal symbols
    uint64_t matchSymbols = 0; // main symbols of matches (slot and length header)
    uint64_t lengths = 0;      // length-tree symbols
    uint64_t offsets = 0;      // extra offset bits, verbatim and aligned
    uint64_t headers = 0;      // stream and block headers, trees
    uint64_t uncompressed = 0; // uncompressed blocks: headers, repeated offsets, bytes, pad bytes
    uint64_t padding = 0;      // bits padding frames to 16-bit words
    uint64_t matches = 0;      // matches written
    uint64_t repeats = 0;      // of which at a repeated offset
    uint64_t blocks = 0;       // compressed blocks written
    uint64_t alignedBlocks = 0;
};

// One CFDATA payload.
struct LzxFrame
{
    std::vector<uint8_t> data; // compressed bytes (an even count)
    uint32_t uncompressed = 0; // 1 .. 32,768
};

class LzxEncoder
{
public:
    // folderBytes: the bytes the folder will hold, exactly. E8 translation is
    // never on past 1 GiB (more bytes than that with translation on throw),
    // and the frame before a short last frame is written so that libmspack
    // can read that one (see LzxFrameBound.h).
    LzxEncoder(int windowBits, uint64_t folderBytes, const LzxOptions& options = LzxOptions());
    ~LzxEncoder();
    LzxEncoder(const LzxEncoder&) = delete;
    LzxEncoder& operator=(const LzxEncoder&) = delete;

    // Appends the folder's next bytes. Frames become ready a block at a time.
    void Write(const uint8_t* data, size_t len);
    // Ends the folder: every remaining byte goes into ready frames.
    void Finish();
    // Takes the next ready frame, in stream order; false when none is ready.
    bool TakeFrame(LzxFrame& frame);

    // Whether the stream's header turned call translation on (known once a
    // frame is ready).
    bool E8Enabled() const;
    // Where the bits of the frames so far went.
    const LzxBitCounts& BitCounts() const;

    struct State;

private:
    std::unique_ptr<State> m_state;
};

class LzxDecoder
{
public:
    explicit LzxDecoder(int windowBits);
    ~LzxDecoder();
    LzxDecoder(const LzxDecoder&) = delete;
    LzxDecoder& operator=(const LzxDecoder&) = delete;

    // Decodes the folder's next frame: in holds its CFDATA payload, out
    // receives exactly outLen bytes (1 .. 32,768; less only for the last
    // frame). False for damaged input; the decoder then stays failed.
    bool DecodeFrame(const uint8_t* in, size_t inLen, uint8_t* out, size_t outLen);
    // The largest match offset decoded so far.
    uint32_t LargestOffset() const;

    struct State;

private:
    std::unique_ptr<State> m_state;
};

} // namespace cab32
