// ZARN32: request/reply transport between applications over WM_COPYDATA.
// A request carries (uMsg << 16 | wParam) in dwData and a 513-byte text block
// or a 16-byte "%08lx" numeric block; the peer answers with COPYDATA_REPLY
// sent back while the request is still being handled (nested in the send).
// A send knows whether its own reply came: without one (the peer window is
// gone, the send failed, or the peer answered outside this transport) it
// returns ZARN32_NO_REPLY and leaves the caller's buffer as it was.
#pragma once
#include <windows.h>

#define COPYDATA_REPLY     2984
#define ZARN32_TEXT_BLOCK  513
#define ZARN32_NUM_BLOCK   16
#define ZARN32_TEXT        1     // iDataType: text; any other value: numeric
#define ZARN32_NO_REPLY    (-1L) // ZARN32SendMessage: no reply arrived during the send

// Transport state: main (window) thread only. A record of the last reply
// received, whoever it answered; a send hands out only its own reply.
extern char acCopyDataResult[514];   // last text reply; byte 513 stays 0
extern LONG lCopyDataResult;         // result code of the last reply

// Returns the result code of the reply to this request (0..65535), or
// ZARN32_NO_REPLY; a text reply's first iReturnDataLen bytes (at most 513)
// land in the caller's buffer only when the reply came. A send of a reply
// (uMsg COPYDATA_REPLY) waits for nothing and returns lCopyDataResult.
LONG ZARN32SendMessage(HWND hWndThisApp, HWND hWndTargetApp, UINT uMsg, UINT wParam,
                       LPARAM lParam, int iReturnDataLen, int iDataType);
void ZARN32RxMessage(HWND hWndThisApp, HWND hWndTargetApp, PCOPYDATASTRUCT lpCDS);
