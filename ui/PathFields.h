// The main dialog's two folder fields: their texts are read in UTF-16 and held in
// the code page without best fit (project/CodePagePath.h), so that a folder whose
// name the code page lacks is kept by its short name, never as another folder.
#pragma once

#include "framework/CDataExchange.h"
#include "framework/CString.h"

#include <string>

// DDX_Text for a path. Saving: value is the field's text as the code page holds it.
// Loading: the field shows value (by its long names where it uses short ones), unless
// it already shows a text that is held as value, which it then keeps as typed.
void DDX_PathText(CDataExchange* pDX, int nIDC, CString& value);

// Before a run: false, after telling the user, when the source folder field names a
// path that cannot be held at all. A backup folder that cannot be held is told of when
// the source folder exists, and the run goes on (the save dialog then opens elsewhere).
bool CheckPathFields(const std::wstring& sourceFolder, const std::wstring& backupFolder);
