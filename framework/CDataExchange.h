// Data exchange between a dialog's members and its controls.
#pragma once

#include "framework/CString.h"
#include "framework/CWnd.h"

class CDataExchange
{
public:
    CDataExchange(CWnd* pDlgWnd, BOOL bSaveAndValidate) : m_bSaveAndValidate(bSaveAndValidate), m_pDlgWnd(pDlgWnd) {}

    // The control with the given id (null when the dialog has none).
    HWND PrepareCtrl(int nIDC) const { return ::GetDlgItem(m_pDlgWnd->m_hWnd, nIDC); }

    BOOL m_bSaveAndValidate; // TRUE: controls to members
    CWnd* m_pDlgWnd;
};

// Attaches control nIDC to rControl on the first exchange.
void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl);
// Transfers the text of control nIDC, unchecked and of any length.
void DDX_Text(CDataExchange* pDX, int nIDC, CString& value);
