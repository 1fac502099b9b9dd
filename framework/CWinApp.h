// The application object: one global instance per program, constructed during
// static initialisation; the entry point calls its InitInstance.
#pragma once

#include "framework/CWinThread.h"

#define ID_HELP 0xE146

class CWinApp : public CWinThread
{
public:
    // appName null: the executable's file name without its extension.
    explicit CWinApp(LPCSTR appName = nullptr);
    ~CWinApp() override;

    // FALSE ends the program at once, without a message loop.
    virtual BOOL InitInstance() { return TRUE; }
    // The message loop, run when InitInstance returns TRUE; returns the exit code.
    virtual int Run();
    virtual int ExitInstance() { return 0; }

    // Kept for the look of the start-up code; controls have their system look.
    BOOL Enable3dControls() { return TRUE; }

    // F1: the program ships no help file, so there is nothing to show.
    void OnHelp() {}

    LPCSTR m_pszAppName = nullptr;
    HINSTANCE m_hInstance = nullptr;
    LPSTR m_lpCmdLine = nullptr;
    int m_nCmdShow = SW_SHOWNORMAL;

private:
    CString m_strAppName;
};

// The application object, or null when none exists.
CWinApp* AfxGetApp();
HINSTANCE AfxGetInstanceHandle();
// The module that holds resource name of the given type (the program's own module).
HINSTANCE AfxFindResourceHandle(LPCSTR name, LPCSTR type);
// Loads string resource id into text; false when there is no such string.
bool AfxLoadString(UINT id, CString& text);

// Dialogs here host no ActiveX controls; kept for the look of the start-up code.
inline void AfxEnableControlContainer(void* = nullptr) {}

// The framework's entry: sets the multibyte code page, then runs the application object.
int AfxWinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR cmdLine, int nCmdShow);
