#include "project/ProjectStore.h"

#include "cab32/BriefLocks.h"

#include "framework/AfxMessageBox.h"
#include "framework/CArchive.h"
#include "framework/CFile.h"
#include "framework/CStringArray.h"
#include "project/ProgramFolder.h"
#include "project/Project.h"
#include "project/ProjectFile.h"

#include <string>

namespace {

// Paths of files that were opened but did not read cleanly, not yet kept aside.
CStringArray& DamagedFiles()
{
    static CStringArray paths;
    return paths;
}

int FindDamaged(const CString& path)
{
    for (int i = 0; i < DamagedFiles().GetSize(); i++) {
        if (DamagedFiles()[i].CompareNoCase(path) == 0)
            return i;
    }
    return -1;
}

void SetDamaged(const CString& path, bool damaged)
{
    int index = FindDamaged(path);
    if (damaged && index < 0)
        DamagedFiles().Add(path);
    else if (!damaged && index >= 0)
        DamagedFiles().RemoveAt(index);
}

// Bytes after the last record read hold projects that the list does not have:
// a count that is too small, zero or negative hides them.
bool NothingLeft(const CArchive& ar)
{
    try {
        return ar.GetRemainingLength() == 0;
    } catch (CException& e) {
        e.Delete();
    }
    return false;
}

} // namespace

CString GetProjectFilePath()
{
    return GetProgramFolder() + "project.dat";
}

void LoadProjectList(ProjectList& list, const CString& path)
{
    list.ResetContent();
    SetDamaged(path, false);

    CFile file;
    CFileException openError;
    if (file.Open(path, CFile::modeRead | CFile::shareDenyWrite, &openError)) {
        CArchive ar(&file, CArchive::load);
        bool clean = ReadProjectFile(ar, list) && NothingLeft(ar);
        ar.Abort();
        file.Abort();
        SetDamaged(path, !clean);
    } else if (openError.m_lOsError != ERROR_FILE_NOT_FOUND && openError.m_lOsError != ERROR_PATH_NOT_FOUND) {
        // A file that is there but could not be read (locked by another
        // program, no access) holds projects that this list does not have.
        SetDamaged(path, true);
    }

    if (list.GetCount() == 0)
        AppendDefaultProject(list);
}

