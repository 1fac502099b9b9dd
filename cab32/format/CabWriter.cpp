#include "cab32/format/CabWriter.h"

#include <cstring>

#include <zlib.h>

#include "cab32/codec/Lzx.h"

namespace cab32 {

namespace {

constexpr size_t kDataBuffer = 1024 * 1024;
constexpr size_t kTableBuffer = 64 * 1024;

CabError Broken(const char* what)
{
    CabError e = MakeError(CAB_E_INTERNAL);
    e.detail = what;
    return e;
}

uint32_t Crc(uint32_t crc, const void* data, size_t len)
{
    return static_cast<uint32_t>(crc32(crc, static_cast<const Bytef*>(data), static_cast<uInt>(len)));
}

} // namespace

uint64_t HeaderBytes(const std::string& prevName, const std::string& nextName)
{
    uint64_t n = kHeaderSize;
    if (!prevName.empty())
        n += 2 * (prevName.size() + 1);
    if (!nextName.empty())
        n += 2 * (nextName.size() + 1);
    return n;
}

CabWriter::CabWriter(ByteSink& sink, const CabinetLayout& layout)
    : m_sink(sink), m_layout(layout),
      m_tableStart(HeaderBytes(layout.prevName, layout.nextName) + kFolderSize * static_cast<uint64_t>(layout.folders)),
      m_tableEnd(m_tableStart + layout.tableBytes), m_dataEnd(m_tableEnd), m_dataWritten(m_tableEnd)
{
    m_table.reserve(kTableBuffer);
    m_data.reserve(kDataBuffer);
}

CabError CabWriter::BeginFolder(uint16_t typeCompress)
{
    if (!m_folders.empty()) {
        if (CabError e = EndFolder())
            return e;
    }
    if (m_folders.size() >= m_layout.folders)
        return Broken("more folders than planned");
    m_folders.push_back(FolderSummary());
    m_types.push_back(typeCompress);
    m_folderStart = m_dataEnd;
    return CabError();
}

CabError CabWriter::AddBlock(const uint8_t* payload, size_t cbData, size_t cbUncomp, uint32_t csum)
{
    if (m_folders.empty())
        return Broken("data outside a folder");
    FolderSummary& folder = m_folders.back();
    if (cbData == 0 || cbUncomp == 0 || cbUncomp > kBlockSize || folder.bytes % kBlockSize != 0 ||
        folder.bytes + cbUncomp > kMaxFolderBytes)
        return Broken("block out of its bounds");
    // The plan counts every block at its largest: a larger one outgrows it
    // (and no reader would take it). The compressors never give one.
    const size_t maxData = LzxWindowBitsOf(m_types.back()) ? kLzxMaxFrameData : kMaxBlockData;
    if (cbData > maxData) {
        CabError e = MakeError(CAB_E_CABINET_TOO_LARGE);
        e.detail = "block over its largest size";
        return e;
    }
    if (m_dataEnd + kDataHeaderSize + cbData > m_layout.limit)
        return MakeError(CAB_E_CABINET_TOO_LARGE);
    CabData d;
    d.csum = csum;
    d.cbData = static_cast<uint16_t>(cbData);
    d.cbUncomp = static_cast<uint16_t>(cbUncomp);
    uint8_t head[kDataHeaderSize];
    EncodeData(d, head);
    if (CabError e = WriteData(head, sizeof(head)))
        return e;
    if (CabError e = WriteData(payload, cbData))
        return e;
    folder.blocks++;
    folder.bytes += cbUncomp;
    folder.stored = Crc(Crc(folder.stored, head, sizeof(head)), payload, cbData);
    return CabError();
}

CabError CabWriter::EndFolder()
{
    CabFolder f;
    f.coffCabStart = static_cast<uint32_t>(m_folderStart);
    f.cCFData = static_cast<uint16_t>(m_folders.back().blocks);
    f.typeCompress = m_types.back();
    uint8_t rec[kFolderSize];
    EncodeFolder(f, rec);
    uint64_t at = HeaderBytes(m_layout.prevName, m_layout.nextName) + kFolderSize * (m_folders.size() - 1);
    if (uint32_t err = m_sink.WriteAt(at, rec, sizeof(rec)))
        return MakeError(CAB_E_WRITE, std::string(), err);
    return CabError();
}

CabError CabWriter::AddFile(const CabFile& rec, const std::string& name)
{
    if (m_files >= m_layout.files)
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
    m_tableCrc = Crc(m_tableCrc, m_table.data(), m_table.size());
    m_tableWritten += m_table.size();
    m_table.clear();
    return CabError();
}

CabError CabWriter::Finish()
{
    if (m_finished || m_folders.empty())
        return Broken("nothing to finish");
    if (CabError e = EndFolder())
        return e;
    if (CabError e = FlushTable())
        return e;
    if (CabError e = FlushData())
        return e;
    if (m_folders.size() != m_layout.folders || m_files != m_layout.files ||
        m_tableStart + m_tableWritten != m_tableEnd)
        return Broken("cabinet differs from its plan");
    CabHeader h;
    h.cbCabinet = static_cast<uint32_t>(m_dataEnd);
    h.coffFiles = static_cast<uint32_t>(m_tableStart);
    h.cFolders = static_cast<uint16_t>(m_folders.size());
    h.cFiles = static_cast<uint16_t>(m_files);
    h.flags = static_cast<uint16_t>((m_layout.prevName.empty() ? 0 : kFlagPrevCabinet) |
                                    (m_layout.nextName.empty() ? 0 : kFlagNextCabinet));
    h.setID = m_layout.setID;
    h.iCabinet = m_layout.iCabinet;
    std::vector<uint8_t> head(kHeaderSize);
    EncodeHeader(h, head.data());
    // The set's links: each cabinet name, then the same text as its disk name.
    for (const std::string* name : {&m_layout.prevName, &m_layout.nextName}) {
        if (name->empty())
            continue;
        for (int copy = 0; copy < 2; ++copy) {
            head.insert(head.end(), name->begin(), name->end());
            head.push_back(0);
        }
    }
    if (uint32_t err = m_sink.WriteAt(0, head.data(), head.size()))
        return MakeError(CAB_E_WRITE, std::string(), err);
    if (uint32_t err = m_sink.Flush())
        return MakeError(CAB_E_WRITE, std::string(), err);
    m_finished = true;
    return CabError();
}

} // namespace cab32
