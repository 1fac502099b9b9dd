#include "ui/FolderPicker.h"

#include "framework/CWinThread.h"

#include <shlobj.h>

int FolderPicker::DoModal()
{
    char buffer[MAX_PATH];
    BROWSEINFOA info;
    info.hwndOwner = AfxGetMainWndHandle();
    info.pidlRoot = nullptr;
    info.pszDisplayName = buffer;
    info.lpszTitle = "フォルダの選択";
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    info.lpfn = &FolderPicker::BrowseCallbackProc;
    info.lParam = reinterpret_cast<LPARAM>(this);

    LPITEMIDLIST chosen = ::SHBrowseForFolderA(&info);
    if (!chosen)
        return IDCANCEL;
    int result = IDCANCEL;
    if (::SHGetPathFromIDListA(chosen, buffer)) {
        m_strPath = buffer;
        result = IDOK;
    }
    ::CoTaskMemFree(chosen);
    return result;
}

int CALLBACK FolderPicker::BrowseCallbackProc(HWND hWnd, UINT message, LPARAM, LPARAM data)
{
    const FolderPicker* picker = reinterpret_cast<const FolderPicker*>(data);
    if (message == BFFM_INITIALIZED && picker && !picker->m_strPath.IsEmpty())
        ::SendMessageA(hWnd, BFFM_SETSELECTIONA, TRUE, reinterpret_cast<LPARAM>(picker->m_strPath.GetString()));
    return 0;
}
