// ZARN32: request/reply transport between applications over WM_COPYDATA.
// A request carries (uMsg << 16 | wParam) in dwData and a 513-byte text block
// or a 16-byte "%08lx" numeric block; the peer answers with COPYDATA_REPLY
// sent back while the request is still being handled (nested in the send).
#pragma once
#include <windows.h>

#define COPYDATA_REPLY     2984
#define ZARN32_TEXT_BLOCK  513
#define ZARN32_NUM_BLOCK   16
#define ZARN32_TEXT        1     // iDataType: text; any other value: numeric

// Transport state: main (window) thread only.
extern char acCopyDataResult[514];   // last text reply; byte 513 stays 0
extern LONG lCopyDataResult;         // result code of the last reply

LONG ZARN32SendMessage(HWND hWndThisApp, HWND hWndTargetApp, UINT uMsg, UINT wParam,
                       LPARAM lParam, int iReturnDataLen, int iDataType);
void ZARN32RxMessage(HWND hWndThisApp, HWND hWndTargetApp, PCOPYDATASTRUCT lpCDS);
