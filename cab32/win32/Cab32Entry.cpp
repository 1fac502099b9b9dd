#include "cab32/win32/Cab32Entry.h"

#include <cstring>
#include <new>

#include "cab32/run/Archiver.h"
#include "cab32/win32/Messages.h"
#include "cab32/win32/ProgressWindow.h"
#include "cab32/win32/Win32Files.h"
#include "cab32/win32/Win32Paths.h"

namespace {

struct Job
{
    cab32::FileOpener* files;
    const char* commandLine;
    cab32::RunControl control;
    cab32::ArchiveReport report;
    cab32::CabError result;
};

// The run itself; nothing escapes it.
void RunJob(Job& job)
{
    try {
        cab32::ArchiveOptions options;
        options.lead = cab32::IsAnsiLeadByte;
        options.setID = static_cast<uint16_t>(GetTickCount());
        options.control = &job.control;
        job.result = cab32::RunCommand(job.commandLine, *job.files, options, job.report);
    } catch (const std::bad_alloc&) {
        job.result = cab32::MakeError(CAB_E_NO_MEMORY);
    } catch (...) {
        job.result = cab32::MakeError(CAB_E_INTERNAL);
    }
}

} // namespace

int RunCab(HWND owner, LPCSTR cmdLine, LPSTR output, DWORD size, cab32::FileOpener& files)
{
    if (output != nullptr && size > 0)
        output[0] = '\0';
    int code = CAB_E_INTERNAL;
    bool finished = false;
    try {
        Job job;
        job.files = &files;
        job.commandLine = cmdLine != nullptr ? cmdLine : "";
        job.result = cab32::MakeError(CAB_E_INTERNAL);
        const bool window = owner != nullptr && IsWindow(owner);
        if (window)
            cab32::RunWithProgress(owner, job.control, [&job] { RunJob(job); });
        else
            RunJob(job);
        code = job.result.code;
        finished = true;
        const std::string text = cab32::FormatResult(job.result, job.report, output != nullptr ? size : SIZE_MAX);
        cab32::CopyOut(text.data(), text.size(), output, size, cab32::IsAnsiLeadByte);
        // A cabinet made with files left out is the caller's to tell (the files are named in the output).
        if (window && code != CAB_OK && code != CAB_E_CANCELLED && code != CAB_E_FILES_LEFT_OUT)
            MessageBoxA(owner, text.c_str(), "キャビネットファイルの作成", MB_OK | MB_ICONERROR);
        return code;
    } catch (const std::bad_alloc&) {
        if (!finished)
            code = CAB_E_NO_MEMORY;
    } catch (...) {
        if (!finished)
            code = CAB_E_INTERNAL;
    }
    // The message could not be built: the fixed text alone, without allocating.
    const char* text = cab32::ResultText(code);
    cab32::CopyOut(text, std::strlen(text), output, size, cab32::IsAnsiLeadByte);
    return code;
}
