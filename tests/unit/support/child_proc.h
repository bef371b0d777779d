// A child process with its stdin/stdout on pipes, its output lines collected
// by a reader thread, and waits that keep this thread's windows answering
// (the child may send to them while we wait). A child that reads nothing
// (a window role) is run and stopped the same way.
#pragma once
#include <windows.h>

#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "wintest.h"

class ChildProc {
public:
    ChildProc() = default;
    ~ChildProc();
    ChildProc(const ChildProc &) = delete;
    ChildProc &operator=(const ChildProc &) = delete;

    // Starts "<exe> <args>" (again, after Stop); false with the reason in Error().
    bool Start(const std::string &sExe, const std::string &sArgs);
    // Writes one line (a '\n' is added).
    bool Send(const std::string &sLine);
    // Waits (pumping messages) for the next line; false on timeout or EOF.
    bool NextLine(std::string *psLine, DWORD dwMs = 30000);
    // Skips lines until one starts with sPrefix.
    bool WaitFor(const std::string &sPrefix, std::string *psLine = nullptr, DWORD dwMs = 30000);
    // Sends a command and collects every line up to and including its answer
    // ("ok..." or "err..."); the answer is the last element.
    std::vector<std::string> Command(const std::string &sCmd, DWORD dwMs = 30000);
    // Closes stdin and waits for the exit; kills it after dwMs.
    DWORD Stop(DWORD dwMs = 20000);
    HANDLE Process() const { return pi_.hProcess; }
    const std::string &Error() const { return sError_; }

private:
    void ReaderLoop();
    // NextLine with what is left of dwMs since dwStart.
    bool LineBy(std::string *psLine, DWORD dwStart, DWORD dwMs);

    PROCESS_INFORMATION pi_{};
    HANDLE hIn_ = NULL;    // our end of the child's stdin
    HANDLE hOut_ = NULL;   // our end of the child's stdout
    std::thread reader_;
    std::mutex mu_;
    std::deque<std::string> lines_;   // guarded by mu_; written by the reader thread
    bool fEof_ = false;               // guarded by mu_
    std::string sPartial_;            // reader thread only
    std::string sError_;
};
