// Paths the user gives in UTF-16, held in the ANSI code page (932) without any best
// fit: exactly, or with the short (8.3) name of each existing folder or file whose
// name the code page lacks, or not at all. A path is never held as another path.
#pragma once

#include "framework/CString.h"

#include <string>

// How a path is held in the code page.
enum class PathHold {
    Exact,      // every character as given
    ShortNames, // the names the code page lacks replaced by their short names
    Lost,       // neither: the characters the code page lacks are '?', which no path can hold
};

struct HeldPath
{
    CString path;  // the path in the code page
    PathHold hold; // how path stands for the given one
};

// The short name of the existing folder or file that path names (its last part
// taken as it is, never as a pattern); empty when there is none.
typedef std::wstring (*ShortNameLookup)(const std::wstring& path);
std::wstring FindShortName(const std::wstring& path);

// path as the code page holds it; lookup gives the short names.
HeldPath HoldPath(const std::wstring& path, ShortNameLookup lookup = &FindShortName);

// A held path as the user should see it: with the long names again where it uses short
// names for names the code page lacks, so that holding it gives back held; else as held.
std::wstring ShownPath(const CString& held);

// What a path that cannot be held was meant for, as the message about it names it.
enum class PathUse {
    SourceFolder,  // the source folder field, when a run starts
    BackupFolder,  // the backup folder field, when a run starts
    ChosenFolder,  // a folder chosen in the folder browser
    Cabinet,       // the cabinet file chosen in the save dialog
    ProgramFolder, // the folder that holds the program, at start
};

// The message that path, meant for use, cannot be held.
std::wstring NotHeldMessage(PathUse use, const std::wstring& path);
// Shows NotHeldMessage in a box.
void TellPathNotHeld(PathUse use, const std::wstring& path);
