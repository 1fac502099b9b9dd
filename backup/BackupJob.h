// One backup run: which files of a project's source tree go into the cabinet,
// the response file that lists them, and the archiver call.
#pragma once

#include "framework/CStdioFile.h"
#include "framework/CString.h"
#include "framework/CStringArray.h"
#include "project/Project.h"

class BackupJob
{
public:
    BackupJob();
    virtual ~BackupJob();

    // The whole run for project (null: nothing happens). True only when the
    // archiver made the cabinet file and the walk left nothing out.
    bool Run(Project* project);

    // Splits the project's two ignore settings into m_arrIgnoreExt (each item
    // trimmed of spaces, with a '.' put in front) and m_arrIgnoreFolder.
    void PrepareIgnoreLists();
    // fileName is a name without its folder.
    bool IsFileIncluded(const CString& fileName);
    // folderName is a name without its parent path.
    bool IsFolderIncluded(const CString& folderName);
    // Writes a line "relative path" CR LF for each kept file under folder,
    // depth first in listing order. Write errors throw through every level.
    void CollectFiles(CStdioFile* file, LPCTSTR folder);
    // One entry of the folder path (ending in a backslash) as the walk meets
    // it: a line, a walk into a folder, or a note of what was left out.
    void CollectEntry(CStdioFile* file, const CString& path, const WIN32_FIND_DATAW& entry);

    CStringArray m_arrIgnoreExt;
    CStringArray m_arrIgnoreFolder;
    Project* m_pProject;
    // What the walk left out, each in the order met: folders that could not be
    // listed, names that neither the code page nor a short name could carry,
    // folder links that were not followed, links whose target is missing,
    // files and folders whose stored name would pass 255 bytes or that Windows
    // cannot make (reserved names), and files too large to store. Then what the archiver left out of the cabinet it made
    // (files deleted or changing while read), with how many it did not name.
    CStringArray m_arrSkippedFolders;
    CStringArray m_arrLostNames;
    CStringArray m_arrLinks;
    CStringArray m_arrDanglingLinks;
    CStringArray m_arrLongNames;
    CStringArray m_arrReservedNames;
    CStringArray m_arrLargeFiles;
    CStringArray m_arrMovedFiles;
    int m_nMovedUnnamed = 0;

    // The warning that names what the walk left out; empty when nothing was.
    CString LeftOutWarning() const;

private:
    void Reset(Project* project);
    // The source folder the walk and the command line use: the resolved one, or the project's as stored.
    CString SourceFolder() const;
    // Tells the user when the source folder is not set or not there; resolves a relative one.
    bool CheckSource();
    // The save dialog, opened on the project's backup folder; false when cancelled, or
    // when the chosen path cannot be held in the code page (the user is told).
    bool ChooseCabinet(CString& cabinetPath);
    // Writes the list of kept files to responsePath; false, after telling the user, when it could not.
    bool WriteResponseFile(const CString& responsePath);
    // The archiver's "-a cabinet source\ @response" command.
    CString ComposeCommandLine(const CString& cabinetPath, const CString& responsePath) const;
    // Tells the outcome, then what the walk left out; true only for a cabinet with nothing left out.
    bool ReportOutcome(bool archived) const;
    CString MakeRelativePath(const CString& fullPath) const;
    void WriteLine(CStdioFile* file, const CString& fullPath);
    // False, noting it, when the file or folder at fullPath (met as shown) cannot be stored.
    bool FitsCabinet(const CString& fullPath, const CString& shown, const WIN32_FIND_DATAW& entry);

    // The source folder as a full path when the project stores a relative one
    // (the save dialog may change the current folder); empty otherwise.
    CString m_strResolvedSource;
};

// Empties dest, then appends the pieces of text between delimiters; a piece at
// the end is added only when it is not empty.
void SplitList(CStringArray& dest, CString text, char delimiter);

// Appends a backslash unless path is empty or already ends in one (a whole
// character: the second byte of a double-byte character does not count).
// A path past MAX_PATH is left unchanged.
void AddBackslash(CString& path);

// AddBackslash, also for a path too long for it: the walk and the command line
// need the separator whatever the length.
void EnsureBackslash(CString& path);
