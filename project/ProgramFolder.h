// The folder that holds the running executable, where project.dat and
// respons.txt live.
#pragma once

#include "framework/CString.h"

// Drive and directory of the executable, ending in a backslash (C:\Tools\ for
// C:\Tools\app.exe). Worked out once and kept for the life of the process.
CString GetProgramFolder();

// Makes GetProgramFolder return folder instead (it should end in a backslash);
// null returns to the executable's folder.
void OverrideProgramFolder(LPCSTR folder);
