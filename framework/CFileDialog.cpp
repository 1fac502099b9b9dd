#include "framework/CFileDialog.h"

#include "framework/AfxCodePage.h"
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

namespace {

// text in UTF-16; null stays null (as the dialog's structure wants), in storage that lives as long as it.
LPCWSTR Widened(LPCSTR text, std::wstring& storage)
{
    if (!text)
        return nullptr;
    storage = AfxFromCodePage(text);
    return storage.c_str();
}

// A filter's pairs of texts, each ending in NUL and the whole in another NUL, in UTF-16.
std::wstring WidenedFilter(LPCSTR filter)
{
    LPCSTR end = filter;
    while (*end)
        end += lstrlenA(end) + 1;
    return AfxFromCodePage(filter, static_cast<int>(end - filter + 1));
}

} // namespace

INT_PTR CFileDialog::DoModal()
{
    m_ofn.hwndOwner = m_pParentWnd ? m_pParentWnd->GetSafeHwnd() : AfxGetMainWndHandle();
    std::wstring filter = m_ofn.lpstrFilter ? WidenedFilter(m_ofn.lpstrFilter) : std::wstring();
    std::wstring defExt, initialDir, title;
    std::wstring file = AfxFromCodePage(m_szFileName);
    file.resize(MAX_PATH, L'\0');
    wchar_t fileTitle[sizeof m_szFileTitle] = L"";
    OPENFILENAMEW ofn = {};
    ofn.lStructSize = sizeof ofn;
    ofn.hwndOwner = m_ofn.hwndOwner;
    ofn.hInstance = m_ofn.hInstance;
    ofn.lpstrFilter = m_ofn.lpstrFilter ? filter.c_str() : nullptr;
    ofn.nFilterIndex = m_ofn.nFilterIndex;
    ofn.lpstrFile = &file[0];
    ofn.nMaxFile = MAX_PATH;
    ofn.lpstrFileTitle = fileTitle;
    ofn.nMaxFileTitle = sizeof m_szFileTitle;
    ofn.lpstrInitialDir = Widened(m_ofn.lpstrInitialDir, initialDir);
    ofn.lpstrTitle = Widened(m_ofn.lpstrTitle, title);
    ofn.Flags = m_ofn.Flags;
    ofn.lpstrDefExt = Widened(m_ofn.lpstrDefExt, defExt);
    BOOL chosen;
    if (g_fileDialogHook)
        chosen = g_fileDialogHook(&ofn, m_bOpenFileDialog);
    else if (m_bOpenFileDialog)
        chosen = GetOpenFileNameW(&ofn);
    else
        chosen = GetSaveFileNameW(&ofn);
    if (!chosen)
        return IDCANCEL;
    m_strPathW = file.c_str();
    lstrcpynA(m_szFileName, AfxToCodePage(m_strPathW), MAX_PATH);
    lstrcpynA(m_szFileTitle, AfxToCodePage(fileTitle), sizeof m_szFileTitle);
    m_ofn.Flags = ofn.Flags;
    m_ofn.nFilterIndex = ofn.nFilterIndex;
    return IDOK;
}
