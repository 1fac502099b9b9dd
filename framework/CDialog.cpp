#include "framework/CDialog.h"

#include "framework/CDataExchange.h"
#include "framework/CException.h"
#include "framework/CWinApp.h"

BEGIN_MESSAGE_MAP(CDialog, CWnd)
    ON_COMMAND(IDOK, OnOK)
    ON_COMMAND(IDCANCEL, OnCancel)
    ON_MESSAGE(WM_HELP, OnHelpInfo)
END_MESSAGE_MAP()

namespace {

// Whether a dialog template (plain or extended) puts the dialog at 0, 0 without a centring style.
bool TemplateWantsCentring(const void* resource)
{
    const WORD* words = static_cast<const WORD*>(resource);
    DWORD style;
    short x;
    short y;
    if (words[0] == 1 && words[1] == 0xFFFF) {
        // DLGTEMPLATEEX: dlgVer, signature, helpID, exStyle, style, cDlgItems, x, y, cx, cy
        const BYTE* bytes = static_cast<const BYTE*>(resource);
        CopyMemory(&style, bytes + 12, sizeof style);
        CopyMemory(&x, bytes + 18, sizeof x);
        CopyMemory(&y, bytes + 20, sizeof y);
    } else {
        const DLGTEMPLATE* plain = static_cast<const DLGTEMPLATE*>(resource);
        style = plain->style;
        x = plain->x;
        y = plain->y;
    }
    return x == 0 && y == 0 && !(style & (DS_CENTER | DS_CENTERMOUSE | DS_ABSALIGN));
}

} // namespace

HWND AfxGetSafeOwner(CWnd* pParent)
{
    if (pParent && pParent->m_hWnd)
        return pParent->m_hWnd;
    HWND owner = AfxGetMainWndHandle();
    if (!owner || !::IsWindow(owner))
        return nullptr;
    return ::GetLastActivePopup(owner);
}

CDialog::CDialog(UINT nIDTemplate, CWnd* pParentWnd) : m_nIDHelp(nIDTemplate), m_pParentWnd(pParentWnd) {}

INT_PTR CDialog::DoModal()
{
    LPCSTR name = MAKEINTRESOURCEA(m_nIDHelp);
    HINSTANCE module = AfxFindResourceHandle(name, RT_DIALOG);
    HRSRC found = ::FindResourceA(module, name, RT_DIALOG);
    HGLOBAL loaded = found ? ::LoadResource(module, found) : nullptr;
    const void* resource = loaded ? ::LockResource(loaded) : nullptr;
    if (!resource)
        return -1;
    m_bCenterOnInit = TemplateWantsCentring(resource);

    // The controls are made as UTF-16 windows: an edit made as an ANSI window keeps its text in the ANSI
    // code page, where a name the code page lacks is lost as it is typed, and draws it through GDI, which
    // converts with the system's code page rather than the process's. The dialog itself turns ANSI when
    // the object subclasses it.
    HWND owner = AfxGetSafeOwner(m_pParentWnd);
    return ::DialogBoxIndirectParamW(module, static_cast<LPCDLGTEMPLATEW>(resource), owner, &AfxDlgProc,
                                     reinterpret_cast<LPARAM>(this));
}

BOOL CDialog::UpdateData(BOOL bSaveAndValidate)
{
    struct Lockout
    {
        explicit Lockout(bool& flag) : m_flag(flag), m_saved(flag) { flag = true; }
        ~Lockout() { m_flag = m_saved; }
        bool& m_flag;
        bool m_saved;
    } lockout(m_bLockoutNotify);

    CDataExchange dx(this, bSaveAndValidate);
    DoDataExchange(&dx);
    return TRUE;
}

BOOL CDialog::OnInitDialog()
{
    UpdateData(FALSE);
    return TRUE;
}

void CDialog::DoDataExchange(CDataExchange*) {}

void CDialog::OnOK()
{
    UpdateData(TRUE);
    EndDialog(IDOK);
}

void CDialog::OnCancel()
{
    EndDialog(IDCANCEL);
}

LRESULT CDialog::OnHelpInfo(WPARAM, LPARAM)
{
    SendMessage(WM_COMMAND, ID_HELP);
    return TRUE;
}

BOOL CDialog::OnCmdMsg(UINT nID, UINT nCode)
{
    if (CWnd::OnCmdMsg(nID, nCode))
        return TRUE;
    // Commands the dialog does not handle go on to the application object.
    CWinApp* app = AfxGetApp();
    return app && app->OnCmdMsg(nID, nCode);
}

INT_PTR CALLBACK AfxDlgProc(HWND hWnd, UINT message, WPARAM, LPARAM lParam)
{
    if (message != WM_INITDIALOG)
        return FALSE;
    CDialog* dialog = reinterpret_cast<CDialog*>(lParam);
    if (!dialog || !dialog->SubclassWindow(hWnd))
        return TRUE;
    BOOL result = TRUE;
    try {
        RECT before;
        dialog->GetWindowRect(&before);
        result = dialog->OnInitDialog();
        RECT after;
        dialog->GetWindowRect(&after);
        if (dialog->m_bCenterOnInit && before.left == after.left && before.top == after.top)
            dialog->CenterWindow();
    } catch (const CException& e) {
        AfxReportWndProcException(&e);
    } catch (...) {
        AfxReportWndProcException(nullptr);
    }
    return result;
}
