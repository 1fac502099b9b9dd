// The program's entry point. It lives in its own object file so that only a
// program that asks for WinMain (-Wl,--undefined=WinMain) takes it.
#include "framework/CWinApp.h"

int WINAPI WinMain(HINSTANCE hInstance, HINSTANCE hPrevInstance, LPSTR cmdLine, int nCmdShow)
{
    return AfxWinMain(hInstance, hPrevInstance, cmdLine, nCmdShow);
}
