// resource: the driver's resource, control and command ids, in one place for
// the resource script, the code and the tests. Other programs send the
// commands (WM_COMMAND) and read the controls, so the numbers are fixed.
#pragma once

#define IDR_MAINMENU   1
#define IDD_PANEL      1
#define IDI_MIXTALLY   1

// Maintenance commands: no menu carries them; they arrive as WM_COMMAND from
// outside the process.
#define IDM_MIXER_CMD1   1
#define IDM_MIXER_CMD2   2
#define IDM_MIXER_START  3
#define IDM_TEST_FRAME   4
#define IDM_TEST_CLEAR   5

#define IDM_ABOUT  95
#define IDM_EXIT   96
#define IDM_DEBUG  97

// The panel's status fields and the debug list.
#define IDC_COM       103
#define IDC_NAME      104
#define IDC_NETTX     105
#define IDC_COMMS     110
#define IDC_ERRORS    111
#define IDC_DEBUGLIST 1001
