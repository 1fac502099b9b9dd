// The layout of project.dat, over an archive: free of <windows.h> so that it
// builds on the host too.
//
//   offset 0   archived string "KESTELVARNHOLM" (the magic; 0x0E and 14 characters)
//   offset 15  int32 LE  number of project records that follow
//   offset 19  int32 LE  index of the selected entry, or -1 for none
//   offset 23  the records in list order, each five archived strings
//              (name, source folder, backup folder, ignored extensions, ignored folders)
#pragma once

#include "framework/CArchive.h"
#include "project/ProjectList.h"

extern const char kProjectFileMagic[];

// Appends the file's records to list, each a new Project as its entry's item
// data, then selects the stored index as it is. Returns false when reading
// stopped at an error (wrong magic, early end, read failure): the records read
// before it stay, the one being read is discarded and no selection is applied.
bool ReadProjectFile(CArchive& ar, ProjectList& list);

// Writes the magic, the count, the selection and every project. Errors throw.
void WriteProjectFile(CArchive& ar, const ProjectList& list);
