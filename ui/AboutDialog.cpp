#include "ui/AboutDialog.h"

#include "res/resource.h"

AboutDialog::AboutDialog(CWnd* pParent) : CDialog(IDD_ABOUTBOX, pParent) {}

void AboutDialog::DoDataExchange(CDataExchange* pDX)
{
    CDialog::DoDataExchange(pDX);
}

BEGIN_MESSAGE_MAP(AboutDialog, CDialog)
END_MESSAGE_MAP()
