// The list of projects as the project store sees it: the entries in order,
// each with a text and an item datum, and at most one selected entry.
// The main dialog's list box provides it; tests provide one in memory.
#pragma once

#include "framework/AfxTypes.h"

class Project;

class ProjectList
{
public:
    virtual ~ProjectList() = default;

    // Removes every entry (the item data are not freed).
    virtual void ResetContent() = 0;
    // Inserts text at index (-1: at the end) and returns the index it got.
    virtual int InsertString(int index, LPCSTR text) = 0;
    // Appends text and returns its index.
    virtual int AddString(LPCSTR text) = 0;
    virtual void SetItemData(int index, DWORD_PTR data) = 0;
    // The item data of entry index, or 0 when there is no such entry.
    virtual DWORD_PTR GetItemData(int index) const = 0;
    virtual int GetCount() const = 0;
    // The selected index, or -1 when no entry is selected.
    virtual int GetCurSel() const = 0;
    // -1 clears the selection; an index that names no entry changes nothing.
    virtual void SetCurSel(int index) = 0;
};

// The rules every holder of the list follows: each entry's item datum is the
// Project it shows, owned by the list's holder.

// The project of entry index; null when there is no such entry.
Project* ProjectAt(const ProjectList& list, int index);
void SetProjectAt(ProjectList& list, int index, Project* project);
// Appends a new project with the default settings and selects it; its index,
// or -1 (nothing added) when the list refused the entry.
int AppendDefaultProject(ProjectList& list);
