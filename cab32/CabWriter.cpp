#include "cab32/CabWriter.h"

#include <cstring>

#include <zlib.h>

namespace cab32 {

namespace {

constexpr size_t kDataBuffer = 256 * 1024;
constexpr size_t kTableBuffer = 64 * 1024;

CabError Broken(const char* what)
{
    CabError e = MakeError(CAB_E_INTERNAL);
    e.detail = what;
    return e;
}

} // namespace

CabWriter::CabWriter(ByteSink& sink, uint32_t folders, uint32_t files, uint64_t tableBytes, int level)
    : m_sink(sink),
      m_encoder(level),
      m_expectedFolders(folders),
      m_expectedFiles(files),
      m_tableStart(kHeaderSize + kFolderSize * static_cast<uint64_t>(folders)),
      m_tableEnd(m_tableStart + tableBytes),
      m_dataEnd(m_tableEnd),
      m_dataWritten(m_tableEnd),
      m_block(kBlockSize),
      m_history(kBlockSize),
      m_packed(kMaxBlockData)
{
    m_table.reserve(kTableBuffer);
    m_data.reserve(kDataBuffer);
}

CabError CabWriter::BeginFolder()
{
    if (!m_folders.empty())
    {
        if (CabError e = EndFolder())
            return e;
    }
    if (m_folders.size() >= m_expectedFolders)
        return Broken("more folders than planned");
    m_folders.push_back(FolderSummary());
    m_folderBytes = 0;
    m_blockLen = 0;
    m_historyLen = 0;
    m_folderStart = static_cast<uint32_t>(m_dataEnd);
    return CabError();
}

CabError CabWriter::AddBytes(const uint8_t* data, size_t len)
{
    if (m_folders.empty())
        return Broken("data outside a folder");
    if (m_folderBytes + len > kMaxFolderBytes)
        return Broken("folder over its limit");
    FolderSummary& folder = m_folders.back();
    folder.crc = static_cast<uint32_t>(crc32(folder.crc, data, static_cast<uInt>(len)));
    m_folderBytes += len;
    folder.bytes = m_folderBytes;
    while (len > 0)
    {
        size_t take = kBlockSize - m_blockLen;
        if (take > len)
            take = len;
        std::memcpy(m_block.data() + m_blockLen, data, take);
        m_blockLen += take;
        data += take;
        len -= take;
        if (m_blockLen == kBlockSize)
        {
            if (CabError e = EmitBlock())
                return e;
        }
    }
    return CabError();
}

CabError CabWriter::EmitBlock()
{
    size_t packedLen = 0;
    if (!m_encoder.Encode(m_history.data(), m_historyLen, m_block.data(), m_blockLen, m_packed.data(),
                          packedLen))
        return MakeError(CAB_E_COMPRESS);
    CabData d;
    d.cbData = static_cast<uint16_t>(packedLen);
    d.cbUncomp = static_cast<uint16_t>(m_blockLen);
    d.csum = DataChecksum(m_packed.data(), d.cbData, d.cbUncomp);
    if (m_dataEnd + kDataHeaderSize + packedLen > kMaxCabinetBytes)
        return MakeError(CAB_E_CABINET_TOO_LARGE);
    uint8_t head[kDataHeaderSize];
    EncodeData(d, head);
    if (CabError e = WriteData(head, sizeof(head)))
        return e;
    if (CabError e = WriteData(m_packed.data(), packedLen))
        return e;
    m_folders.back().blocks++;
    m_block.swap(m_history);
    m_historyLen = m_blockLen;
    m_blockLen = 0;
    return CabError();
}

CabError CabWriter::EndFolder()
{
    if (m_blockLen > 0)
    {
        if (CabError e = EmitBlock())
            return e;
    }
    CabFolder f;
    f.coffCabStart = m_folderStart;
    f.cCFData = static_cast<uint16_t>(m_folders.back().blocks);
    f.typeCompress = kTypeMszip;
    uint8_t rec[kFolderSize];
    EncodeFolder(f, rec);
    uint64_t at = kHeaderSize + kFolderSize * (m_folders.size() - 1);
    if (uint32_t err = m_sink.WriteAt(at, rec, sizeof(rec)))
        return MakeError(CAB_E_WRITE, std::string(), err);
    return CabError();
}

CabError CabWriter::AddFile(const CabFile& rec, const std::string& name)
{
    if (m_files >= m_expectedFiles)
        return Broken("more files than planned");
    if (name.empty() || name.size() > kMaxNameBytes)
        return MakeError(CAB_E_NAME_TOO_LONG, name);
    uint8_t fixed[kFileFixedSize];
    EncodeFile(rec, fixed);
    m_table.insert(m_table.end(), fixed, fixed + sizeof(fixed));
    m_table.insert(m_table.end(), name.begin(), name.end());
    m_table.push_back(0);
    m_files++;
    if (m_table.size() >= kTableBuffer)
        return FlushTable();
    return CabError();
}

CabError CabWriter::WriteData(const uint8_t* data, size_t len)
{
    m_data.insert(m_data.end(), data, data + len);
    m_dataEnd += len;
    if (m_data.size() >= kDataBuffer)
        return FlushData();
    return CabError();
}

CabError CabWriter::FlushData()
{
    if (m_data.empty())
        return CabError();
    if (uint32_t err = m_sink.WriteAt(m_dataWritten, m_data.data(), m_data.size()))
        return MakeError(CAB_E_WRITE, std::string(), err);
    m_dataWritten += m_data.size();
    m_data.clear();
    return CabError();
}

CabError CabWriter::FlushTable()
{
    if (m_table.empty())
        return CabError();
    if (m_tableStart + m_tableWritten + m_table.size() > m_tableEnd)
        return Broken("file table over its planned size");
    if (uint32_t err = m_sink.WriteAt(m_tableStart + m_tableWritten, m_table.data(), m_table.size()))
        return MakeError(CAB_E_WRITE, std::string(), err);
    m_tableWritten += m_table.size();
    m_table.clear();
    return CabError();
}

CabError CabWriter::Finish(uint16_t setID)
{
    if (m_finished || m_folders.empty())
        return Broken("nothing to finish");
    if (CabError e = EndFolder())
        return e;
    if (CabError e = FlushTable())
        return e;
    if (CabError e = FlushData())
        return e;
    if (m_folders.size() != m_expectedFolders || m_files != m_expectedFiles ||
        m_tableStart + m_tableWritten != m_tableEnd)
        return Broken("cabinet differs from its plan");
    CabHeader h;
    h.cbCabinet = static_cast<uint32_t>(m_dataEnd);
    h.coffFiles = static_cast<uint32_t>(m_tableStart);
    h.cFolders = static_cast<uint16_t>(m_folders.size());
    h.cFiles = static_cast<uint16_t>(m_files);
    h.setID = setID;
    uint8_t head[kHeaderSize];
    EncodeHeader(h, head);
    if (uint32_t err = m_sink.WriteAt(0, head, sizeof(head)))
        return MakeError(CAB_E_WRITE, std::string(), err);
    if (uint32_t err = m_sink.Flush())
        return MakeError(CAB_E_WRITE, std::string(), err);
    m_finished = true;
    return CabError();
}

} // namespace cab32
