// The framework's window object: a C++ object attached to an HWND, whose
// messages go through its class's message map.
#pragma once

#include "framework/CCmdTarget.h"
#include "framework/CString.h"

#include <windows.h>

#include <string>

class CException;

class CWnd : public CCmdTarget
{
public:
    CWnd() = default;
    ~CWnd() override;

    HWND GetSafeHwnd() const { return m_hWnd; }

    // Routes the window's messages through this object (the window procedure is replaced
    // until WM_NCDESTROY, when the object lets go of the window).
    BOOL SubclassWindow(HWND hWnd);
    // Lets go of the window and gives it back its own window procedure.
    HWND UnsubclassWindow();

    HWND GetDlgItem(int nID) const { return ::GetDlgItem(m_hWnd, nID); }
    void SetWindowText(LPCSTR text) { ::SetWindowTextA(m_hWnd, text); }
    void GetWindowText(CString& text) const;
    int GetWindowTextLength() const { return ::GetWindowTextLengthA(m_hWnd); }
    LRESULT SendMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return ::SendMessageA(m_hWnd, message, wParam, lParam);
    }
    BOOL PostMessage(UINT message, WPARAM wParam = 0, LPARAM lParam = 0) const
    {
        return ::PostMessageA(m_hWnd, message, wParam, lParam);
    }
    HMENU GetSystemMenu(BOOL bRevert) const { return ::GetSystemMenu(m_hWnd, bRevert); }
    BOOL IsIconic() const { return ::IsIconic(m_hWnd); }
    void GetClientRect(LPRECT rect) const { ::GetClientRect(m_hWnd, rect); }
    void GetWindowRect(LPRECT rect) const { ::GetWindowRect(m_hWnd, rect); }
    // Centres the window over its owner, or on the work area when it has no visible owner.
    void CenterWindow();

    // The current message's default processing by the window's own procedure.
    LRESULT Default();

protected:
    virtual LRESULT WindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Looks the message up in the message map; false when nothing handled it.
    virtual BOOL OnWndMsg(UINT message, WPARAM wParam, LPARAM lParam, LRESULT* result);
    virtual BOOL OnCommand(WPARAM wParam, LPARAM lParam);
    virtual LRESULT DefWindowProc(UINT message, WPARAM wParam, LPARAM lParam);
    // Called once the window is gone and the object has let go of it.
    virtual void PostNcDestroy() {}

    void OnSysCommand(UINT, LPARAM) { Default(); }
    void OnPaint() { Default(); }
    HCURSOR OnQueryDragIcon() { return reinterpret_cast<HCURSOR>(Default()); }
    void OnDestroy() { Default(); }

    // While set, notifications from child controls (WM_COMMAND from a control, WM_NOTIFY)
    // are discarded before they reach the message map.
    bool m_bLockoutNotify = false;

public:
    HWND m_hWnd = nullptr;

private:
    friend LRESULT CALLBACK AfxWndProc(HWND, UINT, WPARAM, LPARAM);
    WNDPROC m_pfnSuper = nullptr;
    MSG m_currentMsg = {};
};

// The window procedure of every window that a CWnd has subclassed.
LRESULT CALLBACK AfxWndProc(HWND hWnd, UINT message, WPARAM wParam, LPARAM lParam);

// The window object attached to a window, or null.
CWnd* AfxFromHandle(HWND hWnd);

// Tells the user about an exception that a window procedure caught (null: not a framework exception).
void AfxReportWndProcException(const CException* e);

// Sets a window's text only when it differs, so that an unchanged control is not touched.
void AfxSetWindowText(HWND hWnd, LPCSTR text);

// A window's text in UTF-16, as a UTF-16 window holds it (no conversion to the code page).
std::wstring AfxGetWindowTextW(HWND hWnd);
