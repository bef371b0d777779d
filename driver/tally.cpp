// tally: expands the mixer's compressed tally map (a 16-bit presence mask and
// only the map bytes it names) into the full 16-byte map and publishes every
// tally bit as "1"/"0" into slots 1..128 of the driver's infodriver.
// Main window thread only.
#include <windows.h>
#include <string.h>
#include "driver/mixtally.h"
#include "driver/infowatch.h"
#include "infodriver/exinfdrv.h"
#include "common/common32.h"

// The start-up fill: a first tally frame that follows some other frame is
// compared against all-ones, so only bytes that differ from it get examined.
BYTE bPreviousUncompressedData[16] = {
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
    0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF };
int fStartup = 1;
int fMapDecoded = 0;
DWORD uNetTX = 0;

#define TALLY_MAP_BYTES 16
#define LOG_LINE_SIZE   1024

static const char acHex[] = "0123456789abcdef";

// Appends "%02x " for one byte at lpszLine[uLen]; returns the new length.
// The callers size their buffers for the longest frame (10 + 3 * 255 chars).
static UINT fnAppendHexByte(char *lpszLine, UINT uLen, BYTE b)
{
    lpszLine[uLen++] = acHex[b >> 4];
    lpszLine[uLen++] = acHex[b & 0x0F];
    lpszLine[uLen++] = ' ';
    lpszLine[uLen] = 0;
    return uLen;
}

int fnSplitToSlotsBYTE(BYTE bIn, int iDeviceNo, UINT uStartSlot, int fCheck)
{
    BYTE bMask = 1;
    for (UINT i = 0; i < 8; i++, bMask = (BYTE)(bMask << 1)) {
        LPCSTR lpszText = (bIn & bMask) ? "1" : "0";
        if (fCheck) {
            if (fnCheckSlot(iDeviceNo, lpszText, (int)(uStartSlot + i), 0))
                uNetTX++;
        } else if (fnSetSlot(iDeviceNo, (int)(uStartSlot + i), lpszText, 0) == 0) {
            uNetTX++;      // only a write the infodriver answered
        }
    }
    return 0;
}

int fnParseRxData(BYTE *InBuf, UINT uRxCount)
{
    (void)uRxCount;     // the count byte InBuf[0] alone says how long the frame is
    char acLine[LOG_LINE_SIZE];
    UINT uCount = InBuf[0];

    // Every frame is logged, tally frame or not.
    lstrcpyA(acLine, "Parse: ");
    UINT uLen = fnAppendHexByte(acLine, 7, (BYTE)uCount);
    for (UINT i = 1; i <= uCount; i++)
        uLen = fnAppendHexByte(acLine, uLen, InBuf[i]);
    OutputDebugStringA(acLine);
    fnDebugList(hDlg, IDC_DEBUGLIST, acLine);

    if (uCount >= 5 && InBuf[1] == 0x24 && InBuf[2] == 0x91 && InBuf[3] == 0xFF) {
        WORD indexWord = (WORD)(InBuf[4] * 256 + InBuf[5]);
        UINT uNextByte = 6;
        BYTE bUncompressedData[TALLY_MAP_BYTES];
        memset(bUncompressedData, 0, sizeof bUncompressedData);

        // Highest map byte first. A mask bit whose byte lies past the frame
        // takes the zero that follows the frame in the caller's buffer (at
        // most index 21, inside every caller's buffer).
        for (int x = TALLY_MAP_BYTES - 1; x >= 0; x--) {
            if (indexWord & (1u << x))
                bUncompressedData[x] = InBuf[uNextByte++];
        }

        lstrcpyA(acLine, "Uncompressed data :");
        uLen = 19;
        for (int x = 0; x < TALLY_MAP_BYTES; x++)
            uLen = fnAppendHexByte(acLine, uLen, bUncompressedData[x]);
        fnDebugList(hDlg, IDC_DEBUGLIST, acLine);

        for (UINT x = 0; x < TALLY_MAP_BYTES; x++) {
            if (fStartup)
                fnSplitToSlotsBYTE(bUncompressedData[x], iDeviceNo, 8 * x + 1, 0);
            else if (bUncompressedData[x] != bPreviousUncompressedData[x])
                fnSplitToSlotsBYTE(bUncompressedData[x], iDeviceNo, 8 * x + 1, 1);
            bPreviousUncompressedData[x] = bUncompressedData[x];
        }
        fMapDecoded = 1;
        fnInfodrivWatchExchanges();
    }

    fStartup = 0;
    return 0;
}
