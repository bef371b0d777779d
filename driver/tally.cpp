// tally: expands the mixer's compressed tally map (a 16-bit presence mask and
// only the map bytes it names) into the full 16-byte map, logs every frame,
// and hands each map to the publisher, which writes slots 1..128.
// Main window thread only.
#include <windows.h>
#include <string.h>
#include "driver/mixtally.h"
#include "driver/publish.h"
#include "common/common32.h"

int fStartup = 1;

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

        // Published once the bytes that wait are all read: a newer frame among
        // them replaces this map before its publication begins.
        fnPublishMap(bUncompressedData, fStartup);
    }

    fStartup = 0;
    return 0;
}
