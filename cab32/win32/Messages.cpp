#include "cab32/win32/Messages.h"

#include <windows.h>

#include <cstring>

namespace cab32 {

namespace {

std::string SystemText(uint32_t code)
{
    char* text = nullptr;
    DWORD n =
        FormatMessageA(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                       nullptr, code, 0, reinterpret_cast<LPSTR>(&text), 0, nullptr);
    std::string result;
    if (n != 0 && text != nullptr)
        result.assign(text, n);
    if (text != nullptr)
        LocalFree(text);
    for (char& c : result)
        if (c == '\r' || c == '\n')
            c = ' ';
    while (!result.empty() && (result.back() == ' ' || result.back() == '.'))
        result.pop_back();
    if (result.empty())
        result = "エラー " + std::to_string(code);
    return result;
}

} // namespace

const char* ResultText(int code)
{
    switch (code) {
    case CAB_OK: return "キャビネットファイルを作成しました";
    case CAB_E_INTERNAL: return "内部エラーが発生しました";
    case CAB_E_NO_MEMORY: return "メモリが不足しています";
    case CAB_E_CANCELLED: return "キャンセルされました";
    case CAB_E_NO_COMMAND: return "コマンド(-a)が指定されていません";
    case CAB_E_UNKNOWN_SWITCH: return "不明なスイッチです";
    case CAB_E_UNTERMINATED_QUOTE: return "引用符が閉じられていません";
    case CAB_E_NO_CABINET_NAME: return "キャビネットファイル名が指定されていません";
    case CAB_E_NO_BASE_FOLDER: return "基準フォルダが指定されていません";
    case CAB_E_TARGET_IS_FOLDER: return "キャビネットファイル名がフォルダを指しています";
    case CAB_E_RESPONSE_OPEN: return "レスポンスファイルを開けません";
    case CAB_E_RESPONSE_READ: return "レスポンスファイルを読み込めません";
    case CAB_E_RESPONSE_SYNTAX: return "レスポンスファイルの書式が正しくありません";
    case CAB_E_EMPTY_NAME: return "空のファイル名は格納できません";
    case CAB_E_ABSOLUTE_PATH: return "絶対パスは格納できません";
    case CAB_E_PARENT_PATH: return "「.」や「..」を含むパスは格納できません";
    case CAB_E_BAD_NAME: return "ファイル名に使えない文字が含まれています";
    case CAB_E_NAME_TOO_LONG: return "ファイル名が255バイトを超えています";
    case CAB_E_TOO_MANY_CABINETS: return "キャビネットファイルが65535個を超えます";
    case CAB_E_NO_FILES: return "格納するファイルがありません";
    case CAB_E_SOURCE_OPEN: return "ファイルを開けません";
    case CAB_E_SOURCE_READ: return "ファイルを読み込めません";
    case CAB_E_SOURCE_IS_FOLDER: return "フォルダはファイルとして格納できません";
    case CAB_E_SOURCE_CHANGED: return "読み込み中にファイルが小さくなりました";
    case CAB_E_FILE_TOO_LARGE: return "ファイルが大きすぎて格納できません";
    case CAB_E_DUPLICATE_NAME: return "同じ名前のファイルが2回指定されています";
    case CAB_E_FILES_LEFT_OUT: return "キャビネットファイルを作成しましたが、格納できなかったファイルがあります";
    case CAB_E_CABINET_TOO_LARGE: return "キャビネットファイルが予定の大きさを超えました";
    case CAB_E_TEMP_CREATE: return "一時ファイルを作成できません";
    case CAB_E_WRITE: return "キャビネットファイルに書き込めません";
    case CAB_E_REPLACE: return "キャビネットファイルを置き換えられません";
    case CAB_E_COMPRESS: return "圧縮に失敗しました";
    case CAB_E_RESTORE: return "元のキャビネットファイルを戻せません。元のファイルはここに残っています";
    case CAB_E_CLEANUP: return "キャビネットファイルは作成しましたが、古いファイルを削除できません";
    case CAB_E_VERIFY_READ: return "作成したキャビネットファイルを読み直せません";
    case CAB_E_VERIFY_FAILED: return "作成したキャビネットファイルの検査に失敗しました";
    case CAB_E_TRAILING_DOT: return "末尾がピリオドや空白のファイル名・フォルダ名は格納できません";
    case CAB_E_DEVICE_NAME: return "デバイス名(CON、NUL、COM1など)はファイル名・フォルダ名に使えません";
    default: return "エラーが発生しました";
    }
}

namespace {

// The cabinet made and how many files it holds.
std::string Summary(const ArchiveReport& report)
{
    std::string text = report.cabinet + " (" + std::to_string(report.files) + "ファイル";
    if (report.cabinets > 1)
        text += "、" + std::to_string(report.cabinets) + "個に分割";
    return text + ")";
}

const char* ReasonText(LeftOutReason reason)
{
    return reason == LeftOutReason::Vanished ? "見つかりません" : "読み込み中に変更されました";
}

// The first line as for a success, then each file left out on a line of its
// own with why, every line ending in CR LF. Lines that would not fit in room
// bytes (the terminator included) are counted on a last line instead.
std::string LeftOutLines(const ArchiveReport& report, size_t room)
{
    const std::string more = "\r\nほか 4294967295 個\r\n";
    std::string text = std::string(ResultText(CAB_E_FILES_LEFT_OUT)) + ": " + Summary(report);
    size_t shown = 0;
    for (const LeftOutFile& f : report.leftOut) {
        const std::string line = "\r\n" + f.path + " (" + ReasonText(f.reason) + ")";
        const size_t after = shown + 1 < report.leftOut.size() ? more.size() : 2;
        if (text.size() + line.size() + after >= room)
            break;
        text += line;
        ++shown;
    }
    if (shown < report.leftOut.size())
        text += "\r\nほか " + std::to_string(report.leftOut.size() - shown) + " 個";
    return text + "\r\n";
}

} // namespace

std::string FormatResult(const CabError& error, const ArchiveReport& report, size_t room)
{
    std::string line = ResultText(error.code);
    if (error.code == CAB_OK)
        return line + ": " + Summary(report);
    if (error.code == CAB_E_FILES_LEFT_OUT)
        return LeftOutLines(report, room);
    if (!error.file.empty())
        line += ": " + error.file;
    if (error.line != 0)
        line += " (" + error.responseFile + " " + std::to_string(error.line) + "行目)";
    if (!error.detail.empty())
        line += " [" + error.detail + "]";
    if (error.sysError != 0)
        line += " - " + SystemText(error.sysError);
    for (char& c : line)
        if (c == '\r' || c == '\n')
            c = ' ';
    return line;
}

void CopyOut(const char* text, size_t len, char* out, uint32_t size, LeadByteTest lead)
{
    if (out == nullptr || size == 0)
        return;
    size_t n = 0;
    while (n < len) {
        size_t step = lead(static_cast<unsigned char>(text[n])) && n + 1 < len ? 2 : 1;
        if (n + step > size - 1)
            break;
        n += step;
    }
    std::memcpy(out, text, n);
    out[n] = '\0';
}

} // namespace cab32
