#include "project/ProjectList.h"

#include "project/Project.h"

#include <memory>

Project* ProjectAt(const ProjectList& list, int index)
{
    return reinterpret_cast<Project*>(list.GetItemData(index));
}

void SetProjectAt(ProjectList& list, int index, Project* project)
{
    list.SetItemData(index, reinterpret_cast<DWORD_PTR>(project));
}

int AppendDefaultProject(ProjectList& list)
{
    std::unique_ptr<Project> project(new Project);
    int index = list.AddString(project->name);
    if (index < 0)
        return -1;
    list.SetCurSel(index);
    SetProjectAt(list, index, project.release());
    return index;
}
