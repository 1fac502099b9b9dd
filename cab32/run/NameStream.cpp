#include "cab32/run/NameStream.h"

namespace cab32 {

namespace {

constexpr size_t kReadChunk = 64 * 1024; // bytes read from a response file at a time
constexpr size_t kMaxLine = 4096;        // longest response-file line taken

} // namespace

NameStream::NameStream(const CommandLine& command, FileOpener& files, LeadByteTest lead)
    : m_command(command), m_files(files), m_lead(lead)
{}

bool NameStream::ReadLine(std::string& line, CabError& err)
{
    line.clear();
    for (;;) {
        if (m_bufferPos == m_buffer.size()) {
            if (m_responseEnd)
                return !line.empty();
            m_buffer.resize(kReadChunk);
            size_t got = 0;
            if (uint32_t sys = m_response->Read(&m_buffer[0], m_buffer.size(), got)) {
                err = MakeError(CAB_E_RESPONSE_READ, m_responsePath, sys);
                return false;
            }
            m_buffer.resize(got);
            m_bufferPos = 0;
            if (got == 0) {
                m_responseEnd = true;
                continue;
            }
        }
        size_t nl = m_buffer.find('\n', m_bufferPos);
        size_t end = nl == std::string::npos ? m_buffer.size() : nl;
        if (line.size() + (end - m_bufferPos) > kMaxLine) {
            err = MakeError(CAB_E_NAME_TOO_LONG, line.substr(0, 64) + "...");
            return false;
        }
        line.append(m_buffer, m_bufferPos, end - m_bufferPos);
        m_bufferPos = end;
        if (nl != std::string::npos) {
            ++m_bufferPos;
            return true;
        }
    }
}

bool NameStream::NextFromResponse(std::string& name, CabError& err)
{
    std::string line;
    for (;;) {
        if (!ReadLine(line, err)) {
            if (err) {
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
        if (e) {
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
    for (;;) {
        if (m_response) {
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
        if (!input.empty() && input[0] == '@') {
            std::string path = input.substr(1);
            if (!IsAbsolutePath(path))
                path = m_command.baseFolder + path;
            m_responsePath = path;
            SourceInfo info;
            uint32_t sys = input.size() > 1 ? m_files.OpenRead(path, m_response, info) : kSysFileNotFound;
            if (sys == 0 && info.isFolder)
                sys = kSysAccessDenied;
            if (sys != 0) {
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
        if (CabError e = ValidateName(name, m_lead)) {
            err = e;
            return false;
        }
        return true;
    }
}

} // namespace cab32
