#include "project/Project.h"

Project::Project()
{
    name = "名称未設定";
}

Project::~Project() = default;

void Project::Serialize(CArchive& ar)
{
    if (ar.IsStoring()) {
        ar << name << sourceFolder << backupFolder << ignoredExtensions << ignoredFolders;
    } else {
        ar >> name >> sourceFolder >> backupFolder >> ignoredExtensions >> ignoredFolders;
    }
}
