// Loading the cabinet archiver CAB32.dll and reaching its command entry (ordinal 1).
#pragma once

#include <windows.h>

#include "cab32/Cab32.h"

// Owner window, command line, output buffer and the size given for it; 0 means
// the cabinet file was made (cab32/Cab32.h).
using ArchiverCommand = Cab32Command;

// Ordinal 1 of CAB32.dll in the program folder, loaded by its full path on
// first use (never through the search path) and kept loaded; null when the
// library or its entry cannot be found.
ArchiverCommand GetArchiverCommand();

// Makes GetArchiverCommand return command instead of the library's entry; null
// returns to the library.
void OverrideArchiverCommand(ArchiverCommand command);
