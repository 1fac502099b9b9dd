// Resource identifiers of Kestelvarnholm.
#pragma once

#define IDD_ABOUTBOX    100
#define IDS_ABOUTBOX    101
#define IDD_MAIN_DIALOG 102
#define IDR_MAINFRAME   128

#define IDM_ABOUTBOX 0x0010

#define IDC_PROJECT_LIST  1000
#define IDC_ADD           1001
#define IDC_SOURCE_FOLDER 1002
#define IDC_BACKUP_FOLDER 1003
#define IDC_IGNORE_EXT    1004
#define IDC_RUN_BACKUP    1005
#define IDC_IGNORE_FOLDER 1006
#define IDC_BROWSE_SOURCE 1007
#define IDC_BROWSE_BACKUP 1008
#define IDC_DELETE        1009
#define IDC_PROJECT_NAME  1010

#ifndef IDC_STATIC
#define IDC_STATIC (-1)
#endif
