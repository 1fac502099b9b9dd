#include <windows.h>

// The archiver's command entry (ordinal 1). Not implemented yet: always fails.
extern "C" int WINAPI Cab(HWND, LPCSTR, LPSTR output, DWORD size)
{
    if (output && size > 0)
        output[0] = '\0';
    return 1;
}
