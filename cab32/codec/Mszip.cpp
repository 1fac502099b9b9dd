#include "cab32/codec/Mszip.h"

#include <cstring>
#include <new>

#include <zlib.h>

namespace cab32 {

namespace {

constexpr size_t kStoredOverhead = 2 + 5; // "CK" and a stored block's header

size_t StoreBlock(const uint8_t* in, size_t inLen, uint8_t* out)
{
    out[0] = 'C';
    out[1] = 'K';
    out[2] = 0x01; // BFINAL = 1, BTYPE = 00 (stored), padded to the byte
    out[3] = static_cast<uint8_t>(inLen);
    out[4] = static_cast<uint8_t>(inLen >> 8);
    out[5] = static_cast<uint8_t>(~inLen);
    out[6] = static_cast<uint8_t>(~inLen >> 8);
    std::memcpy(out + kStoredOverhead, in, inLen);
    return inLen + kStoredOverhead;
}

} // namespace

MszipEncoder::MszipEncoder(int level) : m_stream(new z_stream()), m_ready(false)
{
    std::memset(m_stream, 0, sizeof(*m_stream));
    m_ready = deflateInit2(m_stream, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) == Z_OK;
}

MszipEncoder::~MszipEncoder()
{
    if (m_ready)
        deflateEnd(m_stream);
    delete m_stream;
}

bool MszipEncoder::Encode(const uint8_t* history, size_t historyLen, const uint8_t* in, size_t inLen, uint8_t* out,
                          size_t& outLen)
{
    outLen = 0;
    if (!m_ready || inLen == 0 || inLen > kMszipBlockSize || historyLen > kMszipBlockSize)
        return false;
    if (deflateReset(m_stream) != Z_OK)
        return false;
    if (historyLen > 0 && deflateSetDictionary(m_stream, history, static_cast<uInt>(historyLen)) != Z_OK)
        return false;
    // Anything not smaller than the stored form is thrown away, so deflate only
    // gets room for that much.
    const size_t room = inLen + kStoredOverhead - 1 - 2;
    m_stream->next_in = const_cast<Bytef*>(in);
    m_stream->avail_in = static_cast<uInt>(inLen);
    m_stream->next_out = out + 2;
    m_stream->avail_out = static_cast<uInt>(room);
    int rc = deflate(m_stream, Z_FINISH);
    if (rc == Z_STREAM_END) {
        out[0] = 'C';
        out[1] = 'K';
        outLen = 2 + (room - m_stream->avail_out);
        return true;
    }
    if (rc != Z_OK && rc != Z_BUF_ERROR)
        return false;
    outLen = StoreBlock(in, inLen, out);
    return true;
}

MszipDecoder::MszipDecoder() : m_stream(new z_stream()), m_ready(false)
{
    std::memset(m_stream, 0, sizeof(*m_stream));
    m_ready = inflateInit2(m_stream, -15) == Z_OK;
}

MszipDecoder::~MszipDecoder()
{
    if (m_ready)
        inflateEnd(m_stream);
    delete m_stream;
}

bool MszipDecoder::Decode(const uint8_t* history, size_t historyLen, const uint8_t* in, size_t inLen, uint8_t* out,
                          size_t expected)
{
    if (!m_ready || inLen < 2 || in[0] != 'C' || in[1] != 'K' || expected > kMszipBlockSize ||
        historyLen > kMszipBlockSize)
        return false;
    if (inflateReset(m_stream) != Z_OK)
        return false;
    if (historyLen > 0 && inflateSetDictionary(m_stream, history, static_cast<uInt>(historyLen)) != Z_OK)
        return false;
    // One spare byte shows a block that expands to more than it claims.
    uint8_t spare = 0;
    m_stream->next_in = const_cast<Bytef*>(in + 2);
    m_stream->avail_in = static_cast<uInt>(inLen - 2);
    m_stream->next_out = out;
    m_stream->avail_out = static_cast<uInt>(expected);
    int rc = inflate(m_stream, Z_FINISH);
    if (rc != Z_STREAM_END && m_stream->avail_out == 0) {
        m_stream->next_out = &spare;
        m_stream->avail_out = 1;
        rc = inflate(m_stream, Z_FINISH);
    }
    return rc == Z_STREAM_END && m_stream->avail_in == 0 && m_stream->total_out == expected;
}

} // namespace cab32
