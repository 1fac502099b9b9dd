#include "cab32/CabVerifier.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include <zlib.h>

#include "cab32/CabFormat.h"
#include "cab32/Lzx.h"
#include "cab32/Mszip.h"

namespace cab32 {

namespace {

CabError Damaged(const char* what)
{
    CabError e = MakeError(CAB_E_VERIFY_FAILED);
    e.detail = what;
    return e;
}

// Buffered reads from a source, with positions checked against its size.
class Reader
{
public:
    Reader(ByteSource& source, uint64_t size) : m_source(source), m_size(size), m_buffer(256 * 1024) {}

    CabError SeekTo(uint64_t offset)
    {
        if (offset > m_size)
            return Damaged("offset past the end of the cabinet");
        if (offset >= m_bufferStart && offset <= m_bufferStart + m_bufferLen)
        {
            m_pos = offset;
            return CabError();
        }
        if (uint32_t err = m_source.Seek(offset))
            return MakeError(CAB_E_VERIFY_READ, std::string(), err);
        m_bufferStart = offset;
        m_bufferLen = 0;
        m_pos = offset;
        return CabError();
    }

    CabError ReadExact(void* out, size_t len, const char* what)
    {
        if (len > m_size || m_pos > m_size - len)
            return Damaged(what);
        uint8_t* dst = static_cast<uint8_t*>(out);
        while (len > 0)
        {
            uint64_t inBuffer = m_bufferStart + m_bufferLen - m_pos;
            if (inBuffer == 0)
            {
                if (uint32_t err = Refill())
                    return MakeError(CAB_E_VERIFY_READ, std::string(), err);
                if (m_bufferLen == 0)
                    return Damaged(what);
                continue;
            }
            size_t take = inBuffer < len ? static_cast<size_t>(inBuffer) : len;
            std::memcpy(dst, m_buffer.data() + (m_pos - m_bufferStart), take);
            dst += take;
            len -= take;
            m_pos += take;
        }
        return CabError();
    }

    uint64_t Position() const { return m_pos; }

private:
    uint32_t Refill()
    {
        if (m_pos != m_bufferStart + m_bufferLen)
        {
            if (uint32_t err = m_source.Seek(m_pos))
                return err;
        }
        m_bufferStart = m_pos;
        m_bufferLen = 0;
        size_t got = 0;
        if (uint32_t err = m_source.Read(m_buffer.data(), m_buffer.size(), got))
            return err;
        m_bufferLen = got;
        return 0;
    }

