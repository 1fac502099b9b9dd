#include "ui/FolderPicker.h"

#include "framework/AfxCodePage.h"
#include "framework/CWinThread.h"
#include "project/CodePagePath.h"

#include <shlobj.h>

// The browser works in UTF-16, so that the chosen folder comes back as it is named,
// and is then held in the code page; one that cannot be held is told of and not taken.
int FolderPicker::DoModal()
{
    wchar_t buffer[MAX_PATH];
    BROWSEINFOW info;
    info.hwndOwner = AfxGetMainWndHandle();
    info.pidlRoot = nullptr;
    info.pszDisplayName = buffer;
    info.lpszTitle = L"フォルダの選択";
    info.ulFlags = BIF_RETURNONLYFSDIRS;
    info.lpfn = &FolderPicker::BrowseCallbackProc;
    info.lParam = reinterpret_cast<LPARAM>(this);

    LPITEMIDLIST chosen = ::SHBrowseForFolderW(&info);
    if (!chosen)
        return IDCANCEL;
    int result = IDCANCEL;
    if (::SHGetPathFromIDListW(chosen, buffer)) {
        HeldPath held = HoldPath(buffer);
        if (held.hold == PathHold::Lost) {
            TellPathNotHeld(PathUse::ChosenFolder, buffer);
        } else {
            m_strPath = held.path;
            result = IDOK;
        }
    }
    ::CoTaskMemFree(chosen);
    return result;
}

int CALLBACK FolderPicker::BrowseCallbackProc(HWND hWnd, UINT message, LPARAM, LPARAM data)
{
    const FolderPicker* picker = reinterpret_cast<const FolderPicker*>(data);
    if (message == BFFM_INITIALIZED && picker && !picker->m_strPath.IsEmpty()) {
        std::wstring start = AfxFromCodePage(picker->m_strPath);
        ::SendMessageW(hWnd, BFFM_SETSELECTIONW, TRUE, reinterpret_cast<LPARAM>(start.c_str()));
    }
    return 0;
}
