// Calls CAB32.dll the way the program does: loaded by name, ordinal 1, a
// 1024-byte buffer with 1023 given. The command line is read from a file so
// that its bytes reach the archiver unchanged. No owner window unless --owner
// (then a window of its own, so that failures show their box).
//   cab32_drive [--lock FILE] [--mem] [--owner] COMMANDFILE
// Prints "rc=N", the archiver's message and the call's duration.
//   cab32_drive --threads N --folder-limit BYTES COMMANDFILE
// runs the archiver's core directly (linked in, not the DLL) with that many
// compressing threads and folders that small, so that extractors can be shown
// cabinets with several folders made by one or by several threads.
#include <windows.h>
#include <psapi.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cab32/Archiver.h"
#include "cab32/Messages.h"
#include "cab32/Win32Files.h"

typedef int(WINAPI* CabEntry)(HWND, LPCSTR, LPSTR, DWORD);

int main(int argc, char** argv)
{
    const char* lockPath = nullptr;
    const char* commandFile = nullptr;
    bool memory = false;
    bool owner = false;
    unsigned threads = 0;
    unsigned long long folderLimit = 0;
    for (int i = 1; i < argc; ++i)
    {
        if (std::strcmp(argv[i], "--lock") == 0 && i + 1 < argc)
            lockPath = argv[++i];
        else if (std::strcmp(argv[i], "--mem") == 0)
            memory = true;
        else if (std::strcmp(argv[i], "--owner") == 0)
            owner = true;
        else if (std::strcmp(argv[i], "--threads") == 0 && i + 1 < argc)
            threads = static_cast<unsigned>(std::strtoul(argv[++i], nullptr, 10));
        else if (std::strcmp(argv[i], "--folder-limit") == 0 && i + 1 < argc)
            folderLimit = std::strtoull(argv[++i], nullptr, 10);
        else
            commandFile = argv[i];
    }
    if (commandFile == nullptr)
        return 100;
    std::string command;
    if (FILE* f = std::fopen(commandFile, "rb"))
    {
        char buf[4096];
        size_t n;
        while ((n = std::fread(buf, 1, sizeof(buf), f)) > 0)
            command.append(buf, n);
        std::fclose(f);
    }
    while (!command.empty() && (command.back() == '\n' || command.back() == '\r'))
        command.pop_back();

    if (threads != 0)
    {
        cab32::Win32Files files;
        cab32::ArchiveOptions options;
        options.lead = cab32::IsAnsiLeadByte;
        options.threads = threads;
        if (folderLimit != 0)
            options.folderLimit = folderLimit;
        cab32::ArchiveReport report;
        cab32::CabError e = cab32::RunCommand(command, files, options, report);
        std::printf("rc=%d\n%s\nfolders=%u\n", e.code, cab32::FormatResult(e, report).c_str(), report.folders);
        return 0;
    }

    HMODULE dll = LoadLibraryA("CAB32.dll");
    if (dll == nullptr)
        return 101;
    CabEntry cab = reinterpret_cast<CabEntry>(reinterpret_cast<void*>(GetProcAddress(dll, MAKEINTRESOURCEA(1))));
    if (cab == nullptr)
        return 102;

    HANDLE lock = INVALID_HANDLE_VALUE;
    if (lockPath != nullptr)
        lock = CreateFileA(lockPath, GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, 0, nullptr);

    PROCESS_MEMORY_COUNTERS before = {}, after = {};
    before.cb = after.cb = sizeof(before);
    GetProcessMemoryInfo(GetCurrentProcess(), &before, sizeof(before));
    char output[1024];
    std::memset(output, 0x7E, sizeof(output));
    HWND window = owner ? CreateWindowA("STATIC", "cab32_drive", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 200,
                                        nullptr, nullptr, nullptr, nullptr)
                        : nullptr;
    LARGE_INTEGER frequency, start, end;
    QueryPerformanceFrequency(&frequency);
    QueryPerformanceCounter(&start);
    int rc = cab(window, command.c_str(), output, 1023);
    QueryPerformanceCounter(&end);
    if (window != nullptr)
        DestroyWindow(window);
    GetProcessMemoryInfo(GetCurrentProcess(), &after, sizeof(after));
    if (lock != INVALID_HANDLE_VALUE)
        CloseHandle(lock);

    std::printf("rc=%d\n%s\nelapsed_ms=%.1f\n", rc, output,
                1000.0 * static_cast<double>(end.QuadPart - start.QuadPart) / static_cast<double>(frequency.QuadPart));
    if (output[1023] != 0x7E)
        std::printf("BUFFER OVERRUN\n");
    if (memory)
        std::printf("peak working set %lu KiB -> %lu KiB, peak private %lu KiB -> %lu KiB\n",
                    static_cast<unsigned long>(before.PeakWorkingSetSize / 1024),
                    static_cast<unsigned long>(after.PeakWorkingSetSize / 1024),
                    static_cast<unsigned long>(before.PeakPagefileUsage / 1024),
                    static_cast<unsigned long>(after.PeakPagefileUsage / 1024));
    return 0;
}
