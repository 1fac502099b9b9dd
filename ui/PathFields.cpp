#include "ui/PathFields.h"

#include "framework/CWnd.h"
#include "project/CodePagePath.h"

#include <shlwapi.h>

void DDX_PathText(CDataExchange* pDX, int nIDC, CString& value)
{
    HWND hWnd = pDX->PrepareCtrl(nIDC);
    if (!hWnd)
        return;
    std::wstring shown = AfxGetWindowTextW(hWnd);
    if (pDX->m_bSaveAndValidate) {
        value = HoldPath(shown).path;
        return;
    }
    if (HoldPath(shown).path == value)
        return;
    ::SetWindowTextW(hWnd, ShownPath(value).c_str());
}

bool CheckPathFields(const std::wstring& sourceFolder, const std::wstring& backupFolder)
{
    HeldPath source = HoldPath(sourceFolder);
    if (source.hold == PathHold::Lost) {
        TellPathNotHeld(PathUse::SourceFolder, sourceFolder);
        return false;
    }
    // Only a run that gets to the save dialog opens it in the backup folder.
    if (PathIsDirectoryA(source.path) && HoldPath(backupFolder).hold == PathHold::Lost)
        TellPathNotHeld(PathUse::BackupFolder, backupFolder);
    return true;
}
