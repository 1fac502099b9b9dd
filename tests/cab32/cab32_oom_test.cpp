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

#include "cab32/run/Archiver.h"
#include "cab32/format/CabFormat.h"
#include "tests/support/mem_files.h"

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
void AddTwelveFiles(cab32::MemFiles& files)
{
    for (int i = 0; i < 12; ++i) {
        files.files["C:\\Src\\f" + std::to_string(i)] = std::string(50000, static_cast<char>('a' + i));
        files.files["C:\\Src\\r.txt"] += "f" + std::to_string(i) + "\n";
    }
}

// Every file in the output folder.
std::string Written(const cab32::MemFiles& files)
{
    std::string names;
    for (const auto& f : files.files)
        names += f.first.compare(0, 7, "C:\\Out\\") == 0 ? f.first + " " : "";
    return names;
}

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
            cab32::MemFiles files;
            AddTwelveFiles(files);
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
            EXPECT_EQ("", Written(files)) << c.method << threads;
        }
}
