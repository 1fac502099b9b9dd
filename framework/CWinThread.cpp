#include "framework/CWinThread.h"

namespace {
CWinThread* g_currentThread = nullptr;
}

CWinThread::CWinThread()
{
    if (!g_currentThread)
        g_currentThread = this;
}

CWinThread::~CWinThread()
{
    if (g_currentThread == this)
        g_currentThread = nullptr;
}

CWinThread* AfxGetThread()
{
    return g_currentThread;
}

HWND AfxGetMainWndHandle()
{
    CWinThread* thread = AfxGetThread();
    CWnd* main = thread ? thread->GetMainWnd() : nullptr;
    return main ? main->m_hWnd : nullptr;
}
