// Port settings from the device file: open the driver's port with the keys of
// one INI section (missing keys written back with their defaults), and send a
// timed line break once the output has drained.
#pragma once
#include <windows.h>

INT_PTR fnOpenPort(HWND hWnd, LPCSTR lpszFilename, LPCSTR lpszSection, int iDefPort,
                   ULONG lDefSpeed, int iDefDataBits, int iDefStopBits, LPCSTR lpszDefParity,
                   int fDefHardware, int fDefXOnXOff);
// As fnOpenPort, for a reopen at run time: shows no message box (the open
// simply fails with -1), and is otherwise the same, device file included.
INT_PTR fnOpenPortQuiet(HWND hWnd, LPCSTR lpszFilename, LPCSTR lpszSection, int iDefPort,
                        ULONG lDefSpeed, int iDefDataBits, int iDefStopBits, LPCSTR lpszDefParity,
                        int fDefHardware, int fDefXOnXOff);
// The port number that fnOpenPort takes from the section ("Com", the default
// when missing or empty); the file is not written.
int fnProfilePort(LPCSTR lpszFilename, LPCSTR lpszSection, int iDefPort);
void fnCommBreak(HWND hWnd, INT_PTR hCommPort, UINT uBaudRate, UINT uBreakLength);
