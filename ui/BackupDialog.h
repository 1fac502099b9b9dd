// The main dialog: the list of projects on the left, the five settings of the
// selected project on the right. The list box is the only container of the
// projects; each entry's item data is the Project it shows.
#pragma once

#include "framework/CDialog.h"
#include "framework/CListBox.h"
#include "framework/CString.h"
#include "project/Project.h"
#include "ui/ListBoxProjectList.h"

class BackupDialog : public CDialog
{
public:
    explicit BackupDialog(CWnd* pParent = nullptr);
    ~BackupDialog() override = default;

    // Fills the list from project.dat (always at least one entry) and shows the selection.
    void LoadProjects();
    // The project of the selected entry, or null when no entry is selected.
    Project* GetSelectedProject();
    // Copies the selected project into the edits; nothing when no entry is selected.
    void ShowSelectedProject();

    CListBox m_listProjects;
    // m_listProjects as the project store's list.
    ListBoxProjectList m_projects;
    CString m_strBackupFolder;
    CString m_strIgnoreExt;
    CString m_strIgnoreFolder;
    CString m_strProjectName;
    CString m_strSourceFolder;

protected:
    HICON m_hIcon;

    void DoDataExchange(CDataExchange* pDX) override;
    BOOL OnInitDialog() override;
    // Enter in an edit or the list must not close the dialog.
    void OnOK() override {}

    void OnSysCommand(UINT nID, LPARAM lParam);
    void OnPaint();
    HCURSOR OnQueryDragIcon();
    void OnChangeProjectName();
    void OnChangeSourceFolder();
    void OnChangeBackupFolder();
    void OnChangeIgnoreExt();
    void OnChangeIgnoreFolder();
    void OnAdd();
    void OnSelchangeProjectList();
    void OnDestroy();
    void OnDelete();
    void OnBrowseSource();
    void OnBrowseBackup();
    void OnRunBackup();

    DECLARE_MESSAGE_MAP()

private:
    // Takes every edit's text into the members, then member into field of the selected project.
    void TakeEdit(CString Project::*field, const CString& member);
    // Lets the user pick a new folder for field of the selected project, mirrored in member.
    void BrowseFolder(CString Project::*field, CString& member);
};
