// harness: host-side rig for running the real driver under Wine -- a private
// installation per test (device file, workstation file, custom-control
// libraries), a client for children that speak a line protocol, the stand-in
// infodriver with its control channel, the driver process itself, the small
// Windows tools (winpeek, boxpress) and COM port mapping. The system tests and the bench (bench/) use it. Each test or
// bench run owns one of everything; nothing here is shared.
#pragma once
#include <stdint.h>
#include <sys/types.h>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include "sim/hostproc.h"

namespace harness {

// Loads the Wine environment (the env file written by set-up) into this
// process once; returns false with a reason when the rig is not usable.
bool Ready(std::string *pWhy);

std::string WinBin(const std::string &exe);
std::string WindowsPath(const std::string &hostPath);   // /a/b -> Z:\a\b
std::string ReadFile(const std::string &path);
bool WriteFile(const std::string &path, const std::string &text);
// Every path below dir that is no directory, relative to it, sorted; links
// are listed, not followed.
std::vector<std::string> FilesBelow(const std::string &dir);
// Bytes as lower-case hex pairs with pszSep between them.
std::string Hex(const uint8_t *pb, size_t n, const char *pszSep = "");

// The driver's main-window title for a device.
std::string Title(int iDevice);

// A throw-away installation in a temp dir: <dir>/site/config/system holds the
// device files, <dir>/site/windows/lib the custom-control libraries, and
// <dir>/xnet.ini the workstation (the driver runs with <dir> as its current
// directory, KV_ROOT=<dir> and KV_SYSTEM=site).
class Install {
public:
    Install();
    ~Install();
    const std::string &Dir() const { return m_dir; }
    std::string DevFilePath(int iDevice) const;
    void DevFile(int iDevice, const std::string &text);
    std::string DevFileText(int iDevice) const;
    void Workstation(int iWorkstation);        // 0: no xnet.ini at all
    void RemoveLibrary(const std::string &name);
    std::vector<std::string> Env() const;      // KV_ROOT=..., KV_SYSTEM=site
    // The older layout instead: no KV_ROOT/KV_SYSTEM, so the driver takes
    // its directories from c:\zarn_config.ini (the test writes that file,
    // holding the zarn_config lock).
    void OlderLayout() { m_fOlderLayout = true; }
private:
    std::string m_dir;
    bool m_fOlderLayout = false;
};

// Standard device file for a test on COM<n>: Speed 38400, Parity N (a pty
// refuses parity), plus any extra lines.
std::string DevFileFor(int iCom, const std::string &extra = "");

// A child process spoken to line by line on its stdin and stdout -- the
// stand-ins and probes of the Windows build under Wine, the simulator's
// command line on the host. A command is one line; its answer is the first
// line after it that starts "ok" or "err" ("error ..." too); lines the child
// prints before the answer are its events.
class LineChild {
public:
    LineChild() { m_p.pid = 0, m_p.fdIn = m_p.fdOut = -1, m_p.fExited = 0, m_p.cbBuf = 0; }
    ~LineChild() { Release(); }
    LineChild(const LineChild &) = delete;
    LineChild &operator=(const LineChild &) = delete;

    // Starts a host program (argv[0] searched in PATH), or a program of the
    // Windows build under Wine; with pszReady, waits up to readyMs for a line
    // that starts with it. False with the reason in *pWhy.
    bool Start(const std::vector<std::string> &argv, const char *pszReady, int readyMs, std::string *pWhy,
               int iFlags = HP_STDIN | HP_STDOUT, const std::vector<std::string> &env = {}, const char *pszCwd = nullptr);
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
    bool WaitExit(int timeoutMs, int *piExit) { return m_fStarted && hpWaitExit(&m_p, timeoutMs, piExit) == 1; }
    void Kill();                               // SIGKILL, reaped; pipes stay
    void Release();                            // killed if running, pipes closed

private:
    int Raw(std::string *pLine, int timeoutMs);
    // Reads (from the backlog first when fBacklog) until fnWanted takes a
    // line, handing every other one to fnOther; the result as ReadLine's.
    int ReadUntil(bool fBacklog, const std::function<bool(const std::string &)> &fnWanted,
                  std::string *pLine, int timeoutMs, const std::function<void(const std::string &)> &fnOther);
    HOSTPROC m_p;
    bool m_fStarted = false;
    std::deque<std::string> m_backlog;         // events an Ask left for ReadLine
};


// One line of the stand-in infodriver's output, split.
struct InfoEvent {
    std::string kind;      // "W", "O", "R", "hooked", "unhooked", ...
    long long tUs = 0;
    int iSlot = 0;
    std::string text;
    long long tReadNs = 0; // CLOCK_MONOTONIC when this process read the line
};

class Infodrv {
public:
    ~Infodrv();
    bool Start(int iDevice, std::string *pWhy);
    // Sends one command, returns the answer line ("ok ..." / "err ...") or
    // "" on time-out; lines printed before it are events (or dump lines,
    // returned in *pLines when given).
    std::string Cmd(const std::string &cmd, std::vector<std::string> *pLines = nullptr,
                    int timeoutMs = 20000);
    std::string Get(int iSlot);                // slot text, "<no answer>" on time-out
    // Reads events until pred holds over all events so far, or the deadline.
    bool WaitFor(const std::function<bool(const std::vector<InfoEvent> &)> &pred,
                 int timeoutMs = 20000);
    void Drain(int ms);                        // collects events for ms
    std::vector<InfoEvent> &Events() { return m_events; }
    std::vector<InfoEvent> Writes(int iSlotFrom = 1, int iSlotTo = 32767) const;
    void Stop();
    // The way a control room loses one: SIGKILL to its Wine process, no
    // unhook, no goodbye. The events read so far are kept.
    void Kill();
    // SIGSTOP / SIGCONT to its Wine process: a hang, and its end.
    bool Pause();
    bool Resume();
    // A new stand-in for the same device (after Kill or Stop); events start afresh.
    bool Restart(std::string *pWhy);

