// Templates and controls of the dialogs that the framework tests create.
#pragma once
#define IDD_TEST_AT_ORIGIN 300
#define IDC_TEST_EDIT_A    310
#define IDC_TEST_EDIT_B    311
#define IDC_TEST_LIST      312
#define IDC_TEST_BUTTON    313
#define IDC_TEST_THROW     314
