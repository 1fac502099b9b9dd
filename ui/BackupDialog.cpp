#include "ui/BackupDialog.h"

#include "backup/BackupJob.h"
#include "framework/AfxMessageBox.h"
#include "framework/CDataExchange.h"
#include "framework/CWinApp.h"
#include "project/ProjectStore.h"
#include "res/resource.h"
#include "ui/AboutDialog.h"
#include "ui/FolderPicker.h"
#include "ui/PathFields.h"

namespace {

// The system keeps the low four bits of a system command's id for itself.
const UINT kSystemCommandMask = 0xFFF0;

} // namespace

BackupDialog::BackupDialog(CWnd* pParent) : CDialog(IDD_MAIN_DIALOG, pParent), m_projects(m_listProjects)
{
    m_strBackupFolder = "";
    m_strIgnoreExt = "";
    m_strIgnoreFolder = "";
    m_strProjectName = "";
    m_strSourceFolder = "";
    LPCSTR icon = MAKEINTRESOURCEA(IDR_MAINFRAME);
    m_hIcon = ::LoadIconA(AfxFindResourceHandle(icon, RT_GROUP_ICON), icon);
}

void BackupDialog::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
    DDX_Control(pDX, IDC_PROJECT_LIST, m_listProjects);
    DDX_PathText(pDX, IDC_BACKUP_FOLDER, m_strBackupFolder);
    DDX_Text(pDX, IDC_IGNORE_EXT, m_strIgnoreExt);
    DDX_Text(pDX, IDC_IGNORE_FOLDER, m_strIgnoreFolder);
    DDX_Text(pDX, IDC_PROJECT_NAME, m_strProjectName);
    DDX_PathText(pDX, IDC_SOURCE_FOLDER, m_strSourceFolder);
}

BEGIN_MESSAGE_MAP(BackupDialog, CDialog)
    ON_WM_SYSCOMMAND()
    ON_WM_PAINT()
    ON_WM_QUERYDRAGICON()
    ON_EN_CHANGE(IDC_PROJECT_NAME, OnChangeProjectName)
    ON_EN_CHANGE(IDC_SOURCE_FOLDER, OnChangeSourceFolder)
    ON_EN_CHANGE(IDC_BACKUP_FOLDER, OnChangeBackupFolder)
    ON_EN_CHANGE(IDC_IGNORE_EXT, OnChangeIgnoreExt)
    ON_EN_CHANGE(IDC_IGNORE_FOLDER, OnChangeIgnoreFolder)
    ON_BN_CLICKED(IDC_ADD, OnAdd)
    ON_LBN_SELCHANGE(IDC_PROJECT_LIST, OnSelchangeProjectList)
    ON_WM_DESTROY()
    ON_BN_CLICKED(IDC_DELETE, OnDelete)
    ON_BN_CLICKED(IDC_BROWSE_SOURCE, OnBrowseSource)
    ON_BN_CLICKED(IDC_BROWSE_BACKUP, OnBrowseBackup)
    ON_BN_CLICKED(IDC_RUN_BACKUP, OnRunBackup)
END_MESSAGE_MAP()

BOOL BackupDialog::OnInitDialog()
{
    CDialog::OnInitDialog();

    HMENU systemMenu = GetSystemMenu(FALSE);
    if (systemMenu) {
        CString about;
        AfxLoadString(IDS_ABOUTBOX, about);
        if (!about.IsEmpty()) {
            ::AppendMenuA(systemMenu, MF_SEPARATOR, 0, nullptr);
            ::AppendMenuA(systemMenu, MF_STRING, IDM_ABOUTBOX, about);
        }
    }

    SendMessage(WM_SETICON, ICON_BIG, reinterpret_cast<LPARAM>(m_hIcon));
    SendMessage(WM_SETICON, ICON_SMALL, reinterpret_cast<LPARAM>(m_hIcon));

    LoadProjects();
    return TRUE;
}

void BackupDialog::OnSysCommand(UINT nID, LPARAM lParam)
{
    if ((nID & kSystemCommandMask) == IDM_ABOUTBOX) {
        AboutDialog about;
        about.DoModal();
    } else {
        CDialog::OnSysCommand(nID, lParam);
    }
}

void BackupDialog::OnPaint()
{
    if (!IsIconic()) {
        CDialog::OnPaint();
        return;
    }
    PAINTSTRUCT paint;
    HDC dc = ::BeginPaint(m_hWnd, &paint);
    SendMessage(WM_ICONERASEBKGND, reinterpret_cast<WPARAM>(dc), 0);
    int iconWidth = ::GetSystemMetrics(SM_CXICON);
    int iconHeight = ::GetSystemMetrics(SM_CYICON);
    RECT rect;
    GetClientRect(&rect);
    int x = (rect.right - rect.left - iconWidth + 1) / 2;
    int y = (rect.bottom - rect.top - iconHeight + 1) / 2;
    ::DrawIcon(dc, x, y, m_hIcon);
    ::EndPaint(m_hWnd, &paint);
}

