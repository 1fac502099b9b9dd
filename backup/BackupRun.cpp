// One backup run: the checks before it, the save dialog, the response file,
// the archiver call and what the user is told afterwards.
#include "backup/BackupJob.h"

#include "backup/ArchiverLibrary.h"
#include "backup/ArchiverOutput.h"
#include "backup/CabinetPath.h"
#include "cab32/Cab32.h"
#include "framework/AfxMessageBox.h"
#include "framework/CFileDialog.h"
#include "framework/CWinThread.h"
#include "project/ProgramFolder.h"

#include <shlwapi.h>

namespace {

// How many paths of each group the after-run warning names.
const int kSkippedFoldersShown = 5;

// The list of files the archiver reads, in the program folder.
const char kResponseFileName[] = "respons.txt";

// Room for the archiver's output text; the program does not show it.
const int kArchiverOutputSize = 1024;

// Adds one group of the after-run warning: its sentence with the count, then
// the first few paths (unnamed: more that have no path to show).
void AppendGroup(CString& text, const char* sentence, const CStringArray& paths, int unnamed = 0)
{
    int count = paths.GetSize() + unnamed;
    if (count == 0)
        return;
    CString group;
    group.Format(sentence, count);
    for (int i = 0; i < paths.GetSize() && i < kSkippedFoldersShown; i++) {
        group += "\n";
        group += paths[i];
    }
    if (count > kSkippedFoldersShown) {
        CString more;
        more.Format("\nほか %d 個", count - kSkippedFoldersShown);
        group += more;
    }
    if (!text.IsEmpty())
        text += "\n\n";
    text += group;
}

} // namespace

CString BackupJob::LeftOutWarning() const
{
    CString text;
    AppendGroup(text, "読み取れなかったフォルダが %d 個あり、その中のファイルはバックアップされていません。",
                m_arrSkippedFolders);
    AppendGroup(text,
                "この環境の文字コードで表せない名前のファイルまたはフォルダが %d 個あり、"
                "バックアップされていません。",
                m_arrLostNames);
    AppendGroup(text, "たどらなかったフォルダのリンクが %d 個あり、その先のファイルはバックアップされていません。",
                m_arrLinks);
    AppendGroup(text, "リンク先が見つからないリンクが %d 個あり、バックアップされていません。", m_arrDanglingLinks);
    AppendGroup(text,
                "格納する名前が 255 バイトを超えるファイルまたはフォルダが %d 個あり、バックアップされていません。",
                m_arrLongNames);
    AppendGroup(text,
                "Windows で使えない名前 (末尾がピリオドや空白、CON や AUX などの予約名) のファイルまたはフォルダが "
                "%d 個あり、バックアップされていません。",
                m_arrReservedNames);
    AppendGroup(text, "大きすぎて (約 2 GB 超) 格納できないファイルが %d 個あり、バックアップされていません。",
                m_arrLargeFiles);
    AppendGroup(text, "バックアップ中に変更または削除されたファイルが %d 個あり、バックアップされていません。",
                m_arrMovedFiles, m_nMovedUnnamed);
    return text;
}

// Forgets what an earlier run left behind and takes project as the one to back up.
void BackupJob::Reset(Project* project)
{
    m_pProject = project;
    m_arrSkippedFolders.RemoveAll();
    m_arrLostNames.RemoveAll();
    m_arrLinks.RemoveAll();
    m_arrDanglingLinks.RemoveAll();
    m_arrLongNames.RemoveAll();
    m_arrReservedNames.RemoveAll();
    m_arrLargeFiles.RemoveAll();
    m_arrMovedFiles.RemoveAll();
    m_nMovedUnnamed = 0;
    m_strResolvedSource.Empty();
}

CString BackupJob::SourceFolder() const
{
    if (!m_strResolvedSource.IsEmpty())
        return m_strResolvedSource;
    return m_pProject ? m_pProject->sourceFolder : CString();
}

