#include "backup/BackupJob.h"

#include "backup/ArchiverLibrary.h"
#include "backup/ArchiverOutput.h"
#include "backup/CabinetPath.h"
#include "backup/WalkLimits.h"
#include "cab32/Cab32Errors.h"
#include "cab32/Cab32Limits.h"
#include "framework/AfxMessageBox.h"
#include "framework/CFileDialog.h"
#include "framework/CWinThread.h"
#include "project/ProgramFolder.h"

#include <cstdlib>
#include <cstring>
#include <string>
#include <mbstring.h>
#include <shlwapi.h>

namespace {

const unsigned char* Bytes(LPCSTR text)
{
    return reinterpret_cast<const unsigned char*>(text);
}

bool EndsWithBackslash(const CString& path)
{
    if (path.IsEmpty())
        return false;
    const unsigned char* begin = Bytes(path);
    const unsigned char* end = begin + path.GetLength();
    const unsigned char* last = _mbsdec(begin, end);
    return last && last + 1 == end && *last == '\\';
}

// AddBackslash, also for a path too long for it: the walk and the command line
// need the separator whatever the length.
void EnsureBackslash(CString& path)
{
    AddBackslash(path);
    if (!path.IsEmpty() && !EndsWithBackslash(path))
        path += '\\';
}

// Closes a search however the walk leaves its level.
class FindHandle
{
public:
    explicit FindHandle(HANDLE handle) : m_handle(handle) {}
    FindHandle(const FindHandle&) = delete;
    FindHandle& operator=(const FindHandle&) = delete;
    ~FindHandle() { FindClose(m_handle); }

private:
    HANDLE m_handle;
};

// How many paths of each group the after-run warning names.
const int kSkippedFoldersShown = 5;

// The list of files the archiver reads, in the program folder.
const char kResponseFileName[] = "respons.txt";

// Room for the archiver's output text; the program does not show it.
const int kArchiverOutputSize = 1024;

// The wildcard CollectFiles appends to a folder to list it.
const char kEveryEntry[] = "*.*";

// The name in the ANSI code page without best fits: a character the code page
// lacks becomes '?' and clears exact.
CString ToAnsi(const wchar_t* name, bool& exact)
{
    BOOL usedDefault = FALSE;
    // Up to two bytes for each of a name's MAX_PATH characters, and the terminator.
    char buffer[MAX_PATH * 2 + 1] = "";
    int n = WideCharToMultiByte(CP_ACP, WC_NO_BEST_FIT_CHARS, name, -1, buffer, sizeof buffer, nullptr, &usedDefault);
    exact = n > 0 && !usedDefault;
    return n > 0 ? CString(buffer) : CString();
}

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

void SplitList(CStringArray& dest, CString text, char delimiter)
{
    dest.SetSize(0, -1);
    int start = 0;
    for (;;) {
        int position = text.Find(delimiter, start);
        if (position < 0)
            break;
        dest.SetAtGrow(dest.GetSize(), text.Mid(start, position - start));
        start = position + 1;
    }
    if (start < text.GetLength())
        dest.SetAtGrow(dest.GetSize(), text.Mid(start));
}

void AddBackslash(CString& path)
{
    int length = path.GetLength();
    PathAddBackslashA(path.GetBuffer(length + 2));
    path.ReleaseBuffer(-1);
}

BackupJob::BackupJob() : m_pProject(nullptr) {}

BackupJob::~BackupJob() = default;

void BackupJob::PrepareIgnoreLists()
{
    SplitList(m_arrIgnoreExt, m_pProject->GetIgnoredExtensions(), ',');
    for (int i = 0; i < m_arrIgnoreExt.GetSize(); i++) {
        CString& item = m_arrIgnoreExt[i];
        item.TrimLeft(' ');
        item.TrimRight(' ');
        item.Insert(0, '.');
    }
    SplitList(m_arrIgnoreFolder, m_pProject->GetIgnoredFolders(), ',');
    for (int i = 0; i < m_arrIgnoreFolder.GetSize(); i++) {
        CString& item = m_arrIgnoreFolder[i];
        item.TrimLeft(' ');
        item.TrimRight(' ');
    }
}

bool BackupJob::IsFileIncluded(const CString& fileName)
{
    char extension[_MAX_EXT] = "";
    _splitpath(fileName, nullptr, nullptr, nullptr, extension);
    for (int i = 0; i < m_arrIgnoreExt.GetSize(); i++) {
        if (_mbsicmp(Bytes(extension), Bytes(m_arrIgnoreExt[i])) == 0)
            return false;
    }
    return true;
}

bool BackupJob::IsFolderIncluded(const CString& folderName)
{
    for (int i = 0; i < m_arrIgnoreFolder.GetSize(); i++) {
        if (_mbsicmp(Bytes(folderName), Bytes(m_arrIgnoreFolder[i])) == 0)
            return false;
    }
    return true;
}

// The relative path of a file met by the walk. The walk itself knows it: the
// rest of the full path after the source folder and its backslash. The shell's
// answer is used when it agrees; where it cannot form one (past MAX_PATH) or
// forms another, the walk's is written, so that no kept file gets an empty or
// wrong line.
CString BackupJob::MakeRelativePath(const CString& fullPath) const
{
    CString source = SourceFolder();
    CString root(source);
    EnsureBackslash(root);
    CString walked;
    if (!root.IsEmpty() && fullPath.GetLength() > root.GetLength() &&
        std::strncmp(fullPath, root, static_cast<size_t>(root.GetLength())) == 0)
        walked = fullPath.Mid(root.GetLength());

    char buffer[MAX_PATH + 1] = "";
    if (PathRelativePathToA(buffer, source, FILE_ATTRIBUTE_DIRECTORY, fullPath, FILE_ATTRIBUTE_ARCHIVE)) {
        CString relative(buffer);
        if (relative.GetLength() >= 2 && _mbscmp(Bytes(relative.Left(2)), Bytes(".\\")) == 0)
            relative.Delete(0, 2);
        if (walked.IsEmpty() ? !relative.IsEmpty() : relative == walked)
            return relative;
    }
    return walked.IsEmpty() ? fullPath : walked;
}

// The listing is taken in UTF-16, so that no name arrives best-fitted into
// another; each name is then used in the ANSI code page, or by its short name.
void BackupJob::CollectFiles(CStdioFile* file, LPCTSTR folder)
{
    CString path(folder);
    EnsureBackslash(path);
    // Past MAX_PATH the listing goes through "\\?\".
    WIN32_FIND_DATAW entry;
    HANDLE search = FindFirstFileW(LongPathW(path + kEveryEntry).c_str(), &entry);
    if (search == INVALID_HANDLE_VALUE) {
        DWORD error = GetLastError();
        if (error != ERROR_FILE_NOT_FOUND && error != ERROR_NO_MORE_FILES)
            m_arrSkippedFolders.Add(folder);
        return;
    }
    FindHandle closer(search);
    do {
        CollectEntry(file, path, entry);
    } while (FindNextFileW(search, &entry));
    if (GetLastError() != ERROR_NO_MORE_FILES)
        m_arrSkippedFolders.Add(folder);
}

// The ignore lists see the ANSI form of the name; a name the code page cannot
// carry is used by its short name, and left out when it has none. A folder
// link is never walked into: it may lead back up the tree.
void BackupJob::CollectEntry(CStdioFile* file, const CString& path, const WIN32_FIND_DATAW& entry)
{
    if (entry.cFileName[0] == L'\0' || entry.cFileName[0] == L'.')
        return;
    bool exact = false, shortExact = false;
    CString name = ToAnsi(entry.cFileName, exact);
    CString kept = exact ? name : ToAnsi(entry.cAlternateFileName, shortExact);
    if (!exact && !shortExact)
        kept.Empty();
    const bool folder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    const bool link = (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0;
    if (folder ? !IsFolderIncluded(name) : !IsFileIncluded(name))
        return;
    if (folder && link) {
        m_arrLinks.Add(path + name);
        return;
    }
    if (kept.IsEmpty()) {
        m_arrLostNames.Add(path + name);
        return;
    }
    if (!FitsCabinet(path + kept, path + name, entry))
        return;
    if (folder) {
        CollectFiles(file, path + kept);
        return;
    }
    CString fullPath;
    fullPath.Format("%s%s", path.GetString(), kept.GetString());
    WriteLine(file, fullPath);
}

// A folder must leave room for a file's name under it; a file's size is its
// target's for a link (whose own size is that of the link).
bool BackupJob::FitsCabinet(const CString& fullPath, const CString& shown, const WIN32_FIND_DATAW& entry)
{
    const bool folder = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    ULONGLONG size = (static_cast<ULONGLONG>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
    if (!folder && (entry.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) && !LinkTarget(fullPath, size)) {
        m_arrDanglingLinks.Add(shown);
        return false;
    }
    if (StoredNameBytes(fullPath, MakeRelativePath(fullPath)) + (folder ? 2 : 0) > kCab32LongestName) {
        m_arrLongNames.Add(shown);
        return false;
    }
    if (!folder && TooLargeToStore(size)) {
        m_arrLargeFiles.Add(shown);
        return false;
    }
    return true;
}

void BackupJob::WriteLine(CStdioFile* file, const CString& fullPath)
{
    CString relative = MakeRelativePath(fullPath);
    file->WriteString("\"");
    file->WriteString(relative);
    file->WriteString("\"\n");
}

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
    AppendGroup(text, "大きすぎて (約 1.8 GB 超) 格納できないファイルが %d 個あり、バックアップされていません。",
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
