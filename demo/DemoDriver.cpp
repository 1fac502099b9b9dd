// Plays a user of Kestelvarnholm: starts the program from its folder, fills in
// a project that backs up a source tree, saves a picture of the main dialog,
// runs the backup through the real save dialog, and closes the program.
//
//   demo_driver <program folder> <source folder> <cabinet> <picture.bmp>
#include "res/resource.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace {

bool WaitFor(bool (*test)(void*), void* data, DWORD timeoutMs)
{
    for (DWORD start = GetTickCount(); !test(data); Sleep(20)) {
        if (GetTickCount() - start > timeoutMs)
            return false;
    }
    return true;
}

std::string TextOf(HWND hWnd)
{
    char text[1024] = {};
    SendMessageA(hWnd, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return text;
}

struct Search
{
    DWORD process;
    HWND owner;       // null: any owner
    const char* text; // null: any caption
    HWND found;
};

BOOL CALLBACK MatchWindow(HWND hWnd, LPARAM data)
{
    Search* s = reinterpret_cast<Search*>(data);
    DWORD pid = 0;
    char cls[32] = {};
    GetWindowThreadProcessId(hWnd, &pid);
    GetClassNameA(hWnd, cls, sizeof cls);
    if (pid != s->process || !IsWindowVisible(hWnd) || std::string(cls) != "#32770")
        return TRUE;
    if ((s->owner && GetWindow(hWnd, GW_OWNER) != s->owner) || (s->text && TextOf(hWnd) != s->text))
        return TRUE;
    s->found = hWnd;
    return FALSE;
}

bool Found(void* data)
{
    Search* s = static_cast<Search*>(data);
    s->found = nullptr;
    EnumWindows(MatchWindow, reinterpret_cast<LPARAM>(s));
    return s->found != nullptr;
}

HWND WaitForWindow(DWORD process, HWND owner, const char* caption, DWORD timeoutMs)
{
    Search s{process, owner, caption, nullptr};
    return WaitFor(Found, &s, timeoutMs) ? s.found : nullptr;
}

// Writes the screen's pixels under the window into a 24-bit BMP file.
bool SavePicture(HWND hWnd, const char* path)
{
    RECT r;
    GetWindowRect(hWnd, &r);
    int width = r.right - r.left, height = r.bottom - r.top;
    HDC screen = GetDC(nullptr);
    HDC memory = CreateCompatibleDC(screen);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = width;
    info.bmiHeader.biHeight = height;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 24;
    void* bits = nullptr;
    HBITMAP bitmap = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ old = SelectObject(memory, bitmap);
    BitBlt(memory, 0, 0, width, height, screen, r.left, r.top, SRCCOPY);
    GdiFlush();
    DWORD stride = (static_cast<DWORD>(width) * 3 + 3) & ~3u;
    DWORD imageSize = stride * static_cast<DWORD>(height);
    BITMAPFILEHEADER file = {};
    file.bfType = 0x4D42;
    file.bfOffBits = sizeof file + sizeof info.bmiHeader;
    file.bfSize = file.bfOffBits + imageSize;
    bool ok = false;
    if (FILE* out = std::fopen(path, "wb")) {
        ok = std::fwrite(&file, sizeof file, 1, out) == 1 &&
             std::fwrite(&info.bmiHeader, sizeof info.bmiHeader, 1, out) == 1 &&
             std::fwrite(bits, 1, imageSize, out) == imageSize;
        ok = std::fclose(out) == 0 && ok;
    }
    SelectObject(memory, old);
    DeleteObject(bitmap);
    DeleteDC(memory);
    ReleaseDC(nullptr, screen);
    return ok;
}

void SetField(HWND dialog, int id, const char* text)
{
    SendMessageA(GetDlgItem(dialog, id), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(text));
}

int Fail(const char* what)
{
    std::printf("demo: %s\n", what);
    return 1;
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 5)
        return Fail("usage: demo_driver <program folder> <source folder> <cabinet> <picture.bmp>");
    std::string folder = argv[1], exe = folder + "\\Kestelvarnholm.exe";

    STARTUPINFOA startup = {};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process = {};
    std::string commandLine = "\"" + exe + "\"";
    if (!CreateProcessA(exe.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0, nullptr, folder.c_str(), &startup,
                        &process))
        return Fail("the program did not start");
    HWND main = WaitForWindow(process.dwProcessId, nullptr, "Kestelvarnholm Ver.1.00", 15000);
    if (!main)
        return Fail("the main dialog did not appear");

    // Each text set here reaches the project through the edit's change notification.
    SetField(main, IDC_PROJECT_NAME, "Kestelvarnholm のソース");
    SetField(main, IDC_SOURCE_FOLDER, argv[2]);
    std::string cabinet = argv[3];
    SetField(main, IDC_BACKUP_FOLDER, cabinet.substr(0, cabinet.rfind('\\')).c_str());
    SetField(main, IDC_IGNORE_EXT, "obj, o, a, exe, dll, pdb");
    SetField(main, IDC_IGNORE_FOLDER, "build, Debug, Release");
    SetForegroundWindow(main);
    Sleep(500);
    if (!SavePicture(main, argv[4]))
        return Fail("the picture could not be saved");

    PostMessageA(main, WM_COMMAND, MAKEWPARAM(IDC_RUN_BACKUP, BN_CLICKED),
                 reinterpret_cast<LPARAM>(GetDlgItem(main, IDC_RUN_BACKUP)));
    HWND save = WaitForWindow(process.dwProcessId, main, "名前を付けて保存", 15000);
    if (!save)
        return Fail("the save dialog did not appear");
    HWND name = FindWindowExA(GetDlgItem(save, 0x47C), nullptr, "Edit", nullptr);
    SendMessageA(name ? name : GetDlgItem(save, 0x47C), WM_SETTEXT, 0, reinterpret_cast<LPARAM>(cabinet.c_str()));
    PostMessageA(save, WM_COMMAND, IDOK, 0);

    // The outcome box follows the archiver, which may show its progress meanwhile.
    HWND box = nullptr;
    for (DWORD start = GetTickCount(); !box && GetTickCount() - start < 300000; Sleep(100)) {
        HWND candidate = WaitForWindow(process.dwProcessId, main, nullptr, 100);
        if (candidate && GetDlgItem(candidate, 0xFFFF))
            box = candidate;
    }
    if (!box)
        return Fail("no outcome message appeared");
    std::string outcome = TextOf(GetDlgItem(box, 0xFFFF));
    PostMessageA(box, WM_COMMAND, IDOK, 0);
    Sleep(300);

    PostMessageA(main, WM_COMMAND, IDCANCEL, 0);
    WaitForSingleObject(process.hProcess, 15000);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);

    char utf8[512] = {};
    wchar_t wide[512] = {};
    MultiByteToWideChar(CP_ACP, 0, outcome.c_str(), -1, wide, 512);
    WideCharToMultiByte(CP_UTF8, 0, wide, -1, utf8, sizeof utf8, nullptr, nullptr);
    std::printf("demo: the program said: %s\n", utf8);
    return outcome == "成功しました。" ? 0 : 1;
}
