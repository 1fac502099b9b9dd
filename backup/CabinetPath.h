// The cabinet file chosen in the save dialog, held in the code page for the archiver.
#pragma once

#include "framework/CString.h"

#include <string>

// chosen as the code page holds it: its folders exactly or by their short names, its
// file name exactly. A file name needs no short name: the archiver replaces the file it
// names, and a file put in place under a short name would keep that name. False, after
// telling the user, when chosen cannot be held so.
bool HoldCabinetPath(const std::wstring& chosen, CString& cabinetPath);
