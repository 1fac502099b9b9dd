#include "framework/AfxMessageBox.h"

#include "framework/CWinThread.h"

#include <cstdlib>
#include <string>

namespace {
AfxMessageBoxHook g_messageBoxHook = nullptr;
AfxMessageBoxHookW g_messageBoxHookW = nullptr;

// AfxGetAppName in UTF-16: the executable's name as the file system has it.
std::wstring AppNameW()
{
    wchar_t path[MAX_PATH + 1] = L"";
    GetModuleFileNameW(nullptr, path, MAX_PATH);
    wchar_t name[_MAX_FNAME] = L"";
    _wsplitpath(path, nullptr, nullptr, name, nullptr);
    return name;
}
} // namespace

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

AfxMessageBoxHookW AfxSetMessageBoxHookW(AfxMessageBoxHookW hook)
{
    AfxMessageBoxHookW previous = g_messageBoxHookW;
    g_messageBoxHookW = hook;
    return previous;
}

int AfxMessageBoxW(LPCWSTR text, UINT type)
{
    HWND owner = AfxGetMainWndHandle();
    std::wstring caption = AppNameW();
    type = AfxAddDefaultIcon(type);
    if (g_messageBoxHookW)
        return g_messageBoxHookW(owner, text, caption.c_str(), type);
    return MessageBoxW(owner, text, caption.c_str(), type);
}

int AfxMessageBox(UINT stringId, UINT type, UINT helpId)
{
    char text[1024] = "";
    LoadStringA(GetModuleHandleA(nullptr), stringId, text, sizeof(text));
    return AfxMessageBox(text, type, helpId == static_cast<UINT>(-1) ? stringId : helpId);
}
