// DRIVER: splitting of the infodriver's revertive texts into _ZARNmsg records.
#pragma once
#include <windows.h>

typedef struct _ZARNmsg {
    char szMsgType[3];
    WORD wDevice;
    WORD wIndex;
    WORD wInfo;
    char szInfo[272];
    int  iWorkstation;
} ZARNMSG, *LPZARNMSG, *PZARNMSG;

int fnSplitMsg(LPCSTR lpszRevertive, LPZARNMSG Rev);
