// portwatch: the mixer's serial device going and coming back. The serial
// layer reports a device that has died (a USB adapter pulled out, the far
// end of its line closed); the watch notices it once, closes the port, and
// opens it again with the settings start-up opened it with -- never from a
// fresh read of the device file, which run time leaves alone. While the
// device file now names another port, or has gone since start-up, no reopen
// is tried until the driver's next start. Main window thread only.
#pragma once
#include <windows.h>

// Start-up's open of the mixer's port with the device file's settings; the
// settings and the file's path are kept for the reopens. -1 after the
// open's own box.
INT_PTR fnOpenMixerPort(HWND hWnd, LPCSTR lpszDeviceFile);
// Set from a loss until the reopen: the port is closed, or about to be.
BOOL fnPortLost(void);
// Notices, once per loss, that the open port's device has died: "Port
// lost". TRUE when this call noticed.
BOOL fnPortNoticeLoss(void);
// While lost: closes the dead port and tries to open it again, registering
// the main window for notifications ("Port reopened"). TRUE when the port
// is open again; FALSE while the device is missing or the port is taken
// (tried again at the next call), or while the device file says no.
BOOL fnPortReopen(HWND hWnd);
