#include "test_util.h"
#include <stdio.h>
#include <fstream>
#include <iterator>

static ModalWatch *pWatch;

ModalWatch::ModalWatch(LPCSTR lpszClass, LPCSTR lpszCaption, std::function<void(HWND)> fnAction)
    : lpszClass_(lpszClass), lpszCaption_(lpszCaption), fnAction_(fnAction)
{
    pWatch = this;
    uTimer_ = SetTimer(NULL, 0, 30, TimerProc);
}

ModalWatch::~ModalWatch()
{
    KillTimer(NULL, uTimer_);
    pWatch = NULL;
}

VOID CALLBACK ModalWatch::TimerProc(HWND, UINT, UINT_PTR, DWORD)
{
    HWND h = NULL;
    while (pWatch && (h = FindWindowExA(NULL, h, pWatch->lpszClass_, pWatch->lpszCaption_)) != NULL)
        if (IsWindowVisible(h) && GetWindowThreadProcessId(h, NULL) == GetCurrentThreadId())
            break;
    if (h && h != pWatch->hLast_) {
        pWatch->hLast_ = h;
        pWatch->iSeen++;
        pWatch->fnAction_(h);
    }
}

BoxLog::BoxLog()
    : watch("#32770", NULL, [this](HWND hBox) {
          if (iCount < 8) {
              sCaption[iCount] = WindowText(hBox);
              sText[iCount] = WindowText(GetDlgItem(hBox, 0xFFFF));
              hIcon[iCount] = BoxIcon(hBox);
          }
          iCount++;
          PostMessageA(hBox, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), (LPARAM)GetDlgItem(hBox, IDOK));
      })
{
}

std::string TempDirFor(const char *lpszTag)
{
    char acTemp[MAX_PATH];
    GetTempPathA(sizeof acTemp, acTemp);
    char acDir[MAX_PATH];
    snprintf(acDir, sizeof acDir, "%scommon_%s_%lu", acTemp, lpszTag, GetCurrentProcessId());
    RemoveTree(acDir);
    CreateDirectoryA(acDir, NULL);
    return acDir;
}

void RemoveTree(const std::string &sDir)
{
    WIN32_FIND_DATAA fd;
    HANDLE h = FindFirstFileA((sDir + "\\*").c_str(), &fd);
    if (h != INVALID_HANDLE_VALUE) {
        do {
            std::string sName = fd.cFileName;
            if (sName == "." || sName == "..")
                continue;
            std::string sPath = sDir + "\\" + sName;
            if (fd.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY)
                RemoveTree(sPath);
            else
                DeleteFileA(sPath.c_str());
        } while (FindNextFileA(h, &fd));
        FindClose(h);
    }
    RemoveDirectoryA(sDir.c_str());
}

bool ReadWholeFile(const std::string &sPath, std::string *psData)
{
    std::ifstream f(sPath, std::ios::binary);
    if (!f)
        return false;
    psData->assign(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
    return true;
}

std::string WindowText(HWND hWnd)
{
    char ac[1024] = "";
    GetWindowTextA(hWnd, ac, sizeof ac);
    return ac;
}

// The platform caches private-profile files; a NULL write flushes the cache
// so that files changed behind its back are read afresh.
static void FlushProfile(const std::string &sPath)
{
    WritePrivateProfileStringA(NULL, NULL, NULL, sPath.c_str());
}

SavedFile::SavedFile(const std::string &sPath) : m_sPath(sPath)
{
    m_fExisted = ReadWholeFile(sPath, &m_sData);
}

SavedFile::~SavedFile()
{
    FlushProfile(m_sPath);
    if (m_fExisted)
        std::ofstream(m_sPath, std::ios::binary) << m_sData;
    else
        DeleteFileA(m_sPath.c_str());
    FlushProfile(m_sPath);
}

void SavedFile::Remove()
{
    FlushProfile(m_sPath);
    DeleteFileA(m_sPath.c_str());
    FlushProfile(m_sPath);
}
