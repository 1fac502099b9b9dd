// MSZIP blocks: "CK" followed by a raw deflate stream that ends in a final
// block. A block may refer back into the previous block of its folder, which a
// reader keeps as history; the encoder takes that block as its dictionary, so
// each block can be compressed on its own once its predecessor is known.
#pragma once

#include <cstddef>
#include <cstdint>

struct z_stream_s;

namespace cab32 {

// The most uncompressed bytes a block holds, and so the most history it refers back into.
constexpr size_t kMszipBlockSize = 32768;

class MszipEncoder
{
public:
    explicit MszipEncoder(int level = 6);
    ~MszipEncoder();
    MszipEncoder(const MszipEncoder&) = delete;
    MszipEncoder& operator=(const MszipEncoder&) = delete;

    // Encodes in (1..32,768 bytes) into out (room for 32,780 bytes, kMaxBlockData).
    // history is the previous block of the same folder, or empty. The block is
    // stored uncompressed when deflate would not make it smaller. False when
    // zlib fails.
    bool Encode(const uint8_t* history, size_t historyLen, const uint8_t* in, size_t inLen, uint8_t* out,
                size_t& outLen);

private:
    z_stream_s* m_stream;
    bool m_ready;
};

class MszipDecoder
{
public:
    MszipDecoder();
    ~MszipDecoder();
    MszipDecoder(const MszipDecoder&) = delete;
    MszipDecoder& operator=(const MszipDecoder&) = delete;

    // Decodes one block that must expand to exactly expected bytes (at most
    // 32,768) into out, with history as the previous block's output. False for
    // a damaged block.
    bool Decode(const uint8_t* history, size_t historyLen, const uint8_t* in, size_t inLen, uint8_t* out,
                size_t expected);

private:
    z_stream_s* m_stream;
    bool m_ready;
};

} // namespace cab32
