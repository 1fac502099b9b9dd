// One backup project: its name and four settings texts, kept exactly as typed.
#pragma once

#include "framework/CArchive.h"
#include "framework/CString.h"

class Project
{
public:
    Project();
    virtual ~Project();

    // Stores or loads the five fields, in declaration order, as archived
    // strings. Catches nothing: archive and file errors reach the caller.
    void Serialize(CArchive& ar);

    // Valid until the field is next changed.
    LPCSTR GetIgnoredExtensions() const { return ignoredExtensions; }
    LPCSTR GetIgnoredFolders() const { return ignoredFolders; }

    CString name;
    CString sourceFolder;
    CString backupFolder;
    // Comma-separated extensions without their dot.
    CString ignoredExtensions;
    // Comma-separated folder names.
    CString ignoredFolders;
};
