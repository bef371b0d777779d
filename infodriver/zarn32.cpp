// ZARN32: request/reply transport between applications over WM_COPYDATA.
//
// A send packs (uMsg << 16 | wParam) into dwData and either a 513-byte text
// block or a 16-byte "%08lx" numeric block, and blocks in SendMessageA. The
// peer's ZARN32RxMessage delivers the request to its own window as a plain
// message and answers with a COPYDATA_REPLY sent back while our send is still
// waiting; that reply lands in our ZARN32RxMessage (nested in the send) and is
// recorded in acCopyDataResult / lCopyDataResult and handed to the send it
// answers. Sends nest; replies are consumed innermost first.
//
// Everything here runs on the thread that owns the local window.
#include "infodriver/zarn32.h"

#include <string.h>
#include <stdio.h>
#include <stdlib.h>

// Written by the receive side of a reply, read by the send that waits for it.
// Window thread only; byte 513 is never written, so the text is terminated.
char acCopyDataResult[514];
LONG lCopyDataResult;

// One request send waiting for its reply, on the sender's own stack for the
// length of its SendMessageA. The reply is handed over as it arrives, so a
// later exchange nested in the same wait (a request from a third window)
// cannot replace it, and a send that got none knows it.
typedef struct tagZARN32WAIT {
    int fReplied;
    LONG lResult;
    char *pcText;       // caller's buffer for the reply text, or NULL
    int cbText;         // bytes of the reply text it takes (0..513)
} ZARN32WAIT;

// The innermost waiting send, or NULL. Saved and restored around each
// request's SendMessageA; the send of a reply waits for nothing and leaves
// it alone (a peer in this same process answers from inside such a send).
// Window thread only.
static ZARN32WAIT *pWaiting;

// The send in progress. SendMessageA copies the block into the message when it
// is sent, so a nested send may reuse these while an outer one still waits.
static COPYDATASTRUCT CDS;
static char acNumericData[ZARN32_NUM_BLOCK];
static char acTextBlock[ZARN32_TEXT_BLOCK];

// The text a reply to a text request sends back (filled after the handler).
static char acStr[ZARN32_TEXT_BLOCK + 1];

// Copies at most cbMax bytes of text up to its terminator into acDest (which
// holds cbMax + 1 bytes), zero-fills the rest and terminates. Never reads past
// cbMax bytes of lpSrc, so a short or unterminated block is safe.
static void fnCopyBlockText(char *acDest, const void *lpSrc, DWORD cbSrc, DWORD cbMax)
{
    DWORD cb = cbSrc < cbMax ? cbSrc : cbMax;
    DWORD i = 0;
    const char *pc = (const char *)lpSrc;

    if (pc != NULL) {
        for (; i < cb && pc[i] != '\0'; i++)
            acDest[i] = pc[i];
    }
    memset(acDest + i, 0, cbMax + 1 - i);
}

LONG ZARN32SendMessage(HWND hWndThisApp, HWND hWndTargetApp, UINT uMsg, UINT wParam,
                       LPARAM lParam, int iReturnDataLen, int iDataType)
{
    CDS.dwData = ((ULONG_PTR)(uMsg & 0xFFFF) << 16) | (wParam & 0xFFFF);
    if (iDataType == ZARN32_TEXT) {
        // Only the text is taken: a caller may pass a constant such as "1".
        const char *pcText = (const char *)lParam;
        size_t cch = 0;
        if (pcText != NULL) {
            while (cch < ZARN32_TEXT_BLOCK - 1 && pcText[cch] != '\0')
                cch++;
            memcpy(acTextBlock, pcText, cch);
        }
        // The bytes after the terminator carry nothing: send zeros, not stale text.
        memset(acTextBlock + cch, 0, ZARN32_TEXT_BLOCK - cch);
        CDS.cbData = ZARN32_TEXT_BLOCK;
        CDS.lpData = acTextBlock;
    } else {
        // A buffer of 17 takes the terminator snprintf adds; 16 bytes travel.
        char acNum[ZARN32_NUM_BLOCK + 1];
        memset(acNum, 0, sizeof acNum);
        snprintf(acNum, sizeof acNum, "%08lx", (unsigned long)(DWORD)lParam);
        memcpy(acNumericData, acNum, ZARN32_NUM_BLOCK);
        CDS.cbData = ZARN32_NUM_BLOCK;
        CDS.lpData = acNumericData;
    }

    if ((uMsg & 0xFFFF) == COPYDATA_REPLY) {
        SendMessageA(hWndTargetApp, WM_COPYDATA, (WPARAM)hWndThisApp, (LPARAM)&CDS);
        return lCopyDataResult;
    }

    // A window that is gone makes SendMessageA fail at once, and a peer that
    // does not answer through this transport returns without a reply: in
    // both cases the flag stays clear and nothing stale is handed out.
    ZARN32WAIT Wait = { 0, 0, NULL, 0 };
    if (iDataType == ZARN32_TEXT && iReturnDataLen > 0 && lParam != 0) {
        Wait.pcText = (char *)lParam;
        Wait.cbText = iReturnDataLen > ZARN32_TEXT_BLOCK ? ZARN32_TEXT_BLOCK : iReturnDataLen;
    }
    ZARN32WAIT *pOuter = pWaiting;
    pWaiting = &Wait;
    SendMessageA(hWndTargetApp, WM_COPYDATA, (WPARAM)hWndThisApp, (LPARAM)&CDS);
    pWaiting = pOuter;

    return Wait.fReplied ? Wait.lResult : ZARN32_NO_REPLY;
}

