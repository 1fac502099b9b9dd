#include "project/CodePagePath.h"

#include "framework/AfxCodePage.h"
#include "framework/AfxMessageBox.h"

#include <windows.h>

namespace {

bool IsSeparator(wchar_t ch)
{
    return ch == L'\\' || ch == L'/';
}

// The length of path's root, which is held as it is: "X:", "\\server\share", or nothing.
size_t RootLength(const std::wstring& path)
{
    if (path.size() >= 2 && path[1] == L':')
        return 2;
    if (path.size() < 2 || !IsSeparator(path[0]) || !IsSeparator(path[1]))
        return 0;
    size_t server = path.find_first_of(L"\\/", 2);
    if (server == std::wstring::npos)
        return path.size();
    size_t share = path.find_first_of(L"\\/", server + 1);
    return share == std::wstring::npos ? path.size() : share;
}

// The part of path from start to the next separator, held exactly or by its short name; false when neither.
bool HoldPart(const std::wstring& path, size_t start, size_t end, ShortNameLookup lookup, CString& held)
{
    bool exact = false;
    CString part = AfxToCodePage(path.c_str() + start, static_cast<int>(end - start), &exact);
    if (!exact) {
        std::wstring shortName = lookup(path.substr(0, end));
        part = shortName.empty() ? CString() : AfxToCodePage(shortName, &exact);
    }
    if (exact)
        held += part;
    return exact;
}

} // namespace

std::wstring FindShortName(const std::wstring& path)
{
    size_t start = path.find_last_of(L"\\/") + 1;
    std::wstring name = path.substr(start);
    if (name.empty() || name.find_first_of(L"*?") != std::wstring::npos)
        return std::wstring();
    WIN32_FIND_DATAW found;
    HANDLE search = FindFirstFileW(path.c_str(), &found);
    if (search == INVALID_HANDLE_VALUE)
        return std::wstring();
    FindClose(search);
    bool same =
        CompareStringOrdinal(found.cFileName, -1, name.c_str(), static_cast<int>(name.size()), TRUE) == CSTR_EQUAL;
    return same ? found.cAlternateFileName : std::wstring();
}

HeldPath HoldPath(const std::wstring& path, ShortNameLookup lookup)
{
    bool exact = false;
    CString whole = AfxToCodePage(path, &exact);
    if (exact)
        return {whole, PathHold::Exact};
    size_t root = RootLength(path);
    CString held = AfxToCodePage(path.c_str(), static_cast<int>(root), &exact);
    for (size_t start = root; exact && start < path.size();) {
        if (IsSeparator(path[start])) {
            held += static_cast<char>(path[start++]);
            continue;
        }
        size_t end = path.find_first_of(L"\\/", start);
        end = end == std::wstring::npos ? path.size() : end;
        exact = HoldPart(path, start, end, lookup, held);
        start = end;
    }
    return exact ? HeldPath{held, PathHold::ShortNames} : HeldPath{whole, PathHold::Lost};
}

std::wstring ShownPath(const CString& held)
{
    std::wstring wide = AfxFromCodePage(held);
    if (held.Find('~') < 0)
        return wide;
    DWORD size = GetLongPathNameW(wide.c_str(), nullptr, 0);
    std::wstring full(size, L'\0');
    if (size == 0 || GetLongPathNameW(wide.c_str(), &full[0], size) + 1 != size)
        return wide;
    full.resize(size - 1);
    if (full == wide || HoldPath(full).path != held)
        return wide;
    return full;
}

std::wstring NotHeldMessage(PathUse use, const std::wstring& path)
{
    const wchar_t* what[] = {L"ソースフォルダ", L"保存先フォルダ", L"フォルダ", L"キャビネットファイル",
                             L"プログラムのフォルダ"};
    std::wstring text = std::wstring(what[static_cast<int>(use)]) + L"「" + path +
                        L"」は、この環境の文字コードで表せない文字を含み、短い名前 (8.3 形式) でも表せないため、"
                        L"使えません。";
    if (use == PathUse::BackupFolder)
        text += L"\n保存ダイアログは別のフォルダで開きます。";
    if (use == PathUse::ProgramFolder)
        text += L"\nKestelvarnholm.exe と CAB32.dll は、この文字コードで表せる名前のフォルダに置いてください。"
                L"project.dat は読み書きしていません。";
    return text;
}

void TellPathNotHeld(PathUse use, const std::wstring& path)
{
    AfxMessageBoxW(NotHeldMessage(use, path).c_str(), MB_OK);
}
