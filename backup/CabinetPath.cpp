#include "backup/CabinetPath.h"

#include "framework/AfxCodePage.h"
#include "project/CodePagePath.h"

bool HoldCabinetPath(const std::wstring& chosen, CString& cabinetPath)
{
    size_t slash = chosen.find_last_of(L"\\/");
    size_t nameStart = slash == std::wstring::npos ? 0 : slash + 1;
    HeldPath folder = HoldPath(chosen.substr(0, nameStart));
    bool exact = false;
    CString name = AfxToCodePage(chosen.substr(nameStart), &exact);
    if (folder.hold == PathHold::Lost || !exact) {
        TellPathNotHeld(PathUse::Cabinet, chosen);
        return false;
    }
    cabinetPath = folder.path + name;
    return true;
}
