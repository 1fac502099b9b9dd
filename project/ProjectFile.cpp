#include "project/ProjectFile.h"

#include "project/Project.h"

#include <cstring>
#include <memory>

const char kProjectFileMagic[] = "KESTELVARNHOLM";

bool ReadProjectFile(CArchive& ar, ProjectList& list)
{
    try {
        CString magic;
        ar >> magic;
        // The length is compared too: a text with a zero byte after the magic is not the magic.
        if (magic.GetLength() != static_cast<int>(std::strlen(kProjectFileMagic)) ||
            magic.Compare(kProjectFileMagic) != 0)
            return false;
        int projectCount = 0;
        int selectedIndex = 0;
        ar >> projectCount >> selectedIndex;
        for (int i = 0; i < projectCount; i++) {
            std::unique_ptr<Project> project(new Project);
            project->Serialize(ar);
            int index = list.InsertString(i, project->name);
            if (index < 0)
                return false;
            SetProjectAt(list, index, project.release());
        }
        list.SetCurSel(selectedIndex);
        return true;
    } catch (CException& e) {
        e.Delete();
    } catch (...) {
    }
    return false;
}

void WriteProjectFile(CArchive& ar, const ProjectList& list)
{
    ar << CString(kProjectFileMagic);
    int count = list.GetCount();
    ar << count << list.GetCurSel();
    for (int i = 0; i < count; i++) {
        Project* project = ProjectAt(list, i);
        if (project) {
            project->Serialize(ar);
        } else {
            Project empty;
            empty.name.Empty();
            empty.Serialize(ar);
        }
    }
}
