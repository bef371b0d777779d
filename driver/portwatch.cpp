// portwatch: the mixer's serial device going and coming back; see portwatch.h.
#include <windows.h>
#include <stdio.h>
#include "driver/portwatch.h"
#include "driver/mixtally.h"
#include "comms/comms.h"
#include "comms/portset.h"
#include "common/common32.h"
#include "common/zarn_gcd.h"

#define DEVICE_PATH_SIZE 512

enum { REOPEN_TRIED, REOPEN_FILE_GONE, REOPEN_OTHER_PORT };

// All of the following: main window thread only, set by start-up's open.
static char acDevicePath[DEVICE_PATH_SIZE];
static PORTSETTINGS psStartup;      // what start-up opened the port with
static BOOL fStartupSettings;       // psStartup holds them
static BOOL fFileAtStartup;         // the device file was there after start-up's open
// The port's device has gone (noticed once): the port is closed, or about to
// be, and waits for its reopen.
static BOOL fLost;
// The reason last logged for trying no reopen, and its port: said once, not
// at every try.
static int iRefusalLogged = REOPEN_TRIED;
static int iRefusalCom;

// The device file as the profile calls see it: a bare name is looked up in
// the Windows directory, not in the current one.
static BOOL fnDeviceFileThere(void)
{
    char acFull[DEVICE_PATH_SIZE + MAX_PATH];
    if (!fnProfileFilePath(acDevicePath, acFull, sizeof acFull))
        return FALSE;
    DWORD dwAttr = GetFileAttributesA(acFull);
    return dwAttr != INVALID_FILE_ATTRIBUTES && (dwAttr & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

INT_PTR fnOpenMixerPort(HWND hWnd, LPCSTR lpszDeviceFile)
{
    lstrcpynA(acDevicePath, lpszDeviceFile, sizeof acDevicePath);
    fLost = FALSE;
    iRefusalLogged = REOPEN_TRIED;
    INT_PTR hCom = fnOpenPort(hWnd, acDevicePath, "Configuration", 1, 38400, 8, 1, "O", 0, 0);
    fStartupSettings = hCom != -1 && fnOpenedPortSettings(&psStartup);
    // Start-up may have run on defaults with no file it could write: then a
    // missing file is no reason to leave the port closed.
    fFileAtStartup = fnDeviceFileThere();
    return hCom;
}

BOOL fnPortLost(void)
{
    return fLost;
}

BOOL fnPortNoticeLoss(void)
{
    if (fLost || hCommPort == -1 || !GetCommDead32(hCommPort))
        return FALSE;
    fLost = TRUE;
    fnDebugList(hDlg, IDC_DEBUGLIST, "Port lost");
    return TRUE;
}

// A device file that now names another port was edited for the driver's
// next start; one that has gone since start-up (a configuration share out
// of reach) may come back naming another. Neither is a reason to guess.
static int fnReopenRefused(int *piCom)
{
    if (!fnDeviceFileThere())
        return fFileAtStartup ? REOPEN_FILE_GONE : REOPEN_TRIED;
    *piCom = fnProfilePort(acDevicePath, "Configuration", 1);
    return *piCom != psStartup.iPort ? REOPEN_OTHER_PORT : REOPEN_TRIED;
}

BOOL fnPortReopen(HWND hWnd)
{
    int iCom = 0;

    if (!fLost)
        return FALSE;
    if (hCommPort != -1) {
        CloseComm32(hCommPort);
        hCommPort = -1;
    }
    int iWhy = fStartupSettings ? fnReopenRefused(&iCom) : REOPEN_TRIED;
    if (iWhy != REOPEN_TRIED) {
        if (iWhy != iRefusalLogged || iCom != iRefusalCom) {
            char acLine[80];
            if (iWhy == REOPEN_FILE_GONE)
                lstrcpyA(acLine, "Port not reopened: device file gone");
            else
                _snprintf(acLine, sizeof acLine, "Port not reopened: device file names COM%d", iCom);
            acLine[sizeof acLine - 1] = 0;
            fnDebugList(hDlg, IDC_DEBUGLIST, acLine);
            iRefusalLogged = iWhy;
            iRefusalCom = iCom;
        }
        return FALSE;
    }
    iRefusalLogged = REOPEN_TRIED;
    if (!fStartupSettings)
        return FALSE;
    INT_PTR hNew = fnReopenPort(&psStartup);
    if (hNew == -1)
        return FALSE;
    hCommPort = hNew;
    fLost = FALSE;
    EnableCommNotification(hCommPort, hWnd, 1);
    fnDebugList(hDlg, IDC_DEBUGLIST, "Port reopened");
    return TRUE;
}
