// The About box, opened from the main dialog's system menu.
#pragma once

#include "framework/CDialog.h"

class AboutDialog : public CDialog
{
public:
    explicit AboutDialog(CWnd* pParent = nullptr);

protected:
    void DoDataExchange(CDataExchange* pDX) override;

    DECLARE_MESSAGE_MAP()
};
