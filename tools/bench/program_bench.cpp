// The whole program's run on one source tree, without its dialogs: the walk
// writes respons.txt in the program folder as a backup does, then CAB32.dll is
// called with the command line the program composes. Prints the time of each.
//   program_bench SOURCEFOLDER CABINET
#include <windows.h>

#include <cstdio>

#include "backup/ArchiverLibrary.h"
#include "backup/BackupJob.h"
#include "project/ProgramFolder.h"

namespace {

double Seconds(const LARGE_INTEGER& from, const LARGE_INTEGER& to)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    return static_cast<double>(to.QuadPart - from.QuadPart) / static_cast<double>(frequency.QuadPart);
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 3)
        return 100;
    ArchiverCommand archiver = GetArchiverCommand();
    if (!archiver)
        return 101;
    Project project;
    project.sourceFolder = argv[1];
    BackupJob job;
    job.m_pProject = &project;
    LARGE_INTEGER start, walked, archived;
    QueryPerformanceCounter(&start);
    job.PrepareIgnoreLists();
    CString responsePath = GetProgramFolder() + "respons.txt";
    CStdioFile responseFile;
    if (!responseFile.Open(responsePath, CFile::modeCreate | CFile::modeWrite | CFile::shareExclusive))
        return 102;
    job.CollectFiles(&responseFile, project.sourceFolder);
    responseFile.Close();
    QueryPerformanceCounter(&walked);
    CString source(project.sourceFolder);
    AddBackslash(source);
    CString commandLine;
    commandLine.Format("-a \"%s\" \"%s\" \"@%s\"", argv[2], source.GetString(), responsePath.GetString());
    char output[1024];
    int rc = archiver(nullptr, commandLine, output, sizeof(output) - 1);
    QueryPerformanceCounter(&archived);
    std::printf("rc=%d\n%s\nwalk_s=%.3f\narchive_s=%.3f\ntotal_s=%.3f\n", rc, output, Seconds(start, walked),
                Seconds(walked, archived), Seconds(start, archived));
    return 0;
}
