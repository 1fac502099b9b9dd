// The application object: shows the main dialog and ends when it closes.
#pragma once

#include "framework/CWinApp.h"

class BackupApp : public CWinApp
{
public:
    BackupApp() = default;

    BOOL InitInstance() override;

    DECLARE_MESSAGE_MAP()
};