bool BackupJob::CheckSource()
{
    const CString& sourceFolder = m_pProject->sourceFolder;
    if (sourceFolder.IsEmpty()) {
        AfxMessageBox("ソースフォルダが指定されていません。", MB_OK);
        return false;
    }
    if (!PathIsDirectoryA(sourceFolder)) {
        AfxMessageBox("ソースフォルダが存在しません。", MB_OK);
        return false;
    }
    // Only "X:\..." and "\\server\..." name a folder on their own. Any other
    // (relative, "\src", "C:src") is taken from the current folder and drive
    // now: the save dialog may move them before the walk.
    LPCSTR given = sourceFolder;
    bool drive = (given[0] >= 'A' && given[0] <= 'Z') || (given[0] >= 'a' && given[0] <= 'z');
    bool fullPath = (given[0] == '\\' && given[1] == '\\') || (drive && given[1] == ':' && given[2] == '\\');
    if (!fullPath) {
        char full[MAX_PATH] = "";
        DWORD length = GetFullPathNameA(sourceFolder, MAX_PATH, full, nullptr);
        if (length > 0 && length < MAX_PATH)
            m_strResolvedSource = full;
    }
    return true;
}

bool BackupJob::ChooseCabinet(CString& cabinetPath)
{
    CFileDialog dialog(FALSE, "cab", nullptr, 0, "キャビネットファイル(*.cab)|*.cab||");
    dialog.m_ofn.lpstrInitialDir = m_pProject->backupFolder;
    return dialog.DoModal() == IDOK && HoldCabinetPath(dialog.GetPathNameW(), cabinetPath);
}

bool BackupJob::WriteResponseFile(const CString& responsePath)
{
    PrepareIgnoreLists();
    CStdioFile responseFile;
    if (!responseFile.Open(responsePath, CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive)) {
        AfxMessageBox("レスポンスファイルの作成に失敗", MB_OK);
        return false;
    }

    // The close belongs to the walk: a buffered write that fails only then
    // leaves the archiver an incomplete list.
    bool collected = false;
    try {
        CollectFiles(&responseFile, SourceFolder());
        responseFile.Close();
        collected = true;
    } catch (CException& e) {
        e.Delete();
    } catch (...) {
    }
    if (!collected)
        AfxMessageBox("ファイルアクセス中にエラーが発生しました。", MB_OK);
    return collected;
}

CString BackupJob::ComposeCommandLine(const CString& cabinetPath, const CString& responsePath) const
{
    CString sourceWithBackslash = SourceFolder();
    EnsureBackslash(sourceWithBackslash);
    CString commandLine;
    commandLine.Format("-a \"%s\" \"%s\" \"@%s\"", cabinetPath.GetString(), sourceWithBackslash.GetString(),
                       responsePath.GetString());
    return commandLine;
}

bool BackupJob::ReportOutcome(bool archived) const
{
    if (archived)
        AfxMessageBox("成功しました。", MB_ICONINFORMATION);
    else
        AfxMessageBox("キャビネットファイルの作成に失敗しました。", MB_OK);

    CString warning = LeftOutWarning();
    if (!warning.IsEmpty()) {
        AfxMessageBox(warning, MB_OK | MB_ICONWARNING);
        return false;
    }
    return archived;
}

bool BackupJob::Run(Project* project)
{
    Reset(project);
    if (!project || !CheckSource())
        return false;
    // The archiver is loaded before the user chooses a file, so that a missing
    // library is told before any work is asked for.
    ArchiverCommand archiver = GetArchiverCommand();
    if (!archiver) {
        AfxMessageBox("アーカイバ CAB32.dll を読み込めませんでした。", MB_OK);
        return false;
    }
    CString cabinetPath;
    if (!ChooseCabinet(cabinetPath))
        return false;
    CString responsePath = GetProgramFolder() + kResponseFileName;
    if (!WriteResponseFile(responsePath))
        return false;

    char output[kArchiverOutputSize];
    int result =
        archiver(AfxGetMainWndHandle(), ComposeCommandLine(cabinetPath, responsePath), output, sizeof(output) - 1);
    // A cabinet made without files that moved while it was made: told as made, the files named after.
    if (result == CAB_E_FILES_LEFT_OUT)
        ReadLeftOutFiles(output, m_arrMovedFiles, m_nMovedUnnamed);
    return ReportOutcome(result == CAB_OK || result == CAB_E_FILES_LEFT_OUT);
}
