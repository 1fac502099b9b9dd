#include "backup/ArchiverLibrary.h"

#include "framework/CString.h"
#include "project/ProgramFolder.h"

namespace {

ArchiverCommand g_override = nullptr;

} // namespace

ArchiverCommand GetArchiverCommand()
{
    if (g_override)
        return g_override;
    static CString s_loadedPath;
    static ArchiverCommand s_command = nullptr;
    CString path = GetProgramFolder() + "CAB32.dll";
    if (s_command && path.CompareNoCase(s_loadedPath) == 0)
        return s_command;

    // A missing or broken library must not bring up the system's error box.
    DWORD oldMode = 0;
    SetThreadErrorMode(SEM_FAILCRITICALERRORS | SEM_NOOPENFILEERRORBOX, &oldMode);
    HMODULE module = LoadLibraryExA(path, nullptr, LOAD_WITH_ALTERED_SEARCH_PATH);
    SetThreadErrorMode(oldMode, nullptr);
    if (!module)
        return nullptr;
    FARPROC entry = GetProcAddress(module, MAKEINTRESOURCEA(kCab32CommandOrdinal));
    if (!entry) {
        FreeLibrary(module);
        return nullptr;
    }
    s_command = reinterpret_cast<ArchiverCommand>(reinterpret_cast<void*>(entry));
    s_loadedPath = path;
    return s_command;
}

void OverrideArchiverCommand(ArchiverCommand command)
{
    g_override = command;
}
