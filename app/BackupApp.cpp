#include <windows.h>

int WINAPI WinMain(HINSTANCE, HINSTANCE, LPSTR, int)
{
    MessageBoxA(NULL, "Kestelvarnholm", "Kestelvarnholm", MB_OK);
    return 0;
}
