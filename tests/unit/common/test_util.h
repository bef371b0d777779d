// Helpers of the application-support tests: watching the thread's own
// message boxes and dialogs, files and directories of the test.
#pragma once
#include <windows.h>
#include <functional>
#include <string>
#include "support/wintest.h"

// While one lives, fnAction runs on this thread's timer, inside whatever
// modal loop is running (message box, dialog box, menu), once for each new
// visible top-level window of this thread with this class and caption (any
// caption when NULL). One lives at a time.
class ModalWatch {
public:
    ModalWatch(LPCSTR lpszClass, LPCSTR lpszCaption, std::function<void(HWND)> fnAction);
    ~ModalWatch();
    ModalWatch(const ModalWatch &) = delete;
    ModalWatch &operator=(const ModalWatch &) = delete;
    int iSeen = 0;

private:
    static VOID CALLBACK TimerProc(HWND, UINT, UINT_PTR, DWORD);
    LPCSTR lpszClass_, lpszCaption_;
    std::function<void(HWND)> fnAction_;
    HWND hLast_ = NULL;
    UINT_PTR uTimer_;
};

// While one lives, the message boxes shown by this thread: their captions,
// texts and icons (NULL for none), each box closed with OK once it is seen.
struct BoxLog {
    BoxLog();
    int iCount = 0;
    std::string sCaption[8];
    std::string sText[8];
    HICON hIcon[8];
    ModalWatch watch;
};

std::string TempDirFor(const char *lpszTag);   // fresh, empty directory
void RemoveTree(const std::string &sDir);
bool ReadWholeFile(const std::string &sPath, std::string *psData);
std::string WindowText(HWND hWnd);

// A file saved at construction and put back (or removed) at destruction.
class SavedFile {
public:
    explicit SavedFile(const std::string &sPath);
    ~SavedFile();
    void Remove();   // make the file absent now
private:
    std::string m_sPath, m_sData;
    bool m_fExisted;
};
