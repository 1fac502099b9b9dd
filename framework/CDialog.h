// A modal dialog built on a dialog template, with data exchange between
// member variables and its controls.
#pragma once

#include "framework/CWnd.h"

class CDataExchange;

class CDialog : public CWnd
{
public:
    explicit CDialog(UINT nIDTemplate, CWnd* pParentWnd = nullptr);

    // Runs the dialog; returns the value given to EndDialog, or -1 when it could not be created.
    virtual INT_PTR DoModal();
    void EndDialog(int nResult) { ::EndDialog(m_hWnd, nResult); }

    // FALSE: members to controls; TRUE: controls to members. Notifications from the
    // controls are discarded while it runs.
    BOOL UpdateData(BOOL bSaveAndValidate = TRUE);

    virtual BOOL OnInitDialog();

    BOOL OnCmdMsg(UINT nID, UINT nCode) override;

protected:
    virtual void DoDataExchange(CDataExchange* pDX);
    virtual void OnOK();
    virtual void OnCancel();
    LRESULT OnHelpInfo(WPARAM wParam, LPARAM lParam);

    UINT m_nIDHelp;
    CWnd* m_pParentWnd;

private:
    friend INT_PTR CALLBACK AfxDlgProc(HWND, UINT, WPARAM, LPARAM);
    // True when the template places the dialog at 0, 0 with no centring style.
    bool m_bCenterOnInit = false;

    DECLARE_MESSAGE_MAP()
};

// The dialog procedure of every CDialog: it attaches the object on WM_INITDIALOG.
INT_PTR CALLBACK AfxDlgProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

// The window that owns a modal dialog or message box: the given parent, else the
// main window's last active popup; null when there is neither.
HWND AfxGetSafeOwner(CWnd* pParent);
