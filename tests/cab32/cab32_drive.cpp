// Calls CAB32.dll as the program does (ordinal 1, 1023 bytes of a 1024-byte buffer, no window) on the command line
// in COMMANDFILE, so that its bytes arrive unchanged; prints "rc=N", the message, the duration and the peak memory.
// With --threads N [--folder-limit BYTES] [--lzx-folder BYTES] [--lzx-frame-limit BYTES] it runs the
// linked-in core instead, with folders that small (LZX folders cut at that size) and LZX frames held to that
// limit (frames over it written alone or uncompressed: lowered only to try those on extractors);
// with --profile it runs the core with the DLL's settings and prints where the time went; --readers N
// sets the core's reading threads; --lzx depth=N,nice=N,good=N,lazy=N,heads=N,near=N,split=0|1 sets the core's
// LZX encoder (to measure each setting in the DLL's build, with --profile).
//   cab32_drive [--mem] [--profile] [--readers N] [--lzx SETTINGS] [--threads N [--folder-limit BYTES]
//               [--lzx-folder BYTES] [--lzx-frame-limit BYTES]] COMMANDFILE
#include <windows.h>
#include <psapi.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cab32/Cab32.h"
#include "cab32/run/Archiver.h"
#include "cab32/win32/Messages.h"
#include "cab32/win32/Win32Files.h"
#include "cab32/win32/Win32Paths.h"
#include "tests/support/cab32_binding.h"

// The run's stages as "stage_<name>=<seconds>" lines, for the benchmark.
static void PrintStages(const cab32::StageTimes& t)
{
    std::printf("stage_plan=%.3f\nstage_read_busy=%.3f\nstage_read_wait=%.3f\nstage_compress_busy=%.3f\n"
                "stage_compress_wait=%.3f\nstage_write=%.3f\nstage_verify=%.3f\nstage_finish=%.3f\nstage_total=%.3f\n",
                t.plan, t.readBusy, t.readWait, t.compressBusy, t.compressWait, t.write, t.verify, t.finish, t.total);
}

// Reads "name=value,..." into the LZX encoder's settings.
static void SetLzx(cab32::LzxOptions& o, const char* text)
{
    static const struct
    {
        const char* name;
        int cab32::LzxOptions::*field;
    } kFields[] = {{"depth", &cab32::LzxOptions::chainDepth}, {"nice", &cab32::LzxOptions::niceLength},
                   {"good", &cab32::LzxOptions::goodLength},  {"lazy", &cab32::LzxOptions::lazyLength},
                   {"heads", &cab32::LzxOptions::headBits},   {"near", &cab32::LzxOptions::nearBits}};
    for (std::string rest = text; !rest.empty();) {
        const std::string item = rest.substr(0, rest.find(','));
        rest = item.size() < rest.size() ? rest.substr(item.size() + 1) : std::string();
        const std::string name = item.substr(0, item.find('='));
        const int value = std::atoi(item.c_str() + std::min(item.size(), name.size() + 1));
        if (name == "split")
            o.splitBlocks = value != 0;
        for (const auto& f : kFields)
            if (name == f.name)
                o.*f.field = value;
    }
}

int main(int argc, char** argv)
{
    cab32::ArchiveOptions options;
    options.lead = cab32::IsAnsiLeadByte;
    bool profile = false;
    for (int i = 1; i + 1 < argc; ++i) {
        if (std::strcmp(argv[i], "--profile") == 0)
            profile = true;
        else if (std::strcmp(argv[i], "--threads") == 0)
            options.threads = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        else if (std::strcmp(argv[i], "--readers") == 0)
            options.readers = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        else if (std::strcmp(argv[i], "--folder-limit") == 0)
            options.folderLimit = std::strtoull(argv[++i], nullptr, 10);
        else if (std::strcmp(argv[i], "--lzx-folder") == 0)
            options.lzxFolderBytes = std::strtoull(argv[++i], nullptr, 10);
        else if (std::strcmp(argv[i], "--lzx") == 0)
            SetLzx(options.lzx, argv[++i]);
        else if (std::strcmp(argv[i], "--lzx-frame-limit") == 0)
            options.lzx.frameLimit = static_cast<uint32_t>(std::strtoul(argv[++i], nullptr, 10));
    }
    std::string command;
    FILE* f = argc > 1 ? std::fopen(argv[argc - 1], "rb") : nullptr;
    if (f == nullptr)
        return 100;
    for (int c; (c = std::fgetc(f)) != EOF;)
        command += static_cast<char>(c);
    std::fclose(f);
    while (!command.empty() && (command.back() == '\n' || command.back() == '\r'))
        command.pop_back();

    if (options.threads != 0 || profile) {
        cab32::Win32Files files;
        cab32::ArchiveReport report;
        cab32::CabError e = cab32::RunCommand(command, files, options, report);
        std::printf("rc=%d\n%s\nfolders=%u\n", e.code, cab32::FormatResult(e, report).c_str(), report.folders);
        if (profile)
            PrintStages(report.times);
        return 0;
    }
    HMODULE dll = nullptr;
    Cab32Command cab = BindCab32(dll);
    if (cab == nullptr)
        return 101;
    PROCESS_MEMORY_COUNTERS before = {}, after = {};
    GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof(before));
    char output[1024];
    std::memset(output, 0x7E, sizeof(output));
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    int rc = cab(nullptr, command.c_str(), output, 1023);
    QueryPerformanceCounter(&end);
    GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof(after));
    std::printf("rc=%d\n%s\nelapsed_ms=%.1f\n", rc, output,
                1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart));
    if (output[1023] != 0x7E)
        std::printf("BUFFER OVERRUN\n");
    std::printf("peak working set %llu KiB -> %llu KiB, peak private %llu KiB -> %llu KiB\n",
                before.PeakWorkingSetSize / 1024ull, after.PeakWorkingSetSize / 1024ull,
                before.PeakPagefileUsage / 1024ull, after.PeakPagefileUsage / 1024ull);
    return 0;
}
