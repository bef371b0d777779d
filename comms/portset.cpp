// Port settings from the device file (fnOpenPort) and the timed line break
// after the output has drained (fnCommBreak).
#include "comms/portset.h"
#include "comms/comms.h"
#include <ctype.h>
#include <stdlib.h>

#define MSG_CAPTION "!! Error !!"
#define MSG_FLAGS   (MB_OK | MB_ICONWARNING)

// The settings of the last successful fnOpenPort. Main thread only.
static PORTSETTINGS psOpened;
static BOOL fOpened;

// Tells the user why the open failed; -1, the failed open's index.
static INT_PTR fnPortMessage(HWND hWnd, LPCSTR lpszText)
{
    MessageBoxA(hWnd, lpszText, MSG_CAPTION, MSG_FLAGS);
    return -1;
}

static const ULONG aulRates[] = {
    110, 150, 300, 600, 1200, 2400, 4800, 9600, 14400, 19200, 38400,
    56000, 57600, 76800, 115200, 128000, 256000
};

static BOOL fnRateSupported(long lSpeed)
{
    for (size_t i = 0; i < sizeof(aulRates) / sizeof(aulRates[0]); i++) {
        if ((long)aulRates[i] == lSpeed)
            return TRUE;
    }
    return FALSE;
}

// A number the way GetPrivateProfileIntA reads one (blanks, a sign, the
// digits at the start; none gives 0), except that a value beyond the range
// of an int is held at its end instead of wrapping round: 4294967313 must not
// become port 17.
static int fnParseInt(const char *psz)
{
    long long llValue = 0;
    int fNegative = 0;

    while (*psz != 0 && (unsigned char)*psz <= ' ')
        psz++;
    if (*psz == '+' || *psz == '-')
        fNegative = *psz++ == '-';
    for (; *psz >= '0' && *psz <= '9'; psz++) {
        if (llValue <= 2147483648LL)
            llValue = llValue * 10 + (*psz - '0');
    }
    if (fNegative)
        llValue = -llValue;
    if (llValue > 2147483647LL)
        return 2147483647;
    if (llValue < -2147483647LL - 1)
        return -2147483647 - 1;
    return (int)llValue;
}

// Integer key: the default when the key is missing or empty.
static int fnReadInt(LPCSTR lpszFile, LPCSTR lpszSection, LPCSTR lpszKey, int iDef)
{
    char szText[32];

    szText[0] = 0;
    GetPrivateProfileStringA(lpszSection, lpszKey, "", szText, sizeof(szText), lpszFile);
    return szText[0] == 0 ? iDef : fnParseInt(szText);
}

int fnProfilePort(LPCSTR lpszFilename, LPCSTR lpszSection, int iDefPort)
{
    return fnReadInt(lpszFilename, lpszSection, "Com", iDefPort);
}

// Reads integer key lpszKey; writes the default back when the value equals it.
static int fnProfileInt(LPCSTR lpszFile, LPCSTR lpszSection, LPCSTR lpszKey, int iDef)
{
    char szText[16];
    int iVal = fnReadInt(lpszFile, lpszSection, lpszKey, iDef);

    if (iVal == iDef) {
        wsprintfA(szText, "%d", iDef);
        WritePrivateProfileStringA(lpszSection, lpszKey, szText, lpszFile);
    }
    return iVal;
}

// Parity letter to the DCB code; -1 for a letter that names no parity.
static int fnParityCode(char c)
{
    switch (c) {
    case 'E': return EVENPARITY;
    case 'M': return MARKPARITY;
    case 'N': return NOPARITY;
    case 'O': return ODDPARITY;
    case 'S': return SPACEPARITY;
    default:  return -1;
    }
}

