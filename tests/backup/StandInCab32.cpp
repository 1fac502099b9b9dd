#include <windows.h>

#include <cstdio>
#include <cstring>

// Ordinal 1 of the stand-in archiver: writes what it was given into
// archiver-call.txt beside itself and returns 0.
extern "C" int WINAPI StandInCommand(HWND owner, LPCSTR commandLine, LPSTR output, DWORD outputSize)
{
    HMODULE self = nullptr;
    GetModuleHandleExA(GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
                       reinterpret_cast<LPCSTR>(&StandInCommand), &self);
    char path[MAX_PATH] = "";
    GetModuleFileNameA(self, path, MAX_PATH);
    char* slash = std::strrchr(path, '\\');
    if (slash)
        lstrcpyA(slash + 1, "archiver-call.txt");
    FILE* file = std::fopen(path, "wb");
    if (file) {
        std::fprintf(file, "%p|%lu|%s", static_cast<void*>(owner), static_cast<unsigned long>(outputSize), commandLine);
        std::fclose(file);
    }
    if (output && outputSize > 0)
        output[0] = '\0';
    return 0;
}
