// What the program reads of the archiver's output: the files it left out of a
// cabinet it made (result CAB_E_FILES_LEFT_OUT), one a line after the first,
// each with why, and a last line "ほか N 個" for those it had no room to name.
#pragma once

#include "framework/CStringArray.h"

// Appends each named file's line (path and reason) to lines; unnamed gets the
// count of those left unnamed. Only whole lines (ending in CR LF) are taken.
void ReadLeftOutFiles(const char* output, CStringArray& lines, int& unnamed);
