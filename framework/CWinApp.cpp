#include "framework/CWinApp.h"

#include "framework/CException.h"

#include <mbctype.h>
#include <stdlib.h>

namespace {
CWinApp* g_app = nullptr;

CString ModuleBaseName()
{
    char path[MAX_PATH];
    DWORD length = ::GetModuleFileNameA(nullptr, path, MAX_PATH);
    if (length == 0 || length >= MAX_PATH)
        return CString();
    char name[_MAX_FNAME];
    _splitpath(path, nullptr, nullptr, name, nullptr);
    return CString(name);
}
} // namespace

CWinApp::CWinApp(LPCSTR appName) : m_strAppName(appName ? CString(appName) : ModuleBaseName())
{
    m_pszAppName = m_strAppName;
    m_hInstance = ::GetModuleHandleA(nullptr);
    if (!g_app)
        g_app = this;
}

CWinApp::~CWinApp()
{
    if (g_app == this)
        g_app = nullptr;
}

int CWinApp::Run()
{
    MSG msg;
    while (::GetMessageA(&msg, nullptr, 0, 0) > 0) {
        ::TranslateMessage(&msg);
        ::DispatchMessageA(&msg);
    }
    ExitInstance();
    return static_cast<int>(msg.wParam);
}

CWinApp* AfxGetApp()
{
    return g_app;
}

HINSTANCE AfxGetInstanceHandle()
{
    return g_app && g_app->m_hInstance ? g_app->m_hInstance : ::GetModuleHandleA(nullptr);
}

HINSTANCE AfxFindResourceHandle(LPCSTR, LPCSTR)
{
    return AfxGetInstanceHandle();
}

bool AfxLoadString(UINT id, CString& text)
{
    // A string resource holds at most 65,535 UTF-16 units, two bytes each in the ANSI code page.
    char buffer[4096];
    int length = ::LoadStringA(AfxGetInstanceHandle(), id, buffer, sizeof buffer);
    text = CString(buffer, length > 0 ? length : 0);
    return length > 0;
}

int AfxWinMain(HINSTANCE hInstance, HINSTANCE, LPSTR cmdLine, int nCmdShow)
{
    _setmbcp(_MB_CP_ANSI);
    CWinApp* app = AfxGetApp();
    if (!app)
        return -1;
    app->m_hInstance = hInstance;
    app->m_lpCmdLine = cmdLine;
    app->m_nCmdShow = nCmdShow;

    int result = -1;
    try {
        result = app->InitInstance() ? app->Run() : app->ExitInstance();
    } catch (const CException& e) {
        AfxReportWndProcException(&e);
    } catch (...) {
        AfxReportWndProcException(nullptr);
    }
    return result;
}
