// The folder that holds the running executable, where project.dat and
// respons.txt live.
#pragma once

#include "framework/CString.h"
#include "project/CodePagePath.h"

#include <string>

// Drive and directory of the executable, ending in a backslash (C:\Tools\ for
// C:\Tools\app.exe), as HoldProgramFolder holds it. Worked out once and kept for
// the life of the process.
CString GetProgramFolder();

// The executable's folder, ending in a backslash, taken in UTF-16 and held in the
// code page, so that a folder the code page cannot name is never taken for another
// (Über for an Uber beside it); folder receives it as the system names it.
HeldPath HoldProgramFolder(std::wstring* folder = nullptr);

// Makes GetProgramFolder return folder instead (it should end in a backslash);
// null returns to the executable's folder.
void OverrideProgramFolder(LPCSTR folder);
