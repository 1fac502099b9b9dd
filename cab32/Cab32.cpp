#include <windows.h>

#include <cstring>
#include <new>

#include "cab32/Archiver.h"
#include "cab32/Messages.h"
#include "cab32/Win32Files.h"

// The archiver's command entry (ordinal 1): builds the cabinet that the
// command line describes. 0 only when it was written, verified and put in place.
extern "C" int WINAPI Cab(HWND owner, LPCSTR cmdLine, LPSTR output, DWORD size)
{
    (void)owner;
    if (output != nullptr && size > 0)
        output[0] = '\0';
    int code = CAB_E_INTERNAL;
    bool finished = false;
    try
    {
        cab32::Win32Files files;
        cab32::ArchiveOptions options;
        options.lead = cab32::IsAnsiLeadByte;
        options.setID = static_cast<uint16_t>(GetTickCount());
        cab32::ArchiveReport report;
        cab32::CabError result = cab32::RunCommand(cmdLine != nullptr ? cmdLine : "", files, options, report);
        code = result.code;
        finished = true;
        const std::string text = cab32::FormatResult(result, report);
        cab32::CopyOut(text.data(), text.size(), output, size, cab32::IsAnsiLeadByte);
        return code;
    }
    catch (const std::bad_alloc&)
    {
        if (!finished)
            code = CAB_E_NO_MEMORY;
    }
    catch (...)
    {
        if (!finished)
            code = CAB_E_INTERNAL;
    }
    // The message could not be built: the fixed text alone, without allocating.
    const char* text = cab32::ResultText(code);
    cab32::CopyOut(text, std::strlen(text), output, size, cab32::IsAnsiLeadByte);
    return code;
}
