#include "framework/CDataExchange.h"

void DDX_Control(CDataExchange* pDX, int nIDC, CWnd& rControl)
{
    if (rControl.m_hWnd)
        return;
    HWND hWnd = pDX->PrepareCtrl(nIDC);
    if (hWnd)
        rControl.SubclassWindow(hWnd);
}

void DDX_Text(CDataExchange* pDX, int nIDC, CString& value)
{
    HWND hWnd = pDX->PrepareCtrl(nIDC);
    if (!hWnd)
        return;
    if (pDX->m_bSaveAndValidate) {
        int length = ::GetWindowTextLengthA(hWnd);
        ::GetWindowTextA(hWnd, value.GetBuffer(length), length + 1);
        value.ReleaseBuffer();
    } else {
        AfxSetWindowText(hWnd, value);
    }
}
