// Lets the user choose a folder in the shell's folder browser, starting at m_strPath.
#pragma once

#include "framework/CString.h"

#include <windows.h>

class FolderPicker
{
public:
    FolderPicker() = default;
    virtual ~FolderPicker() = default;

    // IDOK with m_strPath set to the chosen folder as the shell gives it, held in the
    // code page (project/CodePagePath.h); IDCANCEL with m_strPath unchanged, also
    // after telling the user that the chosen folder cannot be held.
    int DoModal();

    static int CALLBACK BrowseCallbackProc(HWND hWnd, UINT message, LPARAM lParam, LPARAM data);

    // On entry the folder to preselect (empty: none); after IDOK the chosen folder.
    CString m_strPath;
};
