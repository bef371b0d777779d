// What the Windows test programs share: waiting while this thread's windows
// keep answering, hex dumps, test windows, message box icons and the test
// program's own paths.
#pragma once
#include <windows.h>
#include <string>

// Pumps this thread's messages until fnDone() holds or dwMs passes; returns
// fnDone()'s last value.
template <class F> bool PumpUntil(F fnDone, DWORD dwMs = 20000)
{
    DWORD dwStart = GetTickCount();
    for (;;) {
        MSG msg;
        while (PeekMessageA(&msg, NULL, 0, 0, PM_REMOVE)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
        if (fnDone())
            return true;
        if (GetTickCount() - dwStart > dwMs)
            return false;
        MsgWaitForMultipleObjects(0, NULL, FALSE, 10, QS_ALLINPUT);
    }
}

// The bytes as lower-case hex pairs with pszSep between them (and after the
// last one too when fSepAfterLast).
std::string Hex(const BYTE *pb, size_t cb, const char *pszSep = " ", bool fSepAfterLast = false);

struct Place { int x, y, cx, cy; };   // where a test window goes: position and size
// A window of class lpszClass, registered with fnProc on first use (NULL:
// DefWindowProc); the defaults make a plain top-level window for tests to own
// things with. hParent HWND_MESSAGE makes it message-only.
HWND MakeWindow(const char *lpszTitle, WNDPROC fnProc = NULL, const char *lpszClass = "CommonTestWindow",
                DWORD dwStyle = WS_OVERLAPPEDWINDOW, HWND hParent = NULL, Place pl = {100, 100, 300, 200},
                int iId = 0);

// The icon a message box shows, NULL for none.
HICON BoxIcon(HWND hBox);

// While one lives, a watcher thread presses OK on the first message box of
// this process (captioned pszCaption; any caption when NULL) and notes what
// it showed, so that a box fails a test with its text instead of hanging it.
class BoxPresser {
public:
    explicit BoxPresser(const char *pszCaption = NULL);
    ~BoxPresser() { Stop(); }
    BoxPresser(const BoxPresser &) = delete;
    BoxPresser &operator=(const BoxPresser &) = delete;
    void Stop();   // the fields hold their final values after it
    bool fFound = false;
    std::string sText;
    HICON hIcon = NULL;
    HWND hOwner = NULL;

private:
    static DWORD WINAPI Watch(LPVOID pv);
    const char *pszCaption_;
    HANDLE hDone_, hThread_;
};

std::string ExePath();
std::string ExeDir();   // no trailing backslash
std::string ExeBase();  // the program's file name without ".exe"
