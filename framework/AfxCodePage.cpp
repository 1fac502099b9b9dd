#include "framework/AfxCodePage.h"

#include <windows.h>

CString AfxToCodePage(const wchar_t* text, int length, bool* exact)
{
    if (exact)
        *exact = true;
    if (length < 0)
        length = lstrlenW(text);
    if (length == 0)
        return CString();
    // With WC_NO_BEST_FIT_CHARS a character converts only when it converts back to itself.
    BOOL usedDefault = FALSE;
    int size = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, length, nullptr, 0, "?", &usedDefault);
    CString converted;
    if (size > 0) {
        WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, text, length, converted.GetBufferSetLength(size), size, "?",
                            &usedDefault);
        converted.ReleaseBuffer(size);
    }
    if (exact && (size <= 0 || usedDefault))
        *exact = false;
    return converted;
}

std::wstring AfxFromCodePage(LPCSTR text, int length)
{
    if (length < 0)
        length = lstrlenA(text);
    int size = length > 0 ? MultiByteToWideChar(CP_ACP, 0, text, length, nullptr, 0) : 0;
    std::wstring wide(static_cast<size_t>(size > 0 ? size : 0), L'\0');
    if (size > 0)
        MultiByteToWideChar(CP_ACP, 0, text, length, &wide[0], size);
    return wide;
}
