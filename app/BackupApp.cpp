#include "app/BackupApp.h"

#include "app/CodePageCheck.h"
#include "ui/BackupDialog.h"

BEGIN_MESSAGE_MAP(BackupApp, CWinApp)
    ON_COMMAND(ID_HELP, CWinApp::OnHelp)
END_MESSAGE_MAP()

BackupApp theApp;

BOOL BackupApp::InitInstance()
{
    if (!ConfirmCodePage() || !ConfirmProgramFolder())
        return FALSE;
    AfxEnableControlContainer(nullptr);
    Enable3dControls();
    {
        BackupDialog dialog(nullptr);
        m_pMainWnd = &dialog;
        dialog.DoModal();
    }
    m_pMainWnd = nullptr;
    return FALSE;
}