    // From now on a thread of this process reads the stand-in's output as it
    // comes: a stand-in that prints faster than its caller reads would
    // otherwise stall on a full pipe in the middle of a slot exchange. Cmd,
    // Get, WaitFor, Drain and Writes work as without it (WaitFor then looks at
    // every line that is no slot exchange, and every 50 ms); Events() must not
    // be used meanwhile, TakeEvents hands them over instead. Until Stop.
    bool Listen();
    // The events kept so far; they are forgotten here.
    std::vector<InfoEvent> TakeEvents();
    // Waits until the events kept hold at least n writes to slots
    // iSlotFrom..iSlotTo. The listening thread wakes the caller with the
    // write it waits for, not with every exchange. Gives up only when no line
    // at all came for stallMs: a stand-in still busy gets all the time it needs.
    bool WaitWrites(size_t n, int iSlotFrom, int iSlotTo, int stallMs);
    // Lines of a kind ("W", "R", "hooked", "withheld", ...) since Start,
    // whether taken or not.
    unsigned long long Total(const std::string &kind) const;
    pid_t Pid() const { return m_child.Pid(); }
private:
    void Take(const std::string &line);
    bool Route(const std::string &line);
    void Listener();
    void EndListener();
    size_t CountWrites(int iSlotFrom, int iSlotTo) const;
    LineChild m_child;
    int m_iDevice = 0;
    std::vector<InfoEvent> m_events;
    std::map<std::string, unsigned long long> m_totals;
    // While listening, the thread and the caller share all of the above
    // but the child's stdin side, and the following, under m_mx.
    mutable std::mutex m_mx;
    std::condition_variable m_cv;
    std::thread m_thListener;
    bool m_fListening = false;
    bool m_fQuitListener = false;
    bool m_fEnded = false;                     // the stand-in's output ended
    std::deque<std::string> m_answers;
    std::vector<std::string> *m_pCmdLines = nullptr;   // where the command in progress wants dump lines
    unsigned long long m_cLines = 0;
    bool m_fWaitWrites = false;
    size_t m_cWritesLeft = 0;
    int m_iWaitFrom = 0, m_iWaitTo = 0;
};

class Driver {
public:
    ~Driver();
    // mixtally.exe <args> with the installation's directory and environment.
    bool Start(const Install &inst, const std::string &args, std::string *pWhy);
    // The same with the program at a host path of its own (an unpacked
    // release, say).
    bool StartExe(const std::string &exe, const Install &inst, const std::string &args, std::string *pWhy);
    bool WaitExit(int timeoutMs, int *piExit) { return m_child.WaitExit(timeoutMs, piExit); }
    bool Running();
    void Kill() { m_child.Release(); }
    pid_t Pid() const { return m_child.Pid(); }
private:
    LineChild m_child;
};

// Runs a Windows tool of the build to its end; returns its exit code (-1 if
// it did not start or overran) and its output lines.
int RunTool(const std::string &exe, const std::vector<std::string> &args,
            std::vector<std::string> *pLines, int timeoutMs = 30000);

// winpeek helpers against the driver of a device.
bool WaitWindow(const std::string &title, int timeoutMs);
std::string ControlText(const std::string &title, int iId, int *piState = nullptr);
std::vector<std::string> DebugLines(const std::string &title);
bool Post(const std::string &title, unsigned uMsg, unsigned long long wParam,
          unsigned long long lParam = 0);
std::map<std::string, std::string> WindowInfo(const std::string &title);
// The window's process seen from outside (winpeek res): "pid", "threads",
// "handles", "windows", ... ; empty when the window is not found.
std::map<std::string, std::string> Resources(const std::string &title);

// boxpress: waits for a message box by caption, presses OK; returns its
// text (newlines as \n) or "<timeout>".
std::string PressBox(const std::string &caption, int timeoutMs = 30000);

// Points $MIXTALLY_PORTS/com<n> at a path (atomically: temp link + rename),
// or removes it (path "").
bool MapPort(int iCom, const std::string &target);

// Polls pred every pollMs until it holds or the deadline passes.
bool Eventually(const std::function<bool()> &pred, int timeoutMs = 20000, int pollMs = 20);

}  // namespace harness
