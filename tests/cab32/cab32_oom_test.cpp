// Allocation failures on the archiver's own threads. Host only: this program
// replaces the global operator new, so that an allocation of one MSZIP block's
// size, or one of an LZX encoder's window tables, fails on any thread but the
// test's own while a test asks for it.
#include <gtest/gtest.h>

#include <atomic>
#include <cstdlib>
#include <cstring>
#include <map>
#include <mutex>
#include <new>
#include <thread>

#include "cab32/Archiver.h"
#include "cab32/CabFormat.h"
#include "tests/fuzz/MemorySource.h"

namespace {

std::atomic<size_t> g_failExact{0};   // an allocation of this size fails
std::atomic<size_t> g_failAtLeast{0}; // an allocation of at least this size fails (0: none)
std::thread::id g_testThread;

} // namespace

void* operator new(size_t n)
{
    if (((g_failExact != 0 && n == g_failExact) || (g_failAtLeast != 0 && n >= g_failAtLeast)) &&
        std::this_thread::get_id() != g_testThread)
        throw std::bad_alloc();
    if (void* p = std::malloc(n != 0 ? n : 1))
        return p;
    throw std::bad_alloc();
}

void operator delete(void* p) noexcept
{
    std::free(p);
}

void operator delete(void* p, size_t) noexcept
{
    std::free(p);
}

namespace {

// Twelve files of 50,000 bytes in memory, listed by one response file.
class Files : public cab32::FileOpener
{
public:
    Files()
    {
        for (int i = 0; i < 12; ++i) {
            m_files["C:\\Src\\f" + std::to_string(i)] = std::string(50000, static_cast<char>('a' + i));
            m_files["C:\\Src\\r.txt"] += "f" + std::to_string(i) + "\n";
        }
    }

    uint32_t Stat(const std::string& path, cab32::SourceInfo& info) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        info = cab32::SourceInfo();
        info.isFolder = path == "C:\\Src" || path == "C:\\Out";
        if (info.isFolder)
            return 0;
        auto f = m_files.find(path);
        if (f == m_files.end())
            return cab32::kSysFileNotFound;
        info.size = f->second.size();
        return 0;
    }

    uint32_t OpenRead(const std::string& path, std::unique_ptr<cab32::ByteSource>& file,
                      cab32::SourceInfo& info) override
    {
        if (uint32_t err = Stat(path, info))
            return err;
        std::lock_guard<std::mutex> guard(m_lock);
        file.reset(new MemorySource(m_files[path]));
        return 0;
    }

    uint32_t CreateTemp(const std::string&, std::unique_ptr<cab32::ByteSink>& file, std::string& tempPath) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        tempPath = "C:\\Out\\cab" + std::to_string(m_files.size()) + ".tmp";
        m_files[tempPath];
        file.reset(new Sink(*this, tempPath));
        return 0;
    }

    uint32_t Replace(const std::string& tempPath, const std::string& target) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_files[target] = m_files[tempPath];
        m_files.erase(tempPath);
        return 0;
    }

    uint32_t Remove(const std::string& path) override
    {
        std::lock_guard<std::mutex> guard(m_lock);
        m_files.erase(path);
        return 0;
    }

    // Every file in the output folder.
    std::string Written()
    {
        std::string names;
        for (const auto& f : m_files)
            names += f.first.compare(0, 7, "C:\\Out\\") == 0 ? f.first + " " : "";
        return names;
    }

private:
    struct Sink : cab32::ByteSink
    {
        Sink(Files& owner, std::string path) : owner(owner), path(std::move(path)) {}
        uint32_t WriteAt(uint64_t offset, const void* data, size_t len) override
        {
            std::lock_guard<std::mutex> guard(owner.m_lock);
            std::string& f = owner.m_files[path];
            if (f.size() < offset + len)
                f.resize(offset + len);
            std::memcpy(&f[offset], data, len);
            return 0;
        }
        uint32_t Flush() override { return 0; }
        Files& owner;
        std::string path;
    };

    std::mutex m_lock;
    std::map<std::string, std::string> m_files;
};

} // namespace

TEST(OutOfMemory, ACompressingWorkerThatCannotAllocateEndsTheRunWithAnError)
{
    g_testThread = std::this_thread::get_id();
    // MSZIP: a worker's block buffer. LZX: the 600,000-byte folder's encoder (its 2^20 chain links take 4 MiB).
    const struct
    {
        const char* method;
        size_t exact;
        size_t atLeast;
    } cases[] = {{"-mszip ", cab32::kBlockSize, 0}, {"-mlzx ", 0, 4u << 20}};
    for (const auto& c : cases)
        for (unsigned threads : {1u, 2u}) {
            Files files;
            cab32::ArchiveOptions options;
            options.threads = threads;
            cab32::ArchiveReport report;
            g_failExact = c.exact;
            g_failAtLeast = c.atLeast;
            const cab32::CabError e =
                cab32::RunCommand(std::string(c.method) + "-a C:\\Out\\b.cab C:\\Src @r.txt", files, options, report);
            g_failExact = 0;
            g_failAtLeast = 0;
            EXPECT_EQ(CAB_E_NO_MEMORY, e.code) << c.method << threads;
            EXPECT_EQ("", files.Written()) << c.method << threads;
        }
}