void ZARN32RxMessage(HWND hWndThisApp, HWND hWndTargetApp, PCOPYDATASTRUCT lpCDS)
{
    UINT uMsg, wParam;
    LPARAM lParam;
    LRESULT lResult;

    if (lpCDS == NULL)
        return;
    uMsg = (UINT)((lpCDS->dwData >> 16) & 0xFFFF);
    wParam = (UINT)(lpCDS->dwData & 0xFFFF);

    if (uMsg == COPYDATA_REPLY) {
        if (lpCDS->cbData != ZARN32_NUM_BLOCK) {
            // A peer that sent fewer than 513 bytes: the rest reads as zeros.
            DWORD cb = lpCDS->cbData < ZARN32_TEXT_BLOCK ? lpCDS->cbData : ZARN32_TEXT_BLOCK;
            if (lpCDS->lpData != NULL)
                memcpy(acCopyDataResult, lpCDS->lpData, cb);
            else
                cb = 0;
            memset(acCopyDataResult + cb, 0, ZARN32_TEXT_BLOCK - cb);
        }
        lCopyDataResult = (LONG)wParam;
        if (pWaiting != NULL) {
            // A numeric reply carries no text: the caller's buffer stays as it was.
            pWaiting->fReplied = 1;
            pWaiting->lResult = lCopyDataResult;
            if (pWaiting->pcText != NULL && lpCDS->cbData != ZARN32_NUM_BLOCK)
                memcpy(pWaiting->pcText, acCopyDataResult, (size_t)pWaiting->cbText);
        }
        return;
    }

    if (lpCDS->cbData == ZARN32_NUM_BLOCK) {
        // "%08lx": eight hex digits; the zero bytes after them carry nothing.
        char acNum[8 + 1];
        fnCopyBlockText(acNum, lpCDS->lpData, lpCDS->cbData, 8);
        lParam = (LPARAM)(LONG)strtoul(acNum, NULL, 16);
        lResult = SendMessageA(hWndThisApp, uMsg, wParam, lParam);
        ZARN32SendMessage(hWndThisApp, hWndTargetApp, COPYDATA_REPLY, (UINT)lResult, lParam, 0, 0);
        return;
    }

    // The handler gets its own terminated 513-byte block (on this stack frame,
    // since requests nest): it may write a 512-character answer into it even
    // when the peer sent a shorter or unterminated block.
    char acBlock[ZARN32_TEXT_BLOCK + 1];
    fnCopyBlockText(acBlock, lpCDS->lpData, lpCDS->cbData, ZARN32_TEXT_BLOCK);
    lResult = SendMessageA(hWndThisApp, uMsg, wParam, (LPARAM)acBlock);
    acBlock[ZARN32_TEXT_BLOCK] = '\0';
    fnCopyBlockText(acStr, acBlock, ZARN32_TEXT_BLOCK, ZARN32_TEXT_BLOCK);
    ZARN32SendMessage(hWndThisApp, hWndTargetApp, COPYDATA_REPLY, (UINT)lResult, (LPARAM)acStr, 0,
                      ZARN32_TEXT);
}
