#include "cab32/Archiver.h"

#include <vector>

#include "cab32/CabFormat.h"
#include "cab32/CabVerifier.h"
#include "cab32/CabWriter.h"

namespace cab32 {

namespace {

constexpr size_t kReadChunk = 64 * 1024;
constexpr size_t kMaxLine = 4096;

// One file as the listing pass found it.
struct PlannedFile
{
    uint64_t size;      // bytes to store
    uint16_t nameLen;   // bytes of its stored name
    bool newFolder;     // the file opens a new folder
};

// Removes the temporary file unless the run got as far as renaming it.
class TempFileGuard
{
public:
    explicit TempFileGuard(FileOpener& files) : m_files(files) {}
    ~TempFileGuard()
    {
        if (!m_path.empty())
            m_files.Remove(m_path);
    }
    void Arm(const std::string& path) { m_path = path; }
    void Release() { m_path.clear(); }

private:
    FileOpener& m_files;
    std::string m_path;
};

CabError Named(CabError e, const std::string& file)
{
    if (e.file.empty())
        e.file = file;
    return e;
}

} // namespace

NameStream::NameStream(const CommandLine& command, FileOpener& files, LeadByteTest lead)
    : m_command(command), m_files(files), m_lead(lead)
{
}

bool NameStream::ReadLine(std::string& line, CabError& err)
{
    line.clear();
    for (;;)
    {
        if (m_bufferPos == m_buffer.size())
        {
            if (m_responseEnd)
                return !line.empty();
            m_buffer.resize(kReadChunk);
            size_t got = 0;
            if (uint32_t sys = m_response->Read(&m_buffer[0], m_buffer.size(), got))
            {
                err = MakeError(CAB_E_RESPONSE_READ, m_responsePath, sys);
                return false;
            }
            m_buffer.resize(got);
            m_bufferPos = 0;
            if (got == 0)
            {
                m_responseEnd = true;
                continue;
            }
        }
        size_t nl = m_buffer.find('\n', m_bufferPos);
        size_t end = nl == std::string::npos ? m_buffer.size() : nl;
        if (line.size() + (end - m_bufferPos) > kMaxLine)
        {
            err = MakeError(CAB_E_NAME_TOO_LONG, line.substr(0, 64) + "...");
            return false;
        }
        line.append(m_buffer, m_bufferPos, end - m_bufferPos);
        m_bufferPos = end;
        if (nl != std::string::npos)
        {
            ++m_bufferPos;
            return true;
        }
    }
}

bool NameStream::NextFromResponse(std::string& name, CabError& err)
{
    std::string line;
    for (;;)
    {
        if (!ReadLine(line, err))
        {
            if (err)
            {
                if (err.code != CAB_E_RESPONSE_READ)
                    err.line = m_line + 1;
                err.responseFile = m_responsePath;
            }
            return false;
        }
        ++m_line;
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        bool blank = false;
        CabError e = ParseResponseLine(line, name, blank);
        if (!e && !blank)
            e = ValidateName(name, m_lead);
        if (e)
        {
            e.line = m_line;
            e.responseFile = m_responsePath;
            err = e;
            return false;
        }
        if (!blank)
            return true;
    }
}

bool NameStream::Next(std::string& name, CabError& err)
{
    err = CabError();
    for (;;)
    {
        if (m_response)
        {
            if (NextFromResponse(name, err))
                return true;
            if (err)
                return false;
            m_response.reset();
            continue;
        }
        if (m_input >= m_command.inputs.size())
            return false;
        const std::string& input = m_command.inputs[m_input++];
        if (!input.empty() && input[0] == '@')
        {
            std::string path = input.substr(1);
            if (!IsAbsolutePath(path))
                path = m_command.baseFolder + path;
            m_responsePath = path;
            SourceInfo info;
            uint32_t sys = input.size() > 1 ? m_files.OpenRead(path, m_response, info) : kSysFileNotFound;
            if (sys == 0 && info.isFolder)
                sys = kSysAccessDenied;
            if (sys != 0)
            {
                m_response.reset();
                err = MakeError(CAB_E_RESPONSE_OPEN, path, sys);
                return false;
            }
            m_line = 0;
            m_buffer.clear();
            m_bufferPos = 0;
            m_responseEnd = false;
            continue;
        }
        name = input;
        if (CabError e = ValidateName(name, m_lead))
        {
            err = e;
            return false;
        }
        return true;
    }
}

CabError RunCommand(std::string_view commandLine, FileOpener& files, const ArchiveOptions& options,
                    ArchiveReport& report)
{
    report = ArchiveReport();
    CommandLine command;
    if (CabError e = ParseCommandLine(commandLine, command, options.lead))
        return e;
    report.cabinet = command.cabinet;

    // Listing pass: every name checked and every file looked up before the
    // cabinet is started, so that the table's size and the folders are known.
    std::vector<PlannedFile> plan;
    uint64_t tableBytes = 0;
    uint32_t folders = 0;
    uint64_t folderBytes = 0;
    {
        NameStream names(command, files, options.lead);
        std::string name;
        CabError err;
        while (names.Next(name, err))
        {
            if (plan.size() >= kMaxFiles)
                return MakeError(CAB_E_TOO_MANY_FILES, name);
            const std::string path = command.baseFolder + name;
            SourceInfo info;
            if (uint32_t sys = files.Stat(path, info))
                return MakeError(CAB_E_SOURCE_OPEN, path, sys);
            if (info.isFolder)
                return MakeError(CAB_E_SOURCE_IS_FOLDER, path);
            if (info.size > options.folderLimit)
                return MakeError(CAB_E_FILE_TOO_LARGE, path);
            PlannedFile p;
            p.size = info.size;
            p.nameLen = static_cast<uint16_t>(name.size());
            p.newFolder = plan.empty() || folderBytes + info.size > options.folderLimit;
            if (p.newFolder)
            {
                ++folders;
                folderBytes = 0;
            }
            folderBytes += info.size;
            tableBytes += kFileFixedSize + name.size() + 1;
            plan.push_back(p);
        }
        if (err)
            return err;
    }
    if (plan.empty())
        return MakeError(CAB_E_NO_FILES, command.cabinet);
    if (folders > kMaxFolders)
        return MakeError(CAB_E_CABINET_TOO_LARGE, command.cabinet);

    // Writing pass, into a temporary file beside the target.
    TempFileGuard guard(files);
    std::string tempPath;
    std::unique_ptr<ByteSink> sink;
    if (uint32_t sys = files.CreateTemp(command.cabinet, sink, tempPath))
        return MakeError(CAB_E_TEMP_CREATE, command.cabinet, sys);
    guard.Arm(tempPath);

    CabWriter writer(*sink, folders, static_cast<uint32_t>(plan.size()), tableBytes, options.level);
    {
        NameStream names(command, files, options.lead);
        std::string name;
        CabError err;
        std::vector<uint8_t> chunk(kReadChunk);
        for (const PlannedFile& p : plan)
        {
            if (!names.Next(name, err))
                return err ? err : MakeError(CAB_E_RESPONSE_READ, command.inputs.empty() ? std::string() : command.inputs.back());
            if (name.size() != p.nameLen)
                return MakeError(CAB_E_RESPONSE_READ, name);
            if (p.newFolder)
            {
                if (CabError e = writer.BeginFolder())
                    return Named(e, command.cabinet);
            }
            const std::string path = command.baseFolder + name;
            std::unique_ptr<ByteSource> source;
            SourceInfo info;
            if (uint32_t sys = files.OpenRead(path, source, info))
                return MakeError(CAB_E_SOURCE_OPEN, path, sys);
            if (info.isFolder)
                return MakeError(CAB_E_SOURCE_IS_FOLDER, path);
            CabFile rec;
            rec.iFolder = writer.FolderIndex();
            rec.uoffFolderStart = static_cast<uint32_t>(writer.FolderOffset());
            rec.date = info.dosDate;
            rec.time = info.dosTime;
            rec.attribs = static_cast<uint16_t>(info.attribs & (kAttrReadOnly | kAttrHidden | kAttrSystem | kAttrArchive));
            // A file that grew since the listing is stored as it was listed; one that shrank cannot be.
            uint64_t left = p.size;
            while (left > 0)
            {
                size_t want = left < chunk.size() ? static_cast<size_t>(left) : chunk.size();
                size_t got = 0;
                if (uint32_t sys = source->Read(chunk.data(), want, got))
                    return MakeError(CAB_E_SOURCE_READ, path, sys);
                if (got == 0)
                    return MakeError(CAB_E_SOURCE_CHANGED, path);
                if (CabError e = writer.AddBytes(chunk.data(), got))
                    return Named(e, command.cabinet);
                left -= got;
            }
            rec.cbFile = static_cast<uint32_t>(p.size);
            if (CabError e = writer.AddFile(rec, name))
                return Named(e, command.cabinet);
            report.bytesIn += p.size;
        }
        if (CabError e = writer.Finish(options.setID))
            return Named(e, command.cabinet);
    }
    sink.reset();

    // Read-back: the cabinet must decode to what was written.
    {
        std::unique_ptr<ByteSource> back;
        SourceInfo info;
        if (uint32_t sys = files.OpenRead(tempPath, back, info))
            return MakeError(CAB_E_VERIFY_READ, command.cabinet, sys);
        VerifiedCabinet verified;
        if (CabError e = VerifyCabinet(*back, verified))
            return Named(e, command.cabinet);
        const std::vector<FolderSummary>& written = writer.Folders();
        bool same = verified.files == plan.size() && verified.size == writer.CabinetBytes() &&
                    verified.folders.size() == written.size();
        for (size_t i = 0; same && i < written.size(); ++i)
            same = verified.folders[i].bytes == written[i].bytes && verified.folders[i].crc == written[i].crc &&
                   verified.folders[i].blocks == written[i].blocks;
        if (!same)
        {
            CabError e = MakeError(CAB_E_VERIFY_FAILED, command.cabinet);
            e.detail = "content differs from what was written";
            return e;
        }
    }

    if (uint32_t sys = files.Replace(tempPath, command.cabinet))
        return MakeError(CAB_E_REPLACE, command.cabinet, sys);
    guard.Release();
    report.files = static_cast<uint32_t>(plan.size());
    report.folders = folders;
    report.cabinetBytes = writer.CabinetBytes();
    return CabError();
}

} // namespace cab32