namespace {

// Attributes a replaced file takes over from the one it replaces.
const DWORD kKeptAttributes =
    FILE_ATTRIBUTE_HIDDEN | FILE_ATTRIBUTE_SYSTEM | FILE_ATTRIBUTE_ARCHIVE | FILE_ATTRIBUTE_NOT_CONTENT_INDEXED;

// Writes the whole list into file from its start, cuts off whatever followed
// and closes it; false on any error.
bool WriteListTo(CFile& file, ProjectList& list)
{
    try {
        CArchive ar(&file, CArchive::store);
        WriteProjectFile(ar, list);
        ar.Close();
        if (!SetEndOfFile(file.m_hFile))
            return false;
        file.Flush();
        file.Close();
        return true;
    } catch (CException& e) {
        e.Delete();
    } catch (...) {
    }
    return false;
}

// Copies a file that did not read cleanly to path + ".bak" before it is
// replaced; false when it is there but could not be copied.
bool KeepDamagedFile(const CString& path)
{
    if (FindDamaged(path) < 0)
        return true;
    // A file that has gone meanwhile has nothing left to keep.
    if (!CopyFileA(path, path + ".bak", FALSE) && GetLastError() != ERROR_FILE_NOT_FOUND)
        return false;
    SetDamaged(path, false);
    return true;
}

// Reads the whole of an open file from its start; false when it cannot.
bool ReadOldBytes(CFile& file, std::string& bytes)
{
    try {
        char buffer[4096];
        file.Seek(0, CFile::begin);
        for (UINT n; (n = file.Read(buffer, sizeof buffer)) > 0;)
            bytes.append(buffer, n);
        file.Seek(0, CFile::begin);
        return true;
    } catch (CException& e) {
        e.Delete();
    }
    return false;
}

// Writes bytes over the file from its start and cuts it there.
void WriteBack(CFile& file, const std::string& bytes)
{
    try {
        file.Seek(0, CFile::begin);
        file.Write(bytes.data(), static_cast<UINT>(bytes.size()));
        SetEndOfFile(file.m_hFile);
        file.Flush();
    } catch (CException& e) {
        e.Delete();
    }
}

// The save where no new file can be made beside project.dat: the file itself
// is overwritten. What each step leaves when it fails: opening or reading the
// old bytes, the file as it was; writing the new list (a full disk, say), the
// old bytes written back and the file cut to them, which fit where they were
// before; writing them back as well, the file as far as that got.
bool SaveInPlace(ProjectList& list, const CString& path)
{
    if (!KeepDamagedFile(path))
        return false;
    CFile file;
    // Not truncated on opening: a hidden file cannot be recreated under its name.
    if (!file.Open(path, CFile::modeCreate | CFile::modeNoTruncate | CFile::modeReadWrite | CFile::shareExclusive)) {
        AfxMessageBox("ファイルのオープンに失敗しました。", MB_OK);
        return false;
    }
    std::string old;
    if (!ReadOldBytes(file, old)) {
        file.Abort();
        return false;
    }
    bool written = WriteListTo(file, list);
    if (!written && file.IsOpen())
        WriteBack(file, old);
    file.Abort();
    return written;
}

ProjectReplace g_replace = &MoveFileExA;

// Renames temp over path, tried again while another program holds either for a moment.
bool ReplaceWithRetries(const CString& temp, const CString& path)
{
    auto step = [&]() -> uint32_t {
        return g_replace(temp, path, MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH) ? 0 : GetLastError();
    };
    return cab32::RetryBriefLocks(step, [](unsigned ms) { Sleep(ms); }) == 0;
}

} // namespace

bool SaveProjectList(ProjectList& list, const CString& path)
{
    // The file is opened as the save's own, so that a read-only or locked file
    // shows as a failure to open; it is held while the new content is written.
    // The read-only attribute is checked as well, since not every system refuses
    // its owner a write to such a file.
    CFile target;
    CFileException openError;
    DWORD attributes = GetFileAttributesA(path);
    bool readOnly = attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_READONLY) != 0;
    if (readOnly || (!target.Open(path, CFile::modeWrite | CFile::shareExclusive, &openError) &&
                     openError.m_lOsError != ERROR_FILE_NOT_FOUND)) {
        AfxMessageBox("ファイルのオープンに失敗しました。", MB_OK);
        return false;
    }
    // A name of this process's own: two copies of the program saving at once
    // never write into, or move, each other's new content.
    CString tempPath;
    tempPath.Format("%s.%lu.tmp", path.GetString(), static_cast<unsigned long>(GetCurrentProcessId()));
    CFile temp;
    if (!temp.Open(tempPath, CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive)) {
        target.Abort();
        return SaveInPlace(list, path);
    }

    bool written = WriteListTo(temp, list);
    temp.Abort();
    target.Abort();
    DWORD kept = attributes != INVALID_FILE_ATTRIBUTES ? attributes & kKeptAttributes : 0;
    if (written && kept != 0)
        written = SetFileAttributesA(tempPath, kept) != FALSE;
    if (written)
        written = KeepDamagedFile(path);
    if (written && !ReplaceWithRetries(tempPath, path))
        written = false;
    if (!written)
        DeleteFileA(tempPath);
    return written;
}

void OverrideProjectReplace(ProjectReplace replace)
{
    g_replace = replace ? replace : &MoveFileExA;
}

void CloseProjectList(ProjectList& list, const CString& path)
{
    while (!SaveProjectList(list, path)) {
        if (AfxMessageBox("データの保存に失敗しました。\n再トライしますか？", MB_YESNO) != IDYES)
            break;
    }
    int count = list.GetCount();
    for (int i = 0; i < count; i++)
        delete ProjectAt(list, i);
    list.ResetContent();
}
