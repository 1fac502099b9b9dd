#include "cab32/win32/Cab32Entry.h"
#include "cab32/win32/Win32Files.h"

// The archiver's command entry (ordinal 1), on the system's own files.
extern "C" int WINAPI Cab(HWND owner, LPCSTR cmdLine, LPSTR output, DWORD size)
{
    cab32::Win32Files files;
    return RunCab(owner, cmdLine, output, size, files);
}
