// project.dat: the list of projects read when the main dialog opens and
// written when it closes.
#pragma once

#include "framework/CString.h"
#include "project/ProjectList.h"

// GetProgramFolder() followed by "project.dat".
CString GetProjectFilePath();

// Empties list and fills it from the file at path, showing nothing on any
// failure. Leaves at least one entry: when none was read, a default project is
// added and selected. A file that did not read cleanly (bytes left after the
// last record read included), or that is there but could not be opened, is
// remembered, so that the next save first keeps it as path + ".bak".
void LoadProjectList(ProjectList& list, const CString& path);

// Writes list to path and returns true when the whole file was written. The
// new content goes to path + ".<process id>.tmp" first (two copies of the
// program never share it) and replaces the file, keeping its attributes, only
// once it is complete, so a failed save leaves the previous file as it was.
// The rename is tried again while another program holds the file for a moment
// (cab32/BriefLocks.h). Where no file can be made beside it, the file is
// overwritten in place, its old bytes written back if the new ones cannot all
// be. Shows "ファイルのオープンに失敗しました。" when the file cannot be opened
// for writing.
bool SaveProjectList(ProjectList& list, const CString& path);

// The rename SaveProjectList uses (MoveFileExA's form); null returns to
// MoveFileExA. For fault tests.
typedef BOOL(WINAPI* ProjectReplace)(LPCSTR from, LPCSTR to, DWORD flags);
void OverrideProjectReplace(ProjectReplace replace);

// Saves, asking whether to retry while saving fails; then deletes every
// project and empties the list.
void CloseProjectList(ProjectList& list, const CString& path);
