// Runs the archiver on a fuzzed command line and response file over an
// in-memory file system. Input: the command line, a newline, then the bytes of
// every response file (any name ending in .txt). Every other name under the
// base folder is a small file, so whatever the parser accepts is archived,
// read back and verified; nothing may crash, hang or leak.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <map>
#include <mutex>
#include <string>

#include "cab32/run/Archiver.h"
#include "tests/fuzz/MemorySource.h"

namespace {

using namespace cab32;

constexpr size_t kDiskRoom = 4 << 20;

class StringSink : public ByteSink
{
public:
    StringSink(std::string& data, std::mutex& lock) : m_data(data), m_lock(lock) {}

    uint32_t WriteAt(uint64_t offset, const void* data, size_t len) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (offset + len > kDiskRoom)
            return 112; // disk full
        if (m_data.size() < offset + len)
            m_data.resize(offset + len);
        std::memcpy(&m_data[offset], data, len);
        return 0;
    }
    uint32_t Flush() override { return 0; }

private:
    std::string& m_data;
    std::mutex& m_lock;
};

// The archiver calls it from its own thread and its read-ahead thread at
// once, so every call takes the lock.
class FuzzFiles : public FileOpener
{
public:
    explicit FuzzFiles(std::string response) : m_response(std::move(response)) {}

    uint32_t Stat(const std::string& path, SourceInfo& info) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        return StatLocked(path, info);
    }

    uint32_t OpenRead(const std::string& path, std::unique_ptr<ByteSource>& file, SourceInfo& info) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (uint32_t err = StatLocked(path, info))
            return err;
        if (info.isFolder)
            return kSysAccessDenied;
        auto written = m_written.find(path);
        file.reset(new MemorySource(written != m_written.end() ? written->second : Content(path)));
        info.dosDate = 0x2A43;
        info.dosTime = 0x20A3;
        return 0;
    }

    uint32_t CreateTemp(const std::string& target, std::unique_ptr<ByteSink>& file, std::string& tempPath) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        if (target.compare(0, 7, "C:\\Out\\") != 0)
            return 3;
        tempPath = "C:\\Out\\~tmp" + std::to_string(++m_temps);
        file.reset(new StringSink(m_written[tempPath], m_lock));
        return 0;
    }

    uint32_t Replace(const std::string& tempPath, const std::string& target) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_written[target] = m_written[tempPath];
        m_written.erase(tempPath);
        return 0;
    }

    uint32_t Remove(const std::string& path) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_written.erase(path);
        return 0;
    }

private:
    uint32_t StatLocked(const std::string& path, SourceInfo& info)
    {
        info = SourceInfo();
        if (path == "C:\\Src" || path == "C:\\Src\\" || path == "C:\\Out" || path == "C:\\Out\\") {
            info.isFolder = true;
            return 0;
        }
        auto written = m_written.find(path);
        if (written != m_written.end()) {
            info.size = written->second.size();
            return 0;
        }
        if (path.compare(0, 7, "C:\\Src\\") != 0)
            return kSysFileNotFound;
        info.size = Content(path).size();
        return 0;
    }

    std::string Content(const std::string& path) const
    {
        if (path.size() >= 4 && path.compare(path.size() - 4, 4, ".txt") == 0)
            return m_response;
        return "int main() { return 0; } // " + path;
    }

    std::string m_response;
    std::mutex m_lock;
    std::map<std::string, std::string> m_written;
    int m_temps = 0;
};

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    std::string input(reinterpret_cast<const char*>(data), size);
    size_t newline = input.find('\n');
    std::string command = input.substr(0, newline);
    std::string response = newline == std::string::npos ? std::string() : input.substr(newline + 1);

    FuzzFiles files(response);
    ArchiveOptions options;
    ArchiveReport report;
    RunCommand(command, files, options, report);
    return 0;
}