    ByteSource& m_source;
    uint64_t m_size;
    std::vector<uint8_t> m_buffer;
    uint64_t m_bufferStart = 0;
    size_t m_bufferLen = 0;
    uint64_t m_pos = 0;
};

} // namespace

CabError VerifyCabinet(ByteSource& source, VerifiedCabinet& result, bool decode, RunControl* control)
{
    result = VerifiedCabinet();
    uint64_t size = 0;
    if (uint32_t err = source.Size(size))
        return MakeError(CAB_E_VERIFY_READ, std::string(), err);
    if (uint32_t err = source.Seek(0))
        return MakeError(CAB_E_VERIFY_READ, std::string(), err);
    Reader in(source, size);
    result.size = size;

    uint8_t raw[kHeaderSize];
    if (CabError e = in.ReadExact(raw, sizeof(raw), "truncated header"))
        return e;
    CabHeader h;
    DecodeHeader(raw, h);
    if (std::memcmp(h.signature, "MSCF", 4) != 0)
        return Damaged("no MSCF signature");
    if (h.reserved1 != 0 || h.reserved2 != 0 || h.reserved3 != 0)
        return Damaged("reserved header field not zero");
    if (h.versionMajor != 1 || h.versionMinor != 3)
        return Damaged("not version 1.3");
    if ((h.flags & ~(kFlagPrevCabinet | kFlagNextCabinet)) != 0)
        return Damaged("reserve or unknown flags");
    if (((h.flags & kFlagPrevCabinet) != 0) != (h.iCabinet != 0))
        return Damaged("previous cabinet link and index disagree");
    result.setID = h.setID;
    result.iCabinet = h.iCabinet;
    // The set links: a cabinet name and a disk name for each direction.
    for (uint16_t flag : {kFlagPrevCabinet, kFlagNextCabinet})
    {
        if ((h.flags & flag) == 0)
            continue;
        std::string names[2];
        for (std::string& name : names)
        {
            for (;;)
            {
                char c = 0;
                if (CabError e = in.ReadExact(&c, 1, "truncated set link"))
                    return e;
                if (c == 0)
                    break;
                if (name.size() >= kMaxNameBytes)
                    return Damaged("set link over 255 bytes");
                name.push_back(c);
            }
        }
        if (names[0].empty())
            return Damaged("empty cabinet name in a set link");
        (flag == kFlagPrevCabinet ? result.prevName : result.nextName) = names[0];
        (flag == kFlagPrevCabinet ? result.prevDisk : result.nextDisk) = names[1];
    }
    if (h.cbCabinet != size || size > kMaxCabinetBytes)
        return Damaged("cbCabinet differs from the file size");
    if (h.cFolders == 0 || h.cFolders > kMaxFolders || h.cFiles == 0)
        return Damaged("no folders or no files");
    if (h.coffFiles != in.Position() + kFolderSize * static_cast<uint64_t>(h.cFolders))
        return Damaged("file table not right after the folders");

    std::vector<CabFolder> folders(h.cFolders);
    for (CabFolder& f : folders)
    {
        uint8_t rec[kFolderSize];
        if (CabError e = in.ReadExact(rec, sizeof(rec), "truncated folder table"))
            return e;
        DecodeFolder(rec, f);
        if (f.typeCompress != kTypeMszip && f.typeCompress != kTypeNone && !LzxWindowBitsOf(f.typeCompress))
            return Damaged("unknown compression type");
    }

    std::vector<uint64_t> extent(h.cFolders, 0);
    std::vector<bool> used(h.cFolders, false);
    for (uint32_t i = 0; i < h.cFiles; ++i)
    {
        uint8_t rec[kFileFixedSize];
        if (CabError e = in.ReadExact(rec, sizeof(rec), "truncated file table"))
            return e;
        CabFile f;
        DecodeFile(rec, f);
        result.tableCrc = static_cast<uint32_t>(crc32(result.tableCrc, rec, sizeof(rec)));
        if (f.iFolder >= h.cFolders)
            return Damaged("file in a folder that does not exist");
        size_t nameLen = 0;
        for (;;)
        {
            uint8_t c = 0;
            if (CabError e = in.ReadExact(&c, 1, "truncated file name"))
                return e;
            result.tableCrc = static_cast<uint32_t>(crc32(result.tableCrc, &c, 1));
            if (c == 0)
                break;
            if (++nameLen > kMaxNameBytes)
                return Damaged("file name over 255 bytes");
        }
        if (nameLen == 0)
            return Damaged("empty file name");
        uint64_t end = static_cast<uint64_t>(f.uoffFolderStart) + f.cbFile;
        if (end >= 0x7FFF8000)
            return Damaged("file extends past the folder limit");
        if (end > extent[f.iFolder])
            extent[f.iFolder] = end;
        used[f.iFolder] = true;
    }
    const uint64_t tableEnd = in.Position();
    result.files = h.cFiles;

    MszipDecoder decoder;
    std::vector<uint8_t> packed(std::max<size_t>(kMaxBlockData, kLzxMaxFrameData));
    std::vector<uint8_t> block(kBlockSize);
    std::vector<uint8_t> history(kBlockSize);
    for (size_t i = 0; i < folders.size(); ++i)
    {
        const CabFolder& f = folders[i];
        if (!used[i])
            return Damaged("folder without files");
        if (f.coffCabStart < tableEnd)
            return Damaged("folder data overlaps the tables");
        if (CabError e = in.SeekTo(f.coffCabStart))
            return e;
        FolderSummary summary;
        size_t historyLen = 0;
        const int lzxBits = LzxWindowBitsOf(f.typeCompress);
        const size_t maxData = lzxBits ? kLzxMaxFrameData : kMaxBlockData;
        std::unique_ptr<LzxDecoder> lzx(lzxBits ? new LzxDecoder(lzxBits) : nullptr);
        for (uint32_t b = 0; b < f.cCFData; ++b)
        {
            uint8_t head[kDataHeaderSize];
            if (CabError e = in.ReadExact(head, sizeof(head), "truncated data block"))
                return e;
            CabData d;
            DecodeData(head, d);
            if (d.cbUncomp == 0 || d.cbUncomp > kBlockSize || d.cbData == 0 || d.cbData > maxData)
                return Damaged("data block sizes out of range");
            if (b + 1 < f.cCFData && d.cbUncomp != kBlockSize)
                return Damaged("short block before the folder's last");
            if (f.typeCompress == kTypeNone && d.cbData != d.cbUncomp)
                return Damaged("stored block with differing sizes");
            if (CabError e = in.ReadExact(packed.data(), d.cbData, "truncated block data"))
                return e;
            if (control)
            {
                if (control->Cancelled())
                    return MakeError(CAB_E_CANCELLED);
                control->verifyDone += kDataHeaderSize + d.cbData;
            }
            if (DataChecksum(packed.data(), d.cbData, d.cbUncomp) != d.csum)
                return Damaged("checksum mismatch");
            summary.stored = static_cast<uint32_t>(crc32(summary.stored, head, sizeof(head)));
            summary.stored = static_cast<uint32_t>(crc32(summary.stored, packed.data(), d.cbData));
            summary.bytes += d.cbUncomp;
            summary.blocks++;
            if (!decode && !lzx)
                continue;
            if (f.typeCompress == kTypeNone)
                std::memcpy(block.data(), packed.data(), d.cbUncomp);
            else if (lzx)
            {
                if (!lzx->DecodeFrame(packed.data(), d.cbData, block.data(), d.cbUncomp))
                    return Damaged("LZX frame does not decompress to its size");
            }
            else if (!decoder.Decode(history.data(), historyLen, packed.data(), d.cbData, block.data(),
                                     d.cbUncomp))
                return Damaged("block does not decompress to its size");
            summary.crc = static_cast<uint32_t>(crc32(summary.crc, block.data(), d.cbUncomp));
            block.swap(history);
            historyLen = d.cbUncomp;
        }
        if (summary.bytes != extent[i])
            return Damaged("folder size differs from its files");
        result.folders.push_back(summary);
    }
    return CabError();
}

} // namespace cab32
