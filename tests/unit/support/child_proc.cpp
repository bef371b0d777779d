#include "child_proc.h"

ChildProc::~ChildProc()
{
    Stop(5000);
}

bool ChildProc::Start(const std::string &sExe, const std::string &sArgs)
{
    {   // a ChildProc may be started again after Stop
        std::lock_guard<std::mutex> lock(mu_);
        lines_.clear();
        fEof_ = false;
    }
    sPartial_.clear();
    SECURITY_ATTRIBUTES sa = {sizeof sa, NULL, TRUE};
    HANDLE hChildIn = NULL, hChildOut = NULL;
    if (!CreatePipe(&hChildIn, &hIn_, &sa, 0) || !CreatePipe(&hOut_, &hChildOut, &sa, 0)) {
        sError_ = "CreatePipe failed";
        return false;
    }
    // Only the child's ends are inherited.
    SetHandleInformation(hIn_, HANDLE_FLAG_INHERIT, 0);
    SetHandleInformation(hOut_, HANDLE_FLAG_INHERIT, 0);

    STARTUPINFOA si = {};
    si.cb = sizeof si;
    si.dwFlags = STARTF_USESTDHANDLES;
    si.hStdInput = hChildIn;
    si.hStdOutput = hChildOut;
    si.hStdError = GetStdHandle(STD_ERROR_HANDLE);
    std::string sCmd = "\"" + sExe + "\" " + sArgs;
    BOOL fOk = CreateProcessA(NULL, &sCmd[0], NULL, NULL, TRUE, 0, NULL, NULL, &si, &pi_);
    CloseHandle(hChildIn);
    CloseHandle(hChildOut);
    if (!fOk) {
        sError_ = "CreateProcess failed for " + sCmd + ", error " + std::to_string(GetLastError());
        return false;
    }
    reader_ = std::thread([this] { ReaderLoop(); });
    return true;
}

void ChildProc::ReaderLoop()
{
    char acBuf[4096];
    DWORD cb;
    while (ReadFile(hOut_, acBuf, sizeof acBuf, &cb, NULL) && cb > 0) {
        std::lock_guard<std::mutex> lock(mu_);
        for (DWORD i = 0; i < cb; i++) {
            if (acBuf[i] == '\n') {
                if (!sPartial_.empty() && sPartial_.back() == '\r')
                    sPartial_.pop_back();
                lines_.push_back(sPartial_);
                sPartial_.clear();
            } else {
                sPartial_ += acBuf[i];
            }
        }
    }
    std::lock_guard<std::mutex> lock(mu_);
    fEof_ = true;
}

bool ChildProc::Send(const std::string &sLine)
{
    if (hIn_ == NULL)
        return false;
    std::string s = sLine + "\n";
    DWORD cb;
    return WriteFile(hIn_, s.data(), (DWORD)s.size(), &cb, NULL) && cb == s.size();
}

bool ChildProc::NextLine(std::string *psLine, DWORD dwMs)
{
    bool fGot = false;
    PumpUntil(
        [&] {
            std::lock_guard<std::mutex> lock(mu_);
            if (!lines_.empty()) {
                *psLine = lines_.front();
                lines_.pop_front();
                fGot = true;
                return true;
            }
            return fEof_;
        },
        dwMs);
    return fGot;
}

bool ChildProc::LineBy(std::string *psLine, DWORD dwStart, DWORD dwMs)
{
    DWORD dwSpent = GetTickCount() - dwStart;
    return dwSpent <= dwMs && NextLine(psLine, dwMs - dwSpent);
}

bool ChildProc::WaitFor(const std::string &sPrefix, std::string *psLine, DWORD dwMs)
{
    DWORD dwStart = GetTickCount();
    std::string s;
    do {
        if (!LineBy(&s, dwStart, dwMs))
            return false;
    } while (s.compare(0, sPrefix.size(), sPrefix) != 0);
    if (psLine)
        *psLine = s;
    return true;
}

std::vector<std::string> ChildProc::Command(const std::string &sCmd, DWORD dwMs)
{
    if (!Send(sCmd))
        return {"<send failed>"};
    std::vector<std::string> v;
    DWORD dwStart = GetTickCount();
    std::string s;
    while (LineBy(&s, dwStart, dwMs)) {
        v.push_back(s);
        if (s.compare(0, 2, "ok") == 0 || s.compare(0, 3, "err") == 0)
            return v;
    }
    v.push_back("<no answer to '" + sCmd + "'>");
    return v;
}

DWORD ChildProc::Stop(DWORD dwMs)
{
    DWORD dwCode = (DWORD)-1;
    if (hIn_ != NULL) {
        CloseHandle(hIn_);
        hIn_ = NULL;
    }
    if (pi_.hProcess != NULL) {
        // Keep answering the child while it shuts down (it may still send to us).
        PumpUntil([&] { return WaitForSingleObject(pi_.hProcess, 0) == WAIT_OBJECT_0; }, dwMs);
        if (WaitForSingleObject(pi_.hProcess, 0) != WAIT_OBJECT_0) {
            TerminateProcess(pi_.hProcess, 99);
            WaitForSingleObject(pi_.hProcess, 5000);
        }
        GetExitCodeProcess(pi_.hProcess, &dwCode);
        CloseHandle(pi_.hProcess);
        CloseHandle(pi_.hThread);
        pi_ = PROCESS_INFORMATION{};
    }
    if (reader_.joinable())
        reader_.join();
    if (hOut_ != NULL) {
        CloseHandle(hOut_);
        hOut_ = NULL;
    }
    return dwCode;
}
