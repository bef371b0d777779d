// linechild: see linechild.h.
#include "linechild.h"
#include <errno.h>
#include <string.h>
#include "harness.h"

namespace harness {

bool IsAnswer(const std::string &s)
{
    return s == "ok" || s.rfind("ok ", 0) == 0 || s.rfind("err", 0) == 0;
}

LineChild::LineChild()
{
    m_p.pid = 0;
    m_p.fdIn = m_p.fdOut = -1;
    m_p.fExited = 0;
    m_p.cbBuf = 0;
}

bool LineChild::Start(const std::vector<std::string> &argv, const char *pszReady, int readyMs, std::string *pWhy,
                      int iFlags)
{
    Release();
    m_backlog.clear();
    std::vector<const char *> v;
    for (const std::string &a : argv)
        v.push_back(a.c_str());
    v.push_back(nullptr);
    // The program's own name, for the reasons below.
    std::string name = argv.size() > 1 && argv[0] == WinBuild() + "/winerun" ? argv[1] : argv[0];
    name = name.substr(name.rfind('/') + 1);
    if (hpSpawn(&m_p, v.data(), nullptr, nullptr, iFlags) != 0) {
        *pWhy = name + " did not start: " + strerror(errno);
        return false;
    }
    m_fStarted = true;
    if (pszReady == nullptr)
        return true;
    int r = WaitLine(pszReady, readyMs);
    if (r == 1)
        return true;
    int iExit = -1;
    if (r < 0 && hpWaitExit(&m_p, 5000, &iExit))
        *pWhy = name + " ended (exit " + std::to_string(iExit) + ") before its ready line";
    else
        *pWhy = name + " printed no ready line within " + std::to_string(readyMs / 1000) + " s";
    return false;
}

bool LineChild::StartWine(const std::string &exe, const std::vector<std::string> &args, const char *pszReady,
                          int readyMs, std::string *pWhy, int iFlags)
{
    std::vector<std::string> argv = { WinBuild() + "/winerun", WinBin(exe) };
    argv.insert(argv.end(), args.begin(), args.end());
    return Start(argv, pszReady, readyMs, pWhy, iFlags);
}

bool LineChild::Send(const std::string &line)
{
    return m_fStarted && hpWriteLine(&m_p, line.c_str()) == 0;
}

// A line straight from the pipe, past the backlog.
int LineChild::Raw(std::string *pLine, int timeoutMs)
{
    static thread_local char s_ac[HP_LINEBUF];
    int r = hpReadLine(&m_p, s_ac, sizeof s_ac, timeoutMs);
    if (r == 1)
        *pLine = s_ac;
    return r;
}

int LineChild::ReadLine(std::string *pLine, int timeoutMs)
{
    if (!m_backlog.empty()) {
        *pLine = m_backlog.front();
        m_backlog.pop_front();
        return 1;
    }
    return m_fStarted ? Raw(pLine, timeoutMs) : -1;
}

int LineChild::WaitLine(const std::string &prefix, int timeoutMs, std::string *pLine)
{
    long long deadline = hpNowMs() + timeoutMs;
    std::string s;
    for (;;) {
        long long left = deadline - hpNowMs();
        int r = ReadLine(&s, left > 0 ? (int)left : 0);
        if (r != 1)
            return r;
        if (s.rfind(prefix, 0) == 0) {
            if (pLine)
                *pLine = s;
            return 1;
        }
    }
}

int LineChild::Ask(const std::string &cmd, std::string *pAnswer, int timeoutMs,
                   const std::function<void(const std::string &)> &fnEvent)
{
    if (!Send(cmd))
        return -1;
    long long deadline = hpNowMs() + timeoutMs;
    std::string s;
    for (;;) {
        long long left = deadline - hpNowMs();
        int r = Raw(&s, left > 0 ? (int)left : 0);
        if (r != 1)
            return r;
        if (IsAnswer(s)) {
            *pAnswer = s;
            return 1;
        }
        if (fnEvent)
            fnEvent(s);
        else
            m_backlog.push_back(s);
    }
}

std::vector<std::string> LineChild::Rest(int timeoutMs)
{
    long long deadline = hpNowMs() + timeoutMs;
    std::vector<std::string> v;
    std::string s;
    for (long long left = timeoutMs; left > 0; left = deadline - hpNowMs()) {
        if (ReadLine(&s, (int)left) != 1)
            break;
        v.push_back(s);
    }
    return v;
}

bool LineChild::Quit(const char *pszQuit, int timeoutMs, int *piExit)
{
    if (!m_fStarted)
        return false;
    if (pszQuit)
        hpWriteLine(&m_p, pszQuit);
    hpCloseStdin(&m_p);
    int iExit = -1;
    bool fEnded = hpWaitExit(&m_p, timeoutMs, &iExit) == 1;
    if (!fEnded)
        hpKill(&m_p);
    if (piExit)
        *piExit = iExit;
    return fEnded;
}

void LineChild::Kill()
{
    if (m_fStarted)
        hpKill(&m_p);
}

void LineChild::Release()
{
    if (m_fStarted)
        hpRelease(&m_p);
    m_fStarted = false;
}

}  // namespace harness
