// linechild: a child process spoken to line by line on its stdin and stdout
// -- the stand-ins and probes of the Windows build under Wine, the
// simulator's command line on the host. A command is one line; its answer is
// the first line after it that starts "ok" or "err" ("error ..." too); lines
// the child prints before the answer are its events.
#pragma once
#include <deque>
#include <functional>
#include <string>
#include <vector>
#include "sim/hostproc.h"

namespace harness {

bool IsAnswer(const std::string &line);

class LineChild {
public:
    LineChild();
    ~LineChild() { Release(); }
    LineChild(const LineChild &) = delete;
    LineChild &operator=(const LineChild &) = delete;

    // Starts a host program (argv[0] searched in PATH), or a program of the
    // Windows build under Wine; with pszReady, waits up to readyMs for a line
    // that starts with it. False with the reason in *pWhy.
    bool Start(const std::vector<std::string> &argv, const char *pszReady, int readyMs, std::string *pWhy,
               int iFlags = HP_STDIN | HP_STDOUT);
    bool StartWine(const std::string &exe, const std::vector<std::string> &args, const char *pszReady, int readyMs,
                   std::string *pWhy, int iFlags = HP_STDIN | HP_STDOUT);
    bool Started() const { return m_fStarted; }
    pid_t Pid() const { return m_p.pid; }

    bool Send(const std::string &line);        // false: its stdin is gone
    // The next line: 1, 0 on time-out, -1 at the end of its output.
    int ReadLine(std::string *pLine, int timeoutMs);
    // Reads until a line that starts with prefix (in *pLine), dropping the
    // lines before it; 1, 0 or -1 as ReadLine.
    int WaitLine(const std::string &prefix, int timeoutMs, std::string *pLine = nullptr);
    // Sends cmd and reads its answer: 1 with the line in *pAnswer, 0 on
    // time-out, -1 when the child is gone. Lines before the answer go to
    // fnEvent, or, without one, stay for ReadLine.
    int Ask(const std::string &cmd, std::string *pAnswer, int timeoutMs,
            const std::function<void(const std::string &)> &fnEvent = nullptr);
    // Every line up to the end of its output, or the deadline.
    std::vector<std::string> Rest(int timeoutMs);

    // Sends pszQuit (none: nullptr), closes its stdin and waits up to
    // timeoutMs for its end, killing it past that. True when it ended by
    // itself (exit code in *piExit). The pipes stay until Release.
    bool Quit(const char *pszQuit, int timeoutMs, int *piExit = nullptr);
    void Kill();                               // SIGKILL, reaped; pipes stay
    void Release();                            // killed if running, pipes closed

private:
    int Raw(std::string *pLine, int timeoutMs);
    HOSTPROC m_p;
    bool m_fStarted = false;
    std::deque<std::string> m_backlog;         // events an Ask left for ReadLine
};

}  // namespace harness
