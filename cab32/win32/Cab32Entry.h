// The archiver's command entry with the file system it works on, so that a
// test build can hand it a file system that changes files as they are read.
#pragma once

#include <windows.h>

#include "cab32/run/FileOpener.h"

// Builds the cabinet (or set) that the command line describes, reading and
// writing through files. 0 only when it was written, verified and put in
// place. With a window handle, the window stays disabled until the call
// returns, a progress window shows up for longer runs, and a failure (other
// than a cabinet made with files left out) is shown in a message box owned by it.
int RunCab(HWND owner, LPCSTR cmdLine, LPSTR output, DWORD size, cab32::FileOpener& files);
