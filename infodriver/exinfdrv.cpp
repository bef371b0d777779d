// EXINFDRV: the driver's client of its infodriver.
//
// A hidden child window ("_extinfodriv") of the main window is the driver's
// end of the link: the hook message names it (by the low 16 bits of its
// handle), slot reads and writes go out from it through the ZARN32 transport,
// and the infodriver's replies, revertives and close request arrive at it.
#include "infodriver/exinfdrv.h"
#include "infodriver/zarn32.h"

#include <stdio.h>
#include <string.h>

#define EXINF_MAX_DEVICE   999
#define EXINF_SLOT_READ    256   // bytes of the reply text that a slot read copies
#define EXINF_MAX_SLOT     0x7FFF
#define EXINF_REHOOK_WAIT  200   // ms a run-time hook waits on any one window

// Client state: written and read on the main window's thread only.
HWND hIDWnd[1000];
HWND hInfodrivWnd;
HWND hIDTemp;
INFOCALLBACK fnInfodrivCallback;
DWORD uExtInfodrivNoReply;
DWORD uExtInfodrivAnswered;
DWORD uExtInfodrivMissRun;

static const char szHookClass[] = "_extinfodriv";

// Set while the transport delivers a copy-data revertive to the hook window,
// taken by that delivery. Main window thread only.
static int fRevertiveDelivery;

int fnInitExtInfodriv(HWND hWnd, INFOCALLBACK fnCallback)
{
    memset(hIDWnd, 0, sizeof hIDWnd);
    if (fnInitExtInfodrivWindow(hWnd) != 0)
        return 1;
    fnInfodrivCallback = fnCallback;
    return 0;
}

int fnInitExtInfodrivWindow(HWND hWnd)
{
    WNDCLASSA wc;
    HINSTANCE hInstance = (HINSTANCE)GetWindowLongPtrA(hWnd, GWLP_HINSTANCE);

    memset(&wc, 0, sizeof wc);
    wc.lpfnWndProc = fnExtInfodrivProc;
    wc.hInstance = hInstance;
    wc.hIcon = LoadIconA(NULL, (LPCSTR)IDI_APPLICATION);
    wc.hCursor = LoadCursorA(NULL, (LPCSTR)IDC_ARROW);
    wc.hbrBackground = (HBRUSH)GetStockObject(WHITE_BRUSH);
    wc.lpszClassName = szHookClass;
    RegisterClassA(&wc);   // fails harmlessly when the class is already registered

    hInfodrivWnd = CreateWindowExA(0, szHookClass, "", WS_CHILD, 0, 0, 100, 100, hWnd, NULL,
                                   hInstance, NULL);
    return hInfodrivWnd == NULL ? 1 : 0;
}

// IDMSG_HOOK goes to every top-level window in turn. A broadcast through
// HWND_BROADCAST would be simpler, but NT (and Wine) broadcast only messages
// below WM_USER or from 0xC000 up, so 2724 would reach nobody. Each send is
// synchronous, so an answer (IDMSG_HOOKED) has arrived when EnumWindows ends.
static BOOL CALLBACK fnHookEnumProc(HWND hWnd, LPARAM lParam)
{
    SendMessageA(hWnd, IDMSG_HOOK, (WPARAM)((UINT_PTR)hInfodrivWnd & 0xFFFF), lParam);
    return TRUE;
}

int fnCreateExtInfodriv(int iDeviceNo)
{
    char szMsg[128];

    hIDTemp = NULL;
    if (iDeviceNo > EXINF_MAX_DEVICE || iDeviceNo < 1)
        return 1;
    EnumWindows(fnHookEnumProc, (LPARAM)((iDeviceNo | IDMSG_HOOK_DEVICE) & 0xFFFF));
    if (hIDTemp == NULL) {
        snprintf(szMsg, sizeof szMsg, "Cannot hook into (external) infodriver %d", iDeviceNo);
        MessageBoxA(NULL, szMsg, "Error", MB_ICONHAND | MB_OK);
        return 1;
    }
    hIDWnd[iDeviceNo] = hIDTemp;
    return 0;
}

// The run-time hook goes to the same windows, but a window of another
// application that hangs must not hold the tally driver: each send waits at
// most EXINF_REHOOK_WAIT ms, and one to a window the system already takes
// for hung returns at once. An answer that comes after its wait has ended
// sets hIDTemp outside any hook, which is harmless: each hook clears it first.
static BOOL CALLBACK fnRehookEnumProc(HWND hWnd, LPARAM lParam)
{
    DWORD_PTR dwResult;
    SendMessageTimeoutA(hWnd, IDMSG_HOOK, (WPARAM)((UINT_PTR)hInfodrivWnd & 0xFFFF), lParam,
                        SMTO_NORMAL | SMTO_ABORTIFHUNG, EXINF_REHOOK_WAIT, &dwResult);
    return TRUE;
}