INT_PTR fnOpenPort(HWND hWnd, LPCSTR lpszFilename, LPCSTR lpszSection, int iDefPort,
                   ULONG lDefSpeed, int iDefDataBits, int iDefStopBits, LPCSTR lpszDefParity,
                   int fDefHardware, int fDefXOnXOff)
{
    char szDefSpeed[32], szSpeed[200], szParity[2], szMsg[128];
    char *pEnd;
    int iPort, iDataBits, iStopBits, iParity;
    long lSpeed;
    BOOL fSpeedRead;
    char cParity;
    INT_PTR hCom;

    if (lpszDefParity == NULL)
        lpszDefParity = "O";

    iPort = fnProfileInt(lpszFilename, lpszSection, "Com", iDefPort);

    wsprintfA(szDefSpeed, "%lu", lDefSpeed);
    GetPrivateProfileStringA(lpszSection, "Speed", szDefSpeed, szSpeed, sizeof(szSpeed), lpszFilename);
    lSpeed = strtol(szSpeed, &pEnd, 10);
    fSpeedRead = pEnd != szSpeed;
    if (fSpeedRead && (ULONG)lSpeed == lDefSpeed)
        WritePrivateProfileStringA(lpszSection, "Speed", szDefSpeed, lpszFilename);

    iDataBits = fnProfileInt(lpszFilename, lpszSection, "DataBits", iDefDataBits);
    iStopBits = fnProfileInt(lpszFilename, lpszSection, "StopBits", iDefStopBits);

    GetPrivateProfileStringA(lpszSection, "Parity", lpszDefParity, szParity, sizeof(szParity), lpszFilename);
    cParity = (char)toupper((unsigned char)szParity[0]);
    if (lpszDefParity[0] == cParity)
        WritePrivateProfileStringA(lpszSection, "Parity", lpszDefParity, lpszFilename);

    if (iPort == 0)
        return -1;

    // A speed that is no number and a letter that names no parity give
    // nothing to open the line with: refused before the port is touched.
    // Every other value goes to the open as read; a line that refuses it
    // fails the open, and that box names the port.
    if (!fSpeedRead)
        return fnPortMessage(hWnd, "Invalid Baud Rate");
    iParity = fnParityCode(cParity);
    if (iParity < 0)
        return fnPortMessage(hWnd, "Invalid Parity");
    iStopBits = iStopBits == 2 ? TWOSTOPBITS : ONESTOPBIT;

    hCom = OpenComm32((UINT)iPort, lSpeed, iDataBits, iStopBits, iParity);
    if (hCom == -1) {
        wsprintfA(szMsg, "COM%d does not exist\nor is already in use\nOh Dear!", iPort);
        return fnPortMessage(hWnd, szMsg);
    }
    if (!fnRateSupported(lSpeed)) {
        CloseComm32(hCom);      // the caller ends start-up: leave no port open
        return fnPortMessage(hWnd, "Invalid Baud Rate");
    }

    // Read and written back, but not applied: XON/XOFF would take the bytes
    // 0x11 and 0x13 out of the mixer's binary frames, and CTS/DSR on a line
    // without those wires would hold every write for its whole time-out.
    fnProfileInt(lpszFilename, lpszSection, "XOnXOff", fDefXOnXOff);
    fnProfileInt(lpszFilename, lpszSection, "Hardware", fDefHardware);

    FlushComm(hCom, PURGE_RXCLEAR);
    FlushComm(hCom, PURGE_TXCLEAR);
    psOpened = { iPort, lSpeed, iDataBits, iStopBits, iParity };
    fOpened = TRUE;
    return hCom;
}

BOOL fnOpenedPortSettings(PORTSETTINGS *pps)
{
    if (fOpened)
        *pps = psOpened;
    return fOpened;
}

INT_PTR fnReopenPort(const PORTSETTINGS *pps)
{
    INT_PTR hCom = OpenComm32((UINT)pps->iPort, pps->lSpeed, pps->iDataBits, pps->iStopBits, pps->iParity);
    if (hCom != -1) {
        FlushComm(hCom, PURGE_RXCLEAR);
        FlushComm(hCom, PURGE_TXCLEAR);
    }
    return hCom;
}

void fnCommBreak(HWND hWnd, INT_PTR hCommPort, UINT uBaudRate, UINT uBreakLength)
{
    COMSTAT cs;
    UINT uBytesPerSec, uWaitPerByte;
    DWORD dwStart, dwLimit;

    (void)hWnd;     // the waits are plain sleeps of the calling thread
    if (uBaudRate < 10)
        uBaudRate = 10;
    uBytesPerSec = uBaudRate / 10;
    uWaitPerByte = (UINT)(1.0 / uBytesPerSec * 1000.0);

    ZeroMemory(&cs, sizeof(cs));
    GetCommError(hCommPort, &cs);
    // A line that never drains (held by flow control, stuck device) must not
    // hold the main thread for ever: allow twice the time the queue needs at
    // this rate, plus a second.
    dwLimit = 1000 + (DWORD)(2ull * cs.cbOutQue * 10000 / uBaudRate);
    dwStart = GetTickCount();
    while (cs.cbOutQue != 0 && GetTickCount() - dwStart < dwLimit) {
        Sleep(uWaitPerByte * cs.cbOutQue);
        ZeroMemory(&cs, sizeof(cs));
        GetCommError(hCommPort, &cs);
    }

    OutputDebugStringA("MIXTALLY COMM BREAK\n");
    CommBreak32(hCommPort, 1);
    Sleep(uBreakLength);
    CommBreak32(hCommPort, 0);
}