HCURSOR BackupDialog::OnQueryDragIcon()
{
    return static_cast<HCURSOR>(m_hIcon);
}

Project* BackupDialog::GetSelectedProject()
{
    int index = m_listProjects.GetCurSel();
    if (index < 0)
        return nullptr;
    return ProjectAt(m_projects, index);
}

void BackupDialog::ShowSelectedProject()
{
    Project* project = GetSelectedProject();
    if (!project)
        return;
    m_strProjectName = project->name;
    m_strSourceFolder = project->sourceFolder;
    m_strBackupFolder = project->backupFolder;
    m_strIgnoreExt = project->ignoredExtensions;
    m_strIgnoreFolder = project->ignoredFolders;
    UpdateData(FALSE);
}

void BackupDialog::OnChangeProjectName()
{
    UpdateData(TRUE);
    Project* project = GetSelectedProject();
    if (!project)
        return;
    project->name = m_strProjectName;

    int index = m_listProjects.GetCurSel();
    m_listProjects.DeleteString(index);
    m_listProjects.InsertString(index, m_strProjectName);
    m_listProjects.SetCurSel(index);
    SetProjectAt(m_projects, index, project);
}

void BackupDialog::TakeEdit(CString Project::*field, const CString& member)
{
    UpdateData(TRUE);
    if (Project* project = GetSelectedProject())
        project->*field = member;
}

void BackupDialog::OnChangeSourceFolder()
{
    TakeEdit(&Project::sourceFolder, m_strSourceFolder);
}

void BackupDialog::OnChangeBackupFolder()
{
    TakeEdit(&Project::backupFolder, m_strBackupFolder);
}

void BackupDialog::OnChangeIgnoreExt()
{
    TakeEdit(&Project::ignoredExtensions, m_strIgnoreExt);
}

void BackupDialog::OnChangeIgnoreFolder()
{
    TakeEdit(&Project::ignoredFolders, m_strIgnoreFolder);
}

void BackupDialog::OnAdd()
{
    if (AppendDefaultProject(m_projects) < 0)
        return;
    ShowSelectedProject();
}

void BackupDialog::OnSelchangeProjectList()
{
    ShowSelectedProject();
}

void BackupDialog::OnDestroy()
{
    CDialog::OnDestroy();
    CloseProjectList(m_projects, GetProjectFilePath());
}

void BackupDialog::OnDelete()
{
    int index = m_listProjects.GetCurSel();
    CString name;
    m_listProjects.GetText(index, name);
    CString question;
    question.Format("プロジェクト「%s」の設定データを破棄します。\nよろしいですか？", name.GetString());
    if (AfxMessageBox(question, MB_YESNO) != IDYES)
        return;

    delete GetSelectedProject();
    m_listProjects.DeleteString(index);

    if (m_listProjects.GetCount() == 0) {
        AppendDefaultProject(m_projects);
    } else if (index < m_listProjects.GetCount()) {
        m_listProjects.SetCurSel(index);
    } else {
        m_listProjects.SetCurSel(m_listProjects.GetCount() - 1);
    }
    ShowSelectedProject();
}

void BackupDialog::BrowseFolder(CString Project::*field, CString& member)
{
    Project* project = GetSelectedProject();
    if (!project)
        return;
    FolderPicker picker;
    picker.m_strPath = project->*field;
    if (picker.DoModal() == IDOK) {
        project->*field = picker.m_strPath;
        member = picker.m_strPath;
        UpdateData(FALSE);
    }
}

void BackupDialog::OnBrowseSource()
{
    BrowseFolder(&Project::sourceFolder, m_strSourceFolder);
}

void BackupDialog::OnBrowseBackup()
{
    BrowseFolder(&Project::backupFolder, m_strBackupFolder);
}

void BackupDialog::OnRunBackup()
{
    Project* project = GetSelectedProject();
    if (project && !CheckPathFields(AfxGetWindowTextW(GetDlgItem(IDC_SOURCE_FOLDER)),
                                    AfxGetWindowTextW(GetDlgItem(IDC_BACKUP_FOLDER))))
        return;
    BackupJob job;
    job.Run(project);
}

void BackupDialog::LoadProjects()
{
    LoadProjectList(m_projects, GetProjectFilePath());
    ShowSelectedProject();
}
