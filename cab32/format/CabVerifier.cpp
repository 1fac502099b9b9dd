#include "cab32/format/CabVerifier.h"

#include <algorithm>
#include <cstring>
#include <memory>

#include <zlib.h>

#include "cab32/format/CabFormat.h"
#include "cab32/codec/Lzx.h"
#include "cab32/codec/Mszip.h"

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
        if (offset >= m_bufferStart && offset <= m_bufferStart + m_bufferLen) {
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
        while (len > 0) {
            uint64_t inBuffer = m_bufferStart + m_bufferLen - m_pos;
            if (inBuffer == 0) {
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
        if (m_pos != m_bufferStart + m_bufferLen) {
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

// The header, checked field by field; h receives it.
CabError ReadHeader(Reader& in, uint64_t size, CabHeader& h, VerifiedCabinet& result)
{
    uint8_t raw[kHeaderSize];
    if (CabError e = in.ReadExact(raw, sizeof(raw), "truncated header"))
        return e;
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
    if (h.cbCabinet != size || size > kMaxCabinetBytes)
        return Damaged("cbCabinet differs from the file size");
    if (h.cFolders == 0 || h.cFolders > kMaxFolders || h.cFiles == 0)
        return Damaged("no folders or no files");
    result.setID = h.setID;
    result.iCabinet = h.iCabinet;
    return CabError();
}

// One NUL-terminated set link name of at most 255 bytes.
CabError ReadLinkName(Reader& in, std::string& name)
{
    for (;;) {
        char c = 0;
        if (CabError e = in.ReadExact(&c, 1, "truncated set link"))
            return e;
        if (c == 0)
            return CabError();
        if (name.size() >= kMaxNameBytes)
            return Damaged("set link over 255 bytes");
        name.push_back(c);
    }
}

// The set links after the header: a cabinet name and a disk name for each direction.
CabError ReadSetLinks(Reader& in, const CabHeader& h, VerifiedCabinet& result)
{
    for (uint16_t flag : {kFlagPrevCabinet, kFlagNextCabinet}) {
        if ((h.flags & flag) == 0)
            continue;
        std::string names[2];
        for (std::string& name : names) {
            if (CabError e = ReadLinkName(in, name))
                return e;
        }
        if (names[0].empty())
            return Damaged("empty cabinet name in a set link");
        (flag == kFlagPrevCabinet ? result.prevName : result.nextName) = names[0];
        (flag == kFlagPrevCabinet ? result.prevDisk : result.nextDisk) = names[1];
    }
    return CabError();
}

CabError ReadFolders(Reader& in, const CabHeader& h, std::vector<CabFolder>& folders)
{
    if (h.coffFiles != in.Position() + kFolderSize * static_cast<uint64_t>(h.cFolders))
        return Damaged("file table not right after the folders");
    folders.resize(h.cFolders);
    for (CabFolder& f : folders) {
        uint8_t rec[kFolderSize];
        if (CabError e = in.ReadExact(rec, sizeof(rec), "truncated folder table"))
            return e;
        DecodeFolder(rec, f);
        if (f.typeCompress != kTypeMszip && f.typeCompress != kTypeNone && !LzxWindowBitsOf(f.typeCompress))
            return Damaged("unknown compression type");
    }
    return CabError();
}

// One CFFILE record with its name, folded into the table's CRC.
CabError ReadFileRecord(Reader& in, uint32_t& tableCrc, CabFile& f)
{
    uint8_t rec[kFileFixedSize];
    if (CabError e = in.ReadExact(rec, sizeof(rec), "truncated file table"))
        return e;
    DecodeFile(rec, f);
    tableCrc = static_cast<uint32_t>(crc32(tableCrc, rec, sizeof(rec)));
    size_t nameLen = 0;
    for (;;) {
        uint8_t c = 0;
        if (CabError e = in.ReadExact(&c, 1, "truncated file name"))
            return e;
        tableCrc = static_cast<uint32_t>(crc32(tableCrc, &c, 1));
        if (c == 0)
            break;
        if (++nameLen > kMaxNameBytes)
            return Damaged("file name over 255 bytes");
    }
    return nameLen == 0 ? Damaged("empty file name") : CabError();
}

// The file table: extent receives, per folder, the end of its last file (0 for a folder no file uses).
CabError ReadFileTable(Reader& in, const CabHeader& h, VerifiedCabinet& result, std::vector<uint64_t>& extent,
                       std::vector<bool>& used)
{
    extent.assign(h.cFolders, 0);
    used.assign(h.cFolders, false);
    for (uint32_t i = 0; i < h.cFiles; ++i) {
        CabFile f;
        if (CabError e = ReadFileRecord(in, result.tableCrc, f))
            return e;
        if (f.iFolder >= h.cFolders)
            return Damaged("file in a folder that does not exist");
        const uint64_t end = static_cast<uint64_t>(f.uoffFolderStart) + f.cbFile;
        if (end >= kMaxFolderOffset)
            return Damaged("file extends past the folder limit");
        extent[f.iFolder] = std::max(extent[f.iFolder], end);
        used[f.iFolder] = true;
    }
    result.files = h.cFiles;
    return CabError();
}

// Buffers shared by every folder's blocks.
struct BlockBuffers
{
    MszipDecoder mszip; // MSZIP state
    std::vector<uint8_t> packed = std::vector<uint8_t>(std::max<size_t>(kMaxBlockData, kLzxMaxFrameData));
    std::vector<uint8_t> block = std::vector<uint8_t>(kBlockSize);   // the block decoded
    std::vector<uint8_t> history = std::vector<uint8_t>(kBlockSize); // the block before it
};

// Reads one CFDATA of a folder and checks its sizes and checksum; summary takes its bytes.
CabError ReadBlock(Reader& in, const CabFolder& f, bool last, BlockBuffers& buf, CabData& d, FolderSummary& summary,
                   const ReadBackProgress& progress)
{
    uint8_t head[kDataHeaderSize];
    if (CabError e = in.ReadExact(head, sizeof(head), "truncated data block"))
        return e;
    DecodeData(head, d);
    const size_t maxData = LzxWindowBitsOf(f.typeCompress) ? kLzxMaxFrameData : kMaxBlockData;
    if (d.cbUncomp == 0 || d.cbUncomp > kBlockSize || d.cbData == 0 || d.cbData > maxData)
        return Damaged("data block sizes out of range");
    if (!last && d.cbUncomp != kBlockSize)
        return Damaged("short block before the folder's last");
    if (f.typeCompress == kTypeNone && d.cbData != d.cbUncomp)
        return Damaged("stored block with differing sizes");
    if (CabError e = in.ReadExact(buf.packed.data(), d.cbData, "truncated block data"))
        return e;
    if (progress.cancel != nullptr && progress.cancel->load(std::memory_order_relaxed))
        return MakeError(CAB_E_CANCELLED);
    if (progress.done != nullptr)
        *progress.done += kDataHeaderSize + d.cbData;
    if (DataChecksum(buf.packed.data(), d.cbData, d.cbUncomp) != d.csum)
        return Damaged("checksum mismatch");
    summary.stored = static_cast<uint32_t>(crc32(summary.stored, head, sizeof(head)));
    summary.stored = static_cast<uint32_t>(crc32(summary.stored, buf.packed.data(), d.cbData));
    summary.bytes += d.cbUncomp;
    summary.blocks++;
    return CabError();
}

// Decompresses the block just read into buf.block and folds it into the folder's content CRC.
CabError DecodeBlock(const CabFolder& f, LzxDecoder* lzx, const CabData& d, size_t& historyLen, BlockBuffers& buf,
                     FolderSummary& summary)
{
    if (f.typeCompress == kTypeNone)
        std::memcpy(buf.block.data(), buf.packed.data(), d.cbUncomp);
    else if (lzx) {
        if (!lzx->DecodeFrame(buf.packed.data(), d.cbData, buf.block.data(), d.cbUncomp))
            return Damaged("LZX frame does not decompress to its size");
    } else if (!buf.mszip.Decode(buf.history.data(), historyLen, buf.packed.data(), d.cbData, buf.block.data(),
                                 d.cbUncomp))
        return Damaged("block does not decompress to its size");
    summary.crc = static_cast<uint32_t>(crc32(summary.crc, buf.block.data(), d.cbUncomp));
    buf.block.swap(buf.history);
    historyLen = d.cbUncomp;
    return CabError();
}

// Every block of one folder, which must hold exactly the extent its files claim.
CabError VerifyFolder(Reader& in, const CabFolder& f, uint64_t extent, Decoding decoding, BlockBuffers& buf,
                      FolderSummary& summary, const ReadBackProgress& progress)
{
    if (CabError e = in.SeekTo(f.coffCabStart))
        return e;
    const int lzxBits = LzxWindowBitsOf(f.typeCompress);
    // LZX folders are always decoded: their frames are not decoded again as they are made.
    std::unique_ptr<LzxDecoder> lzx(lzxBits ? new LzxDecoder(lzxBits) : nullptr);
    size_t historyLen = 0;
    for (uint32_t b = 0; b < f.cCFData; ++b) {
        CabData d;
        if (CabError e = ReadBlock(in, f, b + 1 == f.cCFData, buf, d, summary, progress))
            return e;
        if (decoding == Decoding::LzxOnly && !lzx)
            continue;
        if (CabError e = DecodeBlock(f, lzx.get(), d, historyLen, buf, summary))
            return e;
    }
    return summary.bytes != extent ? Damaged("folder size differs from its files") : CabError();
}

} // namespace

CabError VerifyCabinet(ByteSource& source, VerifiedCabinet& result, Decoding decoding, ReadBackProgress progress)
{
    result = VerifiedCabinet();
    uint64_t size = 0;
    if (uint32_t err = source.Size(size))
        return MakeError(CAB_E_VERIFY_READ, std::string(), err);
    if (uint32_t err = source.Seek(0))
        return MakeError(CAB_E_VERIFY_READ, std::string(), err);
    Reader in(source, size);
    result.size = size;
    CabHeader h;
    std::vector<CabFolder> folders;
    std::vector<uint64_t> extent;
    std::vector<bool> used;
    if (CabError e = ReadHeader(in, size, h, result))
        return e;
    if (CabError e = ReadSetLinks(in, h, result))
        return e;
    if (CabError e = ReadFolders(in, h, folders))
        return e;
    if (CabError e = ReadFileTable(in, h, result, extent, used))
        return e;
    const uint64_t tableEnd = in.Position();
    BlockBuffers buf;
    for (size_t i = 0; i < folders.size(); ++i) {
        if (!used[i])
            return Damaged("folder without files");
        if (folders[i].coffCabStart < tableEnd)
            return Damaged("folder data overlaps the tables");
        FolderSummary summary;
        if (CabError e = VerifyFolder(in, folders[i], extent[i], decoding, buf, summary, progress))
            return e;
        result.folders.push_back(summary);
    }
    return CabError();
}

} // namespace cab32
