#include "framework/AfxMessageBox.h"

#include "framework/CWinThread.h"

#include <cstdlib>

namespace {
AfxMessageBoxHook g_messageBoxHook = nullptr;
}

CString AfxGetAppName()
{
    char path[MAX_PATH + 1] = "";
    GetModuleFileNameA(nullptr, path, MAX_PATH);
    char name[_MAX_FNAME] = "";
    _splitpath(path, nullptr, nullptr, name, nullptr);
    return CString(name);
}

UINT AfxAddDefaultIcon(UINT type)
{
    if ((type & MB_ICONMASK) != 0)
        return type;
    switch (type & MB_TYPEMASK) {
    case MB_OK:
    case MB_OKCANCEL:
    case MB_YESNO:
    case MB_YESNOCANCEL: return type | MB_ICONEXCLAMATION;
    default: return type;
    }
}

AfxMessageBoxHook AfxSetMessageBoxHook(AfxMessageBoxHook hook)
{
    AfxMessageBoxHook previous = g_messageBoxHook;
    g_messageBoxHook = hook;
    return previous;
}

int AfxMessageBox(LPCSTR text, UINT type, UINT helpId)
{
    HWND owner = AfxGetMainWndHandle();
    CString caption = AfxGetAppName();
    type = AfxAddDefaultIcon(type);
    if (g_messageBoxHook)
        return g_messageBoxHook(owner, text, caption, type, helpId);
    return MessageBoxA(owner, text, caption, type);
}

int AfxMessageBox(UINT stringId, UINT type, UINT helpId)
{
    char text[1024] = "";
    LoadStringA(GetModuleHandleA(nullptr), stringId, text, sizeof(text));
    return AfxMessageBox(text, type, helpId == static_cast<UINT>(-1) ? stringId : helpId);
}
