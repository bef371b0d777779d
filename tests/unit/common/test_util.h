// Helpers of the application-support tests: watching the thread's own
// message boxes and dialogs, files and directories of the test.
#pragma once
#include <windows.h>
#include <string>
#include "support/wintest.h"

// Runs fnAction on this thread's timer, inside whatever modal loop is
// running (message box, dialog box, menu), once fnFind returns a window.
// fnAction gets that window; it runs once per distinct window.
struct ModalWatch {
    HWND (*fnFind)(void *ctx);
    void (*fnAction)(HWND hWnd, void *ctx);
    void *ctx;
    HWND hLast;
    int iSeen;
};
void WatchStart(ModalWatch *pw);
void WatchStop();

// The visible top-level window of this thread with this class (any caption
// when lpszCaption is NULL), or NULL.
HWND FindThreadWindow(LPCSTR lpszClass, LPCSTR lpszCaption);

// Message boxes shown by this thread: their captions and texts, each box
// closed with OK as soon as it is seen.
struct BoxLog {
    int iCount;
    std::string sCaption[8];
    std::string sText[8];
    HICON hIcon[8];      // the icon shown, NULL for none
};
void BoxWatchStart(BoxLog *pLog);

std::string TempDirFor(const char *lpszTag);   // fresh, empty directory
void RemoveTree(const std::string &sDir);
bool ReadWholeFile(const std::string &sPath, std::string *psData);
bool WriteWholeFile(const std::string &sPath, const std::string &sData);
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
