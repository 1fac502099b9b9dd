#include "project/ProgramFolder.h"

#include <cstdlib>
#include <windows.h>

namespace {

CString& Override()
{
    static CString folder;
    return folder;
}

} // namespace

HeldPath HoldProgramFolder(std::wstring* folder)
{
    wchar_t path[MAX_PATH] = L"";
    DWORD length = GetModuleFileNameW(nullptr, path, MAX_PATH);
    std::wstring full(path, length < MAX_PATH ? length : 0);
    full.resize(full.find_last_of(L"\\/") + 1);
    if (folder)
        *folder = full;
    return HoldPath(full);
}

CString GetProgramFolder()
{
    if (!Override().IsEmpty())
        return Override();
    static CString s_folder;
    if (s_folder.IsEmpty())
        s_folder = HoldProgramFolder().path;
    return s_folder;
}

void OverrideProgramFolder(LPCSTR folder)
{
    Override() = folder;
}
