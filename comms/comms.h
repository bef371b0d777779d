// COMMS: the serial port layer. A table of up to 256 ports addressed by
// index (port number - 1, -1 for none); one receive thread per open port
// fills a 16 KB ring buffer and posts WM_COMMNOTIFY to a registered window;
// writes run on the caller's thread.
#pragma once
#include <windows.h>

#ifndef WM_COMMNOTIFY
#define WM_COMMNOTIFY 0x0044
#endif

#define COMMS_BUFSIZE 16384
#define COMMS_MAXPORTS 256

// ---- receive ring buffer
typedef struct tagBUFFER {
    BYTE data[COMMS_BUFSIZE];
    HANDLE hSema;               // named "%XBUFSEM" semaphore guarding the indices
    UINT iBufWritePtr;          // written by the receive thread, under hSema
    UINT iBufReadPtr;           // written by the main thread, under hSema
} BUFFER, *LPBUFFER;

HGLOBAL bInitBuf(UINT iTok);
int  bAddData(HGLOBAL hGBuf, const BYTE *data, UINT iLen);
// As bAddData, but returns how many of the bytes were stored: a full buffer
// refuses the rest (unread bytes are never overwritten); 0 also when hGBuf is
// 0 or the semaphore was not obtained.
UINT bAddDataCount(HGLOBAL hGBuf, const BYTE *data, UINT iLen);
UINT bGetData(HGLOBAL hGBuf, BYTE *data, UINT iLen);
int  iRemainByteEx(HGLOBAL hGBuf);
void bKillBuf(HGLOBAL hGBuf);
void bKillBufEx(HGLOBAL *phGBuf);
int  bAddByte(LPBUFFER lpBuf, BYTE databyte);
int  bGetByte(LPBUFFER lpBuf, BYTE *data);
UINT iRemainByte(LPBUFFER lpBuf);

// ---- port table
typedef struct tagPORTINFO {
    HANDLE hComPort;            // non-zero: entry in use
    LONG lBaudRate;
    HANDLE hThread;
    HGLOBAL hInBuf;
    OVERLAPPED os;
    HWND hWndNotify;            // written by the main thread, read by the receive thread
    int fNotifyInProgress;      // both threads; see rxthread.cpp for the guard
    DWORD dwTimeOfNotify;       // receive thread
    COMMTIMEOUTS to;
    COMMPROP cp;
    UINT iComPort;              // 1..256
    DWORD id;
    int iToRead;                // both threads; see rxthread.cpp for the guard
    HANDLE hStarted;
} PORTINFO, *LPPORTINFO;

extern HGLOBAL hGPortInfo;                  // main thread; 0 while no table exists
extern volatile int bReading[COMMS_MAXPORTS]; // main thread writes, receive thread reads
extern volatile int iBTR[COMMS_MAXPORTS];     // main thread writes, receive thread reads

// CancelIoEx of kernel32, with which the close ends the read that the
// receive thread has pending; NULL where the system has none (the close then
// aborts with PURGE_RXABORT alone). Tests replace it with one that cancels
// nothing, to play a driver that leaves a cancelled request pending.
typedef BOOL (WINAPI *PFNCANCELIOEX)(HANDLE hFile, LPOVERLAPPED lpOverlapped);
extern PFNCANCELIOEX pfnCommsCancelIoEx;
// The tick count (GetTickCount) by which the receive thread times the
// notification's re-arm and the close its wait for that thread. Tests put
// in a clock of their own.
extern DWORD (WINAPI *pfnCommsTicks)(void);

INT_PTR OpenComm32(UINT iPort, LONG lBaudRate, int iDataBits, int iStopBits, int iParity);
void CloseComm32(INT_PTR hCom);
int  ConfigComm32(LPPORTINFO pPortInfo, LONG lBaudRate, int iDataBits, int iStopBits, int iParity);
int  GetCommState32(INT_PTR hCom, DCB *pdcb);
int  SetCommState32(INT_PTR hCom, DCB *pdcb);
int  ConfigCommDialog(INT_PTR hCom, HWND hWnd);
int  FlushComm(INT_PTR hCom, ULONG ulFlags);
// The device's error bits since the last call, including those that the
// receive thread cleared while reading; cbInQue is the ring buffer's count.
ULONG GetCommError(INT_PTR hCom, COMSTAT *lpcs);
void CommBreak32(INT_PTR hCom, int b);

// ---- receive thread, notification and write
int  EnableCommNotification(INT_PTR hCom, HWND hWndMain, int iBNot);
int  ReadComm(INT_PTR hCom, BYTE *bDest, WORD wBytes);
int  WriteComm(INT_PTR hCom, const BYTE *bData, WORD wBytes);
DWORD WINAPI ComRxThread(LPVOID lpdwParam);
void ProcessBytes(INT_PTR hCom, const BYTE *buf, DWORD dwBytes);
int  ProcessCommError(DWORD dwError, HANDLE hCom);
// The layer's trace hook (comms/commsods.cpp drops every line).
void commsODS(LPCSTR lpOutputString);
// Bytes the receive thread of port index hCom read from the device but could
// not keep (ring buffer full or its semaphore not obtained), since the port
// was opened; 0 for a bad index or no table.
DWORD GetCommDropped32(INT_PTR hCom);
// Dead device: once a read or write on port index hCom failed for a reason
// other than a time-out (the device was removed, the far end of its line
// closed), the platform's error code of that first failure. Whichever finds
// it first, the receive thread or WriteComm, also posts one WM_COMMNOTIFY to
// the registered window, so that its owner hears of it at once. It stays set
// until the port is closed: only a new open brings the device back. 0 while
// the device works, and for a bad index, a free entry or no table.
int GetCommDead32(INT_PTR hCom);
