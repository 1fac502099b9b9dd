// The framework's thread object; the application object derives from it.
#pragma once

#include "framework/CWnd.h"

class CWinThread : public CCmdTarget
{
public:
    // The first thread object constructed becomes the current one.
    CWinThread();
    ~CWinThread() override;

    virtual CWnd* GetMainWnd() { return m_pMainWnd; }

    CWnd* m_pMainWnd = nullptr;
};

// The current thread object, or null when none exists.
CWinThread* AfxGetThread();

// The main window's handle, or a null handle when there is no thread object or no main window.
HWND AfxGetMainWndHandle();
