#include <type_traits>

#include "cab32/Cab32.h"
#include "cab32/win32/Cab32Entry.h"
#include "cab32/win32/Win32Files.h"

// The archiver's command entry (ordinal 1), on the system's own files.
extern "C" int WINAPI Cab(HWND owner, LPCSTR cmdLine, LPSTR output, DWORD size)
{
    cab32::Win32Files files;
    return RunCab(owner, cmdLine, output, size, files);
}

static_assert(std::is_same<decltype(&Cab), Cab32Command>::value, "Cab32.h gives the entry's type as callers bind it");
