// The common file dialog (explorer style) for opening or saving one file.
#pragma once

#include "framework/CString.h"
#include "framework/CWnd.h"

#include <windows.h>
#include <commdlg.h>

#include <string>

// Stands in for GetOpenFileNameW / GetSaveFileNameW: receives the structure the
// dialog would, writes the chosen path into lpstrFile and returns TRUE, or FALSE
// for a cancelled dialog.
typedef BOOL (*AfxFileDialogHook)(OPENFILENAMEW* ofn, BOOL openFileDialog);

class CFileDialog
{
public:
    // filter holds pairs "description|pattern|", ending in an extra '|'.
    CFileDialog(BOOL openFileDialog, LPCSTR defaultExt = nullptr, LPCSTR fileName = nullptr,
                DWORD flags = OFN_HIDEREADONLY | OFN_OVERWRITEPROMPT, LPCSTR filter = nullptr, CWnd* parent = nullptr);
    CFileDialog(const CFileDialog&) = delete;
    CFileDialog& operator=(const CFileDialog&) = delete;
    virtual ~CFileDialog() = default;

    // IDOK when a file was chosen, IDCANCEL otherwise. The dialog itself works in
    // UTF-16, from m_ofn's texts, so that a chosen name the code page lacks comes
    // back as it is.
    virtual INT_PTR DoModal();
    // The chosen path in the ANSI code page, each character it lacks as '?'.
    CString GetPathName() const { return CString(m_szFileName); }
    // The chosen path as the dialog gave it.
    std::wstring GetPathNameW() const { return m_strPathW; }

    // Installs hook (null restores the common dialog) and returns the one it replaces.
    static AfxFileDialogHook SetHook(AfxFileDialogHook hook);

    // "a|b||" with each '|' that is a whole character turned into NUL.
    static CString ConvertFilter(LPCSTR filter);

    OPENFILENAMEA m_ofn;

private:
    BOOL m_bOpenFileDialog;
    CWnd* m_pParentWnd;
    CString m_strFilter;
    CString m_strDefExt;
    char m_szFileName[MAX_PATH];
    char m_szFileTitle[64];
    std::wstring m_strPathW;
};