int fnRehookExtInfodriv(int iDeviceNo)
{
    hIDTemp = NULL;
    if (iDeviceNo > EXINF_MAX_DEVICE || iDeviceNo < 1 || !IsWindow(hInfodrivWnd))
        return 1;
    EnumWindows(fnRehookEnumProc, (LPARAM)((iDeviceNo | IDMSG_HOOK_DEVICE) & 0xFFFF));
    if (hIDTemp == NULL || !IsWindow(hIDTemp))
        return 1;
    hIDWnd[iDeviceNo] = hIDTemp;
    return 0;
}

void fnForgetExtInfodriv(int iDeviceNo)
{
    if (iDeviceNo >= 1 && iDeviceNo <= EXINF_MAX_DEVICE)
        hIDWnd[iDeviceNo] = NULL;
}

// The outcome of an exchange, counted: 0 when the reply came, else the
// client's failure code.
static int fnExchanged(LONG lResult)
{
    if (lResult == ZARN32_NO_REPLY) {
        uExtInfodrivNoReply++;
        uExtInfodrivMissRun++;
        return 1;
    }
    uExtInfodrivAnswered++;
    uExtInfodrivMissRun = 0;
    return 0;
}

static int fnDeviceHooked(int iDeviceNo)
{
    return iDeviceNo >= 1 && iDeviceNo <= EXINF_MAX_DEVICE && hIDWnd[iDeviceNo] != NULL;
}

// A slot operation may go out only to a hooked device and a slot 1..32767,
// with a text (or a buffer for the reply's cbReply bytes).
static int fnSlotExchange(int iDeviceNo, int iIndex, UINT uMsg, UINT uParam, LPCSTR szSlot, int cbReply)
{
    if (!fnDeviceHooked(iDeviceNo) || iIndex <= 0 || iIndex > EXINF_MAX_SLOT || szSlot == NULL)
        return 1;
    return fnExchanged(ZARN32SendMessage(hInfodrivWnd, hIDWnd[iDeviceNo], uMsg, uParam, (LPARAM)szSlot,
                                         cbReply, ZARN32_TEXT));
}

int fnGetSlot(int iDeviceNo, int iIndex, char *szSlot)
{
    return fnSlotExchange(iDeviceNo, iIndex, IDMSG_GETSLOT, (UINT)iIndex, szSlot, EXINF_SLOT_READ);
}

int fnSetSlot(int iDeviceNo, int iIndex, LPCSTR szSlot, int fNow)
{
    return fnSlotExchange(iDeviceNo, iIndex, IDMSG_SETSLOT, (UINT)iIndex | (fNow ? IDMSG_SLOT_NOW : 0),
                          szSlot, 0);
}

int fnSetSlotOnly(int iDeviceNo, int iIndex, LPCSTR szSlot)
{
    return fnSlotExchange(iDeviceNo, iIndex, IDMSG_SETSLOTONLY, (UINT)iIndex, szSlot, 0);
}

// One read, and a write only when the infodriver's text differs. The read
// copies 256 bytes, so a text of 256 characters or more cannot be seen whole:
// such a text is always written rather than risk keeping a stale slot.
// Returns 1 only for a write the infodriver answered: a failed read writes
// nothing (it would compare with a text nobody sent), a failed write is none.
int fnCheckSlot(int iDeviceNo, LPCSTR szSlot, int iSlot, int fNow)
{
    char szRead[EXINF_SLOT_READ + 1];

    if (szSlot == NULL)
        return 0;
    memset(szRead, 0, sizeof szRead);
    if (fnGetSlot(iDeviceNo, iSlot, szRead) != 0)
        return 0;
    szRead[EXINF_SLOT_READ] = '\0';
    if (strnlen(szSlot, EXINF_SLOT_READ) < EXINF_SLOT_READ && lstrcmpA(szRead, szSlot) == 0)
        return 0;
    return fnSetSlot(iDeviceNo, iSlot, szSlot, fNow) == 0 ? 1 : 0;
}

int fnSetTXRXMode(int iDeviceNo, WORD wMode)
{
    if (!fnDeviceHooked(iDeviceNo) || wMode < 1 || wMode > 3)
        return 1;
    SendMessageA(hIDWnd[iDeviceNo], IDMSG_SETTXRXMODE, (WPARAM)wMode, (LPARAM)iDeviceNo);
    return 0;
}

int fnGetTXRXMode(int iDeviceNo, WORD *wMode)
{
    LRESULT lMode;

    if (!fnDeviceHooked(iDeviceNo) || wMode == NULL)
        return 1;
    lMode = SendMessageA(hIDWnd[iDeviceNo], IDMSG_GETTXRXMODE, 0, (LPARAM)iDeviceNo);
    *wMode = lMode == 1 || lMode == 2 ? (WORD)lMode : 0;
    return *wMode == 0 ? 1 : 0;
}

