// Which files of the source tree a backup keeps, and the response file's lines.
#include "backup/BackupJob.h"

#include "backup/WalkLimits.h"
#include "cab32/Cab32.h"

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

void EnsureBackslash(CString& path)
{
    AddBackslash(path);
    if (!path.IsEmpty() && !EndsWithBackslash(path))
        path += '\\';
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
    if (IsReservedName(kept)) {
        m_arrReservedNames.Add(path + name);
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
