#include "app/CodePageCheck.h"

#include "framework/AfxMessageBox.h"
#include "project/ProgramFolder.h"

std::wstring WrongCodePageMessage(UINT codePage)
{
    const std::wstring page = std::to_wstring(codePage);
    return L"Kestelvarnholm は日本語の文字コード (コード ページ 932) で動くプログラムですが、この Windows では"
           L"その文字コードを使えません (いまのコード ページは " +
           page +
           L" です)。\n"
           L"Windows 11 でお使いになるか、[コントロール パネル] の [地域] → [管理] → [システム ロケールの変更] で"
           L"「Unicode 対応ではないプログラムの言語」を「日本語 (日本)」にし、「ベータ: ワールドワイド言語サポートで "
           L"Unicode UTF-8 を使用」をオフにして、Windows を再起動してください。\n"
           L"project.dat は読み書きしていません。\n\n"
           L"Kestelvarnholm works in the Japanese code page (932), which this Windows cannot give it (its code page "
           L"is " +
           page +
           L").\n"
           L"Use it on Windows 11, or set the language for non-Unicode programs to Japanese (Japan) under Control "
           L"Panel > Region > Administrative > Change system locale, with \"Beta: Use Unicode UTF-8 for worldwide "
           L"language support\" turned off, and restart Windows.\n"
           L"project.dat has been neither read nor written.";
}

bool ConfirmCodePage(UINT codePage)
{
    if (codePage == kJapaneseCodePage)
        return true;
    AfxMessageBoxW(WrongCodePageMessage(codePage).c_str(), MB_OK | MB_ICONERROR);
    return false;
}

bool ConfirmProgramFolder()
{
    std::wstring folder;
    if (HoldProgramFolder(&folder).hold != PathHold::Lost)
        return true;
    TellPathNotHeld(PathUse::ProgramFolder, folder);
    return false;
}
