#include "framework/CFileDialog.h"

#include "framework/CWinThread.h"

#include <cstring>
#include <mbstring.h>

namespace {
AfxFileDialogHook g_fileDialogHook = nullptr;
}

CFileDialog::CFileDialog(BOOL openFileDialog, LPCSTR defaultExt, LPCSTR fileName, DWORD flags, LPCSTR filter,
                         CWnd* parent)
    : m_bOpenFileDialog(openFileDialog), m_pParentWnd(parent), m_strDefExt(defaultExt)
{
    std::memset(&m_ofn, 0, sizeof(m_ofn));
    m_szFileName[0] = '\0';
    m_szFileTitle[0] = '\0';
    if (fileName)
        lstrcpynA(m_szFileName, fileName, MAX_PATH);

    m_ofn.lStructSize = sizeof(m_ofn);
    m_ofn.hInstance = GetModuleHandleA(nullptr);
    m_ofn.lpstrFile = m_szFileName;
    m_ofn.nMaxFile = MAX_PATH;
    m_ofn.lpstrFileTitle = m_szFileTitle;
    m_ofn.nMaxFileTitle = sizeof(m_szFileTitle);
    m_ofn.Flags = flags | OFN_EXPLORER;
    if (defaultExt)
        m_ofn.lpstrDefExt = m_strDefExt;
    if (filter) {
        m_strFilter = ConvertFilter(filter);
        m_ofn.lpstrFilter = m_strFilter;
    }
}

CString CFileDialog::ConvertFilter(LPCSTR filter)
{
    CString result(filter);
    // The converted text needs two zero bytes at its end; the string adds one.
    int length = result.GetLength();
    LPSTR buffer = result.GetBuffer(length + 1);
    buffer[length] = '\0';
    for (unsigned char* p = reinterpret_cast<unsigned char*>(buffer); *p; p = _mbsinc(p)) {
        if (*p == '|')
            *p = '\0';
    }
    result.ReleaseBuffer(length + 1);
    return result;
}

AfxFileDialogHook CFileDialog::SetHook(AfxFileDialogHook hook)
{
    AfxFileDialogHook previous = g_fileDialogHook;
    g_fileDialogHook = hook;
    return previous;
}

INT_PTR CFileDialog::DoModal()
{
    m_ofn.hwndOwner = m_pParentWnd ? m_pParentWnd->GetSafeHwnd() : AfxGetMainWndHandle();
    BOOL chosen;
    if (g_fileDialogHook)
        chosen = g_fileDialogHook(&m_ofn, m_bOpenFileDialog);
    else if (m_bOpenFileDialog)
        chosen = GetOpenFileNameA(&m_ofn);
    else
        chosen = GetSaveFileNameA(&m_ofn);
    return chosen ? IDOK : IDCANCEL;
}
