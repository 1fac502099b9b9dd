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

CString GetProgramFolder()
{
    if (!Override().IsEmpty())
        return Override();
    static CString s_folder;
    if (s_folder.IsEmpty()) {
        char path[260] = "";
        GetModuleFileNameA(nullptr, path, sizeof(path));
        char drive[_MAX_DRIVE] = "";
        char dir[_MAX_DIR] = "";
        _splitpath(path, drive, dir, nullptr, nullptr);
        s_folder.Format("%s%s", drive, dir);
    }
    return s_folder;
}

void OverrideProgramFolder(LPCSTR folder)
{
    Override() = folder;
}
