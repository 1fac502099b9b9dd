// CAB32.dll as the faults tests build it: the real archiver on the real files,
// with one change made to one file at a set moment, so that a file in motion
// is met the same way on every run. KV_MOTION names it: "<kind>|<path>|<bytes>".
// Before the archiver looks the file up: gone (deleted). Before it opens it:
// vanish (deleted), atomic (a new file of <bytes> 'B's renamed over it), fill
// (<bytes> 'B's written into it). While it is read, after its second read:
// rewrite (<bytes> 'B's written over its start), truncate (cut to nothing,
// then <bytes> 'B's written), append (<bytes> 'B's added at its end).
#include <windows.h>

#include <atomic>
#include <cstdlib>
#include <memory>
#include <string>

#include "cab32/win32/Cab32Entry.h"
#include "cab32/win32/Win32Files.h"

namespace {

struct Motion
{
    std::string kind, path;
    DWORD bytes = 0;
    std::atomic<bool> done{false};
};

// Writes n 'B's into path at its start (after cutting it to nothing with cut), or at its end with append.
void WriteBs(const std::string& path, DWORD n, bool cut, bool append)
{
    HANDLE h = CreateFileA(path.c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                           cut ? TRUNCATE_EXISTING : OPEN_ALWAYS, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return;
    if (append)
        SetFilePointer(h, 0, nullptr, FILE_END);
    const std::string bs(n, 'B');
    DWORD written = 0;
    WriteFile(h, bs.data(), n, &written, nullptr);
    CloseHandle(h);
}

// Makes the change, once.
void Move(Motion& m)
{
    if (m.done.exchange(true))
        return;
    if (m.kind == "gone" || m.kind == "vanish")
        DeleteFileA(m.path.c_str());
    else if (m.kind == "atomic") {
        DeleteFileA((m.path + ".new").c_str());
        WriteBs(m.path + ".new", m.bytes, false, false);
        MoveFileExA((m.path + ".new").c_str(), m.path.c_str(), MOVEFILE_REPLACE_EXISTING);
    } else
        WriteBs(m.path, m.bytes, m.kind == "truncate", m.kind == "append");
}

// A source that makes the change after its second read.
class Watched : public cab32::ByteSource
{
public:
    Watched(std::unique_ptr<cab32::ByteSource> inner, Motion& m) : m_inner(std::move(inner)), m_motion(m) {}
    uint32_t Read(void* buffer, size_t len, size_t& got) override
    {
        uint32_t err = m_inner->Read(buffer, len, got);
        if (++m_reads == 2)
            Move(m_motion);
        return err;
    }
    uint32_t Seek(uint64_t offset) override { return m_inner->Seek(offset); }
    uint32_t Size(uint64_t& size) override { return m_inner->Size(size); }
    uint32_t Look(cab32::SourceInfo& info, bool dates) override { return m_inner->Look(info, dates); }

private:
    std::unique_ptr<cab32::ByteSource> m_inner;
    Motion& m_motion;
    int m_reads = 0;
};

class MotionFiles : public cab32::Win32Files
{
public:
    explicit MotionFiles(Motion& m) : m_motion(m) {}
    uint32_t StatListed(const std::string& path, cab32::SourceInfo& info) override
    {
        if (path == m_motion.path && m_motion.kind == "gone")
            Move(m_motion);
        return Win32Files::StatListed(path, info);
    }
    uint32_t OpenData(const std::string& path, std::unique_ptr<cab32::ByteSource>& file) override
    {
        const bool reading = m_motion.kind == "rewrite" || m_motion.kind == "truncate" || m_motion.kind == "append";
        if (path == m_motion.path && !reading)
            Move(m_motion);
        uint32_t err = Win32Files::OpenData(path, file);
        if (err == 0 && path == m_motion.path && reading)
            file.reset(new Watched(std::move(file), m_motion));
        return err;
    }

private:
    Motion& m_motion;
};

} // namespace

extern "C" int WINAPI Cab(HWND owner, LPCSTR cmdLine, LPSTR output, DWORD size)
{
    Motion motion;
    const char* asked = std::getenv("KV_MOTION");
    const std::string text = asked ? asked : "";
    const size_t bar = text.find('|'), last = text.rfind('|');
    if (bar != std::string::npos && last > bar) {
        motion.kind = text.substr(0, bar);
        motion.path = text.substr(bar + 1, last - bar - 1);
        motion.bytes = static_cast<DWORD>(std::strtoul(text.c_str() + last + 1, nullptr, 10));
    }
    MotionFiles files(motion);
    return RunCab(owner, cmdLine, output, size, files);
}
