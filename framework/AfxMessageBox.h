// The framework's message box: caption is the application's name, owner is the
// main window, and a box that names no icon gets the default icon of its type.
#pragma once

#include "framework/CString.h"

#include <windows.h>

// Shows a box instead of MessageBoxA; receives what MessageBoxA would and returns its answer.
typedef int (*AfxMessageBoxHook)(HWND owner, LPCSTR text, LPCSTR caption, UINT type, UINT helpId);

int AfxMessageBox(LPCSTR text, UINT type = MB_OK, UINT helpId = 0);
// The text is string resource stringId of the executable; helpId -1 means stringId.
int AfxMessageBox(UINT stringId, UINT type = MB_OK, UINT helpId = static_cast<UINT>(-1));

// Installs hook (null restores MessageBoxA) and returns the one it replaces.
AfxMessageBoxHook AfxSetMessageBoxHook(AfxMessageBoxHook hook);

// A box whose text is UTF-16, for what the ANSI code page cannot carry (a path it lacks characters of).
typedef int (*AfxMessageBoxHookW)(HWND owner, LPCWSTR text, LPCWSTR caption, UINT type);
int AfxMessageBoxW(LPCWSTR text, UINT type = MB_OK);
// Installs hook (null restores MessageBoxW) and returns the one it replaces.
AfxMessageBoxHookW AfxSetMessageBoxHookW(AfxMessageBoxHookW hook);

// The executable's file name without its extension.
CString AfxGetAppName();

// type with the default icon added when it names none: an exclamation mark for
// MB_OK, MB_OKCANCEL, MB_YESNO and MB_YESNOCANCEL, none for the rest.
UINT AfxAddDefaultIcon(UINT type);
