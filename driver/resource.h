// resource: identifiers of the driver's resources (menu, panel, icon) and of
// the commands it accepts from its menus and from other processes.
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