void fnSendSlotRange(int iDeviceNo, int iStart, int iEnd)
{
    if (!fnDeviceHooked(iDeviceNo) || iEnd < iStart)
        return;
    SendMessageA(hIDWnd[iDeviceNo], IDMSG_SENDSLOTRANGE, (WPARAM)iStart, (LPARAM)iEnd);
}

HWND fnGetHWND(int iDeviceNo)
{
    return iDeviceNo >= 1 && iDeviceNo <= EXINF_MAX_DEVICE ? hIDWnd[iDeviceNo] : NULL;
}

// Runs after the message loop, when the hook window is normally gone already:
// the unhook messages need no answer, and DestroyWindow of a dead window is harmless.
void fnCleanupExtInfodriv(void)
{
    for (int i = 1; i <= EXINF_MAX_DEVICE; i++) {
        if (hIDWnd[i] != NULL)
            SendMessageA(hIDWnd[i], IDMSG_UNHOOK, 0, (LPARAM)i);
    }
    DestroyWindow(hInfodrivWnd);
}

// Copies the revertive text at lParam into acText (cch bytes, terminated).
// A revertive that the transport delivers is its own terminated block. Any
// other IDMSG_REVERTIVE carries a bare address: one sent from another thread
// (or process) is dropped, and an address of our own is read only as far as
// its memory is readable, so a stray message cannot crash the driver.
static int fnRevertiveText(LPARAM lParam, int fFromTransport, char *acText, size_t cch)
{
    const char *pcSrc = (const char *)lParam;
    size_t cbReadable = cch - 1;

    if (pcSrc == NULL)
        return 0;
    if (!fFromTransport) {
        MEMORY_BASIC_INFORMATION mbi;
        if ((InSendMessageEx(NULL) & (ISMEX_SEND | ISMEX_NOTIFY)) != 0)
            return 0;
        if (VirtualQuery(pcSrc, &mbi, sizeof mbi) == 0 || mbi.State != MEM_COMMIT ||
            (mbi.Protect & (PAGE_GUARD | PAGE_NOACCESS)) != 0 ||
            (mbi.Protect & (PAGE_READONLY | PAGE_READWRITE | PAGE_WRITECOPY | PAGE_EXECUTE_READ |
                            PAGE_EXECUTE_READWRITE | PAGE_EXECUTE_WRITECOPY)) == 0)
            return 0;
        size_t cbRegion = (size_t)((const char *)mbi.BaseAddress + mbi.RegionSize - pcSrc);
        if (cbRegion < cbReadable)
            cbReadable = cbRegion;
    }
    size_t i = 0;
    for (; i < cbReadable && pcSrc[i] != '\0'; i++)
        acText[i] = pcSrc[i];
    acText[i] = '\0';
    return 1;
}

LRESULT CALLBACK fnExtInfodrivProc(HWND hWnd, UINT msg, WPARAM wParam, LPARAM lParam)
{
    switch (msg) {
    case WM_COPYDATA: {
        const COPYDATASTRUCT *pCDS = (const COPYDATASTRUCT *)lParam;
        int fOuter = fRevertiveDelivery;
        fRevertiveDelivery = pCDS != NULL && ((pCDS->dwData >> 16) & 0xFFFF) == IDMSG_REVERTIVE &&
                             pCDS->cbData != ZARN32_NUM_BLOCK;
        ZARN32RxMessage(hWnd, (HWND)wParam, (PCOPYDATASTRUCT)lParam);
        fRevertiveDelivery = fOuter;
        return 1;
    }

    case WM_CREATE:
    case WM_DESTROY:
        return 0;

    case IDMSG_CLOSE:
        DestroyWindow(GetParent(hWnd));
        return 0;

    case IDMSG_FWD1:
    case IDMSG_FWD2:
    case IDMSG_FWD3:
    case IDMSG_FWD4:
        return SendMessageA(GetParent(hWnd), msg, wParam, lParam);

    case IDMSG_HOOKED:
        hIDTemp = (HWND)wParam;
        return 0;

    case IDMSG_REVERTIVE: {
        ZARNMSG Rev;
        char acText[ZARN32_TEXT_BLOCK + 1];
        int fFromTransport = fRevertiveDelivery;
        fRevertiveDelivery = 0;   // taken: a nested stray message finds it clear
        if (fnRevertiveText(lParam, fFromTransport, acText, sizeof acText) && fnSplitMsg(acText, &Rev) &&
            (Rev.szMsgType[0] == 'I' || Rev.szMsgType[0] == 'X') && Rev.szMsgType[1] == 'W' &&
            fnInfodrivCallback != NULL)
            fnInfodrivCallback(&Rev);
        return 1;
    }
    }
    return DefWindowProcA(hWnd, msg, wParam, lParam);
}
