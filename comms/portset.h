// Port settings from the device file: open the driver's port with the keys of
// one INI section (missing keys written back with their defaults), and send a
// timed line break once the output has drained.
#pragma once
#include <windows.h>

INT_PTR fnOpenPort(HWND hWnd, LPCSTR lpszFilename, LPCSTR lpszSection, int iDefPort,
                   ULONG lDefSpeed, int iDefDataBits, int iDefStopBits, LPCSTR lpszDefParity,
                   int fDefHardware, int fDefXOnXOff);
// The line settings of an open, as handed to OpenComm32 (port number and the
// line codes): what a reopen at run time uses again, without reading or
// writing the device file.
typedef struct tagPORTSETTINGS {
    int iPort;
    LONG lSpeed;
    int iDataBits;
    int iStopBits;      // ONESTOPBIT, TWOSTOPBITS
    int iParity;        // NOPARITY ... SPACEPARITY
} PORTSETTINGS;
// The settings of the last fnOpenPort that succeeded; FALSE when none did.
BOOL fnOpenedPortSettings(PORTSETTINGS *pps);
// Opens the port again with exactly those settings and purges both device
// queues, as fnOpenPort ends: the index, or -1 (no message box, no file).
INT_PTR fnReopenPort(const PORTSETTINGS *pps);
// The port number fnOpenPort would take from the section ("Com", held at an
// int's range, the default when missing or empty); the file is not written.
int fnProfilePort(LPCSTR lpszFilename, LPCSTR lpszSection, int iDefPort);
void fnCommBreak(HWND hWnd, INT_PTR hCommPort, UINT uBaudRate, UINT uBreakLength);
