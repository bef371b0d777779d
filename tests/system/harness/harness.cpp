// harness: see harness.h.
#include "harness.h"
#include <dirent.h>
#include <errno.h>
#include <ftw.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>
#include <algorithm>
#include <fstream>
#include <sstream>

#ifndef MIXTALLY_WIN_BUILD_DIR
#error "MIXTALLY_WIN_BUILD_DIR must name the Windows build tree"
#endif
#ifndef MIXTALLY_WINE_ENV_FILE
#error "MIXTALLY_WINE_ENV_FILE must name the env file of the Wine prefix"
#endif

namespace harness {

static std::string s_winBuild = MIXTALLY_WIN_BUILD_DIR;

std::string WinBin(const std::string &exe) { return s_winBuild + "/bin/" + exe; }

bool Ready(std::string *pWhy)
{
    static int iState;          // 0 unknown, 1 ready, 2 not usable
    static std::string why;
    if (iState == 0) {
        iState = 2;
        // The env file is a shell script: let a shell evaluate it and hand
        // back the resulting environment.
        std::string cmd = std::string(". '") + MIXTALLY_WINE_ENV_FILE + "' && env -0";
        FILE *f = popen(cmd.c_str(), "r");
        std::string all;
        if (f) {
            char ab[4096];
            size_t n;
            while ((n = fread(ab, 1, sizeof ab, f)) > 0)
                all.append(ab, n);
            if (pclose(f) != 0)
                all.clear();
        }
        if (all.empty()) {
            why = std::string("cannot load ") + MIXTALLY_WINE_ENV_FILE + " (run scripts/setup.sh)";
        } else {
            std::istringstream is(all);
            std::string kv;
            while (std::getline(is, kv, '\0')) {
                std::string k = kv.substr(0, kv.find('='));
                if (k != kv && (k.rfind("WINE", 0) == 0 || k.rfind("MIXTALLY", 0) == 0 || k == "DISPLAY"))
                    setenv(k.c_str(), kv.c_str() + k.size() + 1, 1);
            }
            if (!getenv("WINE") || !getenv("MIXTALLY_PORTS"))
                why = "env file sets no WINE / MIXTALLY_PORTS";
            else if (access(WinBin("mixtally.exe").c_str(), R_OK) != 0)
                why = "mixtally.exe not built in " + s_winBuild;
            else
                iState = 1;
        }
    }
    if (pWhy)
        *pWhy = why;
    return iState == 1;
}

std::string WindowsPath(const std::string &hostPath)
{
    std::string s = "Z:" + hostPath;
    for (char &c : s)
        if (c == '/')
            c = '\\';
    return s;
}

std::string ReadFile(const std::string &path)
{
    std::ifstream f(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(f), std::istreambuf_iterator<char>());
}

bool WriteFile(const std::string &path, const std::string &text)
{
    std::ofstream f(path, std::ios::binary | std::ios::trunc);
    f << text;
    return (bool)f;
}

static void ListBelow(const std::string &dir, const std::string &rel, std::vector<std::string> *pv)
{
    DIR *d = opendir((dir + rel).c_str());
    while (struct dirent *e = d ? readdir(d) : nullptr) {
        std::string n = e->d_name;
        struct stat st;
        if (n == "." || n == "..")
            continue;
        if (lstat((dir + rel + n).c_str(), &st) == 0 && S_ISDIR(st.st_mode))
            ListBelow(dir, rel + n + "/", pv);
        else
            pv->push_back(rel + n);
    }
    if (d)
        closedir(d);
}

std::vector<std::string> FilesBelow(const std::string &dir)
{
    std::vector<std::string> v;
    ListBelow(dir + "/", "", &v);
    std::sort(v.begin(), v.end());
    return v;
}

std::string Hex(const uint8_t *pb, size_t n, const char *pszSep)
{
    std::string s;
    char sz[4];
    for (size_t i = 0; i < n; i++) {
        snprintf(sz, sizeof(sz), "%02x", pb[i]);
        s += (i ? pszSep : "") + std::string(sz);
    }
    return s;
}

std::string Title(int iDevice)
{
    char ab[128];
    snprintf(ab, sizeof ab, "DEV_%03d - mixtally - Vede Doriv Urere Dizodo", iDevice);
    return ab;
}

// ------------------------------------------------------------ Install

static int RemoveOne(const char *path, const struct stat *, int, struct FTW *)
{
    return remove(path);
}

Install::Install()
{
    char tmpl[] = "/tmp/mixtally-sys.XXXXXX";
    char *p = mkdtemp(tmpl);
    m_dir = p ? p : "/tmp";
    for (const char *sub : { "/site", "/site/config", "/site/config/system", "/site/windows", "/site/windows/lib" })
        mkdir((m_dir + sub).c_str(), 0755);
    for (const char *lib : { "ZARN_CC.DLL", "ZARN_CC09.DLL" })
        if (access(WinBin(lib).c_str(), R_OK) == 0)
            WriteFile(m_dir + "/site/windows/lib/" + lib, ReadFile(WinBin(lib)));
    Workstation(7);
}

Install::~Install()
{
    if (m_dir.rfind("/tmp/mixtally-sys.", 0) == 0)
        nftw(m_dir.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
}

std::string Install::DevFilePath(int iDevice) const
{
    char ab[32];
    snprintf(ab, sizeof ab, "dev_%03d.ini", iDevice);
    return m_dir + "/site/config/system/" + ab;
}

void Install::DevFile(int iDevice, const std::string &text) { WriteFile(DevFilePath(iDevice), text); }

std::string Install::DevFileText(int iDevice) const { return ReadFile(DevFilePath(iDevice)); }

void Install::Workstation(int iWorkstation)
{
    std::string path = m_dir + "/xnet.ini";
    if (iWorkstation == 0)
        unlink(path.c_str());
    else
        WriteFile(path, "[Network]\r\nWorkstation=" + std::to_string(iWorkstation) + "\r\n");
}

void Install::RemoveLibrary(const std::string &name)
{
    unlink((m_dir + "/site/windows/lib/" + name).c_str());
}

std::vector<std::string> Install::Env() const
{
    if (m_fOlderLayout)
        return {};
    return { "KV_ROOT=" + WindowsPath(m_dir), "KV_SYSTEM=site" };
}

std::string DevFileFor(int iCom, const std::string &extra)
{
    return "[Configuration]\r\nCom=" + std::to_string(iCom) + "\r\nSpeed=38400\r\nParity=N\r\n" + extra;
}

// ------------------------------------------------------------ LineChild

static bool IsAnswer(const std::string &s)
{
    return s == "ok" || s.rfind("ok ", 0) == 0 || s.rfind("err", 0) == 0;
}

bool LineChild::Start(const std::vector<std::string> &argv, const char *pszReady, int readyMs, std::string *pWhy,
                      int iFlags, const std::vector<std::string> &env, const char *pszCwd)
{
    Release();
    m_backlog.clear();
    std::vector<const char *> v;
    for (const std::string &a : argv)
        v.push_back(a.c_str());
    v.push_back(nullptr);
    std::vector<const char *> vEnv;
    for (const std::string &e : env)
        vEnv.push_back(e.c_str());
    vEnv.push_back(nullptr);
    // The program's own name, for the reasons below.
    std::string name = argv.size() > 1 && argv[0] == s_winBuild + "/winerun" ? argv[1] : argv[0];
    name = name.substr(name.rfind('/') + 1);
    if (hpSpawn(&m_p, v.data(), vEnv.data(), pszCwd, iFlags) != 0) {
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
    std::vector<std::string> argv = { s_winBuild + "/winerun", WinBin(exe) };
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

int LineChild::ReadUntil(bool fBacklog, const std::function<bool(const std::string &)> &fnWanted,
                         std::string *pLine, int timeoutMs, const std::function<void(const std::string &)> &fnOther)
{
    long long deadline = hpNowMs() + timeoutMs;
    std::string s;
    for (;;) {
        long long left = deadline - hpNowMs();
        int ms = left > 0 ? (int)left : 0;
        int r = fBacklog ? ReadLine(&s, ms) : Raw(&s, ms);
        if (r != 1)
            return r;
        if (fnWanted(s)) {
            if (pLine)
                *pLine = s;
            return 1;
        }
        if (fnOther)
            fnOther(s);
    }
}

int LineChild::WaitLine(const std::string &prefix, int timeoutMs, std::string *pLine)
{
    return ReadUntil(true, [&](const std::string &s) { return s.rfind(prefix, 0) == 0; }, pLine, timeoutMs,
                     nullptr);
}

int LineChild::Ask(const std::string &cmd, std::string *pAnswer, int timeoutMs,
                   const std::function<void(const std::string &)> &fnEvent)
{
    if (!Send(cmd))
        return -1;
    auto fnKeep = [this](const std::string &s) { m_backlog.push_back(s); };
    return ReadUntil(false, IsAnswer, pAnswer, timeoutMs, fnEvent ? fnEvent : fnKeep);
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
    bool fEnded = WaitExit(timeoutMs, &iExit);
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

// ------------------------------------------------------------ Infodrv

static long long MonotonicNs()
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

Infodrv::~Infodrv() { Stop(); }

bool Infodrv::Start(int iDevice, std::string *pWhy)
{
    m_iDevice = iDevice;
    m_fEnded = false;
    return m_child.StartWine("infodrv.exe", { std::to_string(iDevice) }, "ready ", 60000, pWhy);
}

// Split by hand rather than by a stream: a listening thread takes every
// line of a benchmark's flood, and must cost the machine as little as it can.
void Infodrv::Take(const std::string &line)
{
    InfoEvent e;
    e.tReadNs = MonotonicNs();
    size_t sp = line.find(' ');
    e.kind = line.substr(0, sp);
    if (sp != std::string::npos && (e.kind == "W" || e.kind == "O" || e.kind == "R")) {
        const char *p = line.c_str() + sp;
        char *pEnd;
        e.tUs = strtoll(p, &pEnd, 10);
        e.iSlot = (int)strtol(pEnd, &pEnd, 10);
        if (e.kind == "W")
            strtol(pEnd, &pEnd, 10);    // fNow, not checked
        // The text is the rest of the line after one blank (may hold blanks).
        if (*pEnd == ' ')
            e.text = pEnd + 1;
    }
    m_totals[e.kind]++;
    m_events.push_back(e);
}

// A line that is no answer: a dump line for the command in progress, or an
// event. True for an event.
bool Infodrv::Route(const std::string &line)
{
    if (m_pCmdLines && line.rfind("slot ", 0) == 0) {
        m_pCmdLines->push_back(line);
        return false;
    }
    Take(line);
    return true;
}

std::string Infodrv::Cmd(const std::string &cmd, std::vector<std::string> *pLines, int timeoutMs)
{
    if (!m_child.Started())
        return "";
    std::string s;
    if (!m_fListening) {
        m_pCmdLines = pLines;
        m_child.Ask(cmd, &s, timeoutMs, [&](const std::string &l) { Route(l); });
        m_pCmdLines = nullptr;
        return s;
    }
    std::unique_lock<std::mutex> lk(m_mx);
    m_answers.clear();
    m_pCmdLines = pLines;
    if (m_child.Send(cmd))
        m_cv.wait_for(lk, std::chrono::milliseconds(timeoutMs), [&] { return !m_answers.empty() || m_fEnded; });
    m_pCmdLines = nullptr;
    if (!m_answers.empty()) {
        s = m_answers.front();
        m_answers.pop_front();
    }
    return s;
}

std::string Infodrv::Get(int iSlot)
{
    std::string a = Cmd("get " + std::to_string(iSlot));
    return a.rfind("ok ", 0) == 0 ? a.substr(3) : "<no answer>";
}

bool Infodrv::WaitFor(const std::function<bool(const std::vector<InfoEvent> &)> &pred, int timeoutMs)
{
    long long deadline = hpNowMs() + timeoutMs;
    if (m_fListening) {
        std::unique_lock<std::mutex> lk(m_mx);
        while (!pred(m_events)) {
            long long left = deadline - hpNowMs();
            if (left <= 0)
                return false;
            if (m_fEnded)
                return pred(m_events);
            m_cv.wait_for(lk, std::chrono::milliseconds(left < 50 ? left : 50));
        }
        return true;
    }
    std::string line;
    while (!pred(m_events)) {
        long long left = deadline - hpNowMs();
        if (left <= 0)
            return false;
        int r = m_child.ReadLine(&line, (int)(left < 100 ? left : 100));
        if (r == 1)
            Take(line);
        else if (r < 0)
            return pred(m_events);
    }
    return true;
}

void Infodrv::Drain(int ms)
{
    WaitFor([](const std::vector<InfoEvent> &) { return false; }, ms);
}

std::vector<InfoEvent> Infodrv::Writes(int iSlotFrom, int iSlotTo) const
{
    std::lock_guard<std::mutex> lk(m_mx);
    std::vector<InfoEvent> v;
    for (const InfoEvent &e : m_events)
        if (e.kind == "W" && e.iSlot >= iSlotFrom && e.iSlot <= iSlotTo)
            v.push_back(e);
    return v;
}

// The listening thread: every line as it comes. The caller is woken by an
// answer, by an event other than a slot exchange, and by the write it waits
// for -- not by every exchange, whose wake-ups would load the machine while
// the exchanges are being timed.
void Infodrv::Listener()
{
    std::string s;
    for (;;) {
        int r = m_child.ReadLine(&s, 200);
        std::lock_guard<std::mutex> lk(m_mx);
        if (r < 0 || m_fQuitListener) {
            m_fEnded = r < 0;
            m_cv.notify_all();
            return;
        }
        if (r == 0)
            continue;
        m_cLines++;
        if (IsAnswer(s)) {
            m_answers.push_back(s);
            m_cv.notify_all();
            continue;
        }
        if (!Route(s))
            continue;
        const InfoEvent &e = m_events.back();
        bool fExchange = e.kind == "W" || e.kind == "R";
        if (m_fWaitWrites && e.kind == "W" && e.iSlot >= m_iWaitFrom && e.iSlot <= m_iWaitTo &&
            m_cWritesLeft > 0 && --m_cWritesLeft == 0)
            fExchange = false;
        if (!fExchange)
            m_cv.notify_all();
    }
}

bool Infodrv::Listen()
{
    if (!m_child.Started())
        return false;
    if (!m_fListening) {
        m_fQuitListener = false;
        m_fListening = true;
        m_thListener = std::thread(&Infodrv::Listener, this);
    }
    return true;
}

// Before the child's output side is closed: the thread reads from it.
void Infodrv::EndListener()
{
    if (!m_fListening)
        return;
    {
        std::lock_guard<std::mutex> lk(m_mx);
        m_fQuitListener = true;
    }
    m_thListener.join();
    m_fListening = false;
}

std::vector<InfoEvent> Infodrv::TakeEvents()
{
    std::lock_guard<std::mutex> lk(m_mx);
    std::vector<InfoEvent> v;
    v.swap(m_events);
    return v;
}

size_t Infodrv::CountWrites(int iSlotFrom, int iSlotTo) const
{
    size_t c = 0;
    for (const InfoEvent &e : m_events)
        c += e.kind == "W" && e.iSlot >= iSlotFrom && e.iSlot <= iSlotTo;
    return c;
}

bool Infodrv::WaitWrites(size_t n, int iSlotFrom, int iSlotTo, int stallMs)
{
    if (!m_fListening)
        return WaitFor([&](const std::vector<InfoEvent> &) { return CountWrites(iSlotFrom, iSlotTo) >= n; },
                       stallMs);
    std::unique_lock<std::mutex> lk(m_mx);
    size_t c = CountWrites(iSlotFrom, iSlotTo);
    if (c >= n)
        return true;
    m_cWritesLeft = n - c;
    m_iWaitFrom = iSlotFrom;
    m_iWaitTo = iSlotTo;
    m_fWaitWrites = true;
    for (;;) {
        unsigned long long cSeen = m_cLines;
        m_cv.wait_for(lk, std::chrono::milliseconds(stallMs), [&] { return m_cWritesLeft == 0 || m_fEnded; });
        if (m_cWritesLeft == 0 || m_fEnded || m_cLines == cSeen)
            break;
    }
    m_fWaitWrites = false;
    return m_cWritesLeft == 0;
}

unsigned long long Infodrv::Total(const std::string &kind) const
{
    std::lock_guard<std::mutex> lk(m_mx);
    auto it = m_totals.find(kind);
    return it == m_totals.end() ? 0 : it->second;
}

void Infodrv::Stop()
{
    if (!m_child.Started())
        return;
    Resume();       // a paused stand-in must run to quit
    m_child.Quit("quit", 10000);
    EndListener();
    m_child.Release();
}

void Infodrv::Kill()
{
    m_child.Kill();
    EndListener();
    m_child.Release();
}

// winerun execs the Wine loader, so the child is the stand-in's Wine process
// and a signal to it reaches all its threads. Never to its group: Wine's
// explorer.exe may run there (see hpKill), and stopping it stops every window.
static bool Signal(const LineChild &child, int iSig)
{
    return child.Started() && child.Pid() > 0 && kill(child.Pid(), iSig) == 0;
}

bool Infodrv::Pause() { return Signal(m_child, SIGSTOP); }

bool Infodrv::Resume() { return Signal(m_child, SIGCONT); }

bool Infodrv::Restart(std::string *pWhy)
{
    Stop();
    m_events.clear();
    return Start(m_iDevice, pWhy);
}

// ------------------------------------------------------------ Driver

Driver::~Driver() { Kill(); }

bool Driver::Start(const Install &inst, const std::string &args, std::string *pWhy)
{
    return StartExe(WinBin("mixtally.exe"), inst, args, pWhy);
}

bool Driver::StartExe(const std::string &exe, const Install &inst, const std::string &args, std::string *pWhy)
{
    // An empty argument still gives the program an (empty) command line.
    std::vector<std::string> argv = { s_winBuild + "/winerun", exe };
    if (!args.empty())
        argv.push_back(args);
    return m_child.Start(argv, nullptr, 0, pWhy, HP_QUIET, inst.Env(), inst.Dir().c_str());
}

bool Driver::Running()
{
    int iExit;
    return m_child.Started() && !m_child.WaitExit(0, &iExit);
}

// ------------------------------------------------------------ tools

int RunTool(const std::string &exe, const std::vector<std::string> &args,
            std::vector<std::string> *pLines, int timeoutMs)
{
    LineChild c;
    std::string why;
    if (!c.StartWine(exe, args, nullptr, 0, &why, HP_STDOUT))
        return -1;
    long long deadline = hpNowMs() + timeoutMs;
    std::vector<std::string> v = c.Rest(timeoutMs);
    if (pLines)
        pLines->insert(pLines->end(), v.begin(), v.end());
    int iExit = -1;
    long long left = deadline - hpNowMs();
    return c.Quit(nullptr, left > 0 ? (int)left : 0, &iExit) ? iExit : -1;
}

// The rest of the line that starts with tag, or pszMissing.
static std::string Field(const std::vector<std::string> &lines, const std::string &tag, const char *pszMissing = "")
{
    for (const std::string &l : lines)
        if (l.rfind(tag + " ", 0) == 0)
            return l.substr(tag.size() + 1);
    return pszMissing;
}

bool WaitWindow(const std::string &title, int timeoutMs)
{
    return RunTool("winpeek.exe", { "wait", title, std::to_string(timeoutMs) }, nullptr,
                   timeoutMs + 30000) == 0;
}

std::string ControlText(const std::string &title, int iId, int *piState)
{
    std::vector<std::string> lines;
    if (RunTool("winpeek.exe", { "text", title, std::to_string(iId) }, &lines) != 0)
        return "<no control>";
    if (piState)
        *piState = atoi(Field(lines, "state", "-1").c_str());
    return Field(lines, "text");
}

std::vector<std::string> DebugLines(const std::string &title)
{
    std::vector<std::string> lines, out;
    if (RunTool("winpeek.exe", { "list", title, "1001" }, &lines) != 0)
        return out;
    for (const std::string &l : lines)
        if (l.rfind("line ", 0) == 0)
            out.push_back(l.substr(5));
    return out;
}

bool Post(const std::string &title, unsigned uMsg, unsigned long long wParam, unsigned long long lParam)
{
    return RunTool("winpeek.exe", { "post", title, std::to_string(uMsg), std::to_string(wParam),
                                    std::to_string(lParam) }, nullptr) == 0;
}

// A winpeek verb's "key value" lines.
static std::map<std::string, std::string> Facts(const std::string &verb, const std::string &title)
{
    std::vector<std::string> lines;
    std::map<std::string, std::string> m;
    RunTool("winpeek.exe", { verb, title }, &lines);
    for (const std::string &l : lines) {
        size_t sp = l.find(' ');
        if (sp != std::string::npos)
            m[l.substr(0, sp)] = l.substr(sp + 1);
    }
    return m;
}

std::map<std::string, std::string> WindowInfo(const std::string &title) { return Facts("info", title); }

std::map<std::string, std::string> Resources(const std::string &title) { return Facts("res", title); }

std::string PressBox(const std::string &caption, int timeoutMs)
{
    std::vector<std::string> lines;
    int r = RunTool("boxpress.exe", { caption, std::to_string(timeoutMs) }, &lines, timeoutMs + 30000);
    return r != 0 ? "<timeout>" : Field(lines, "text:", "<no text>");
}

bool MapPort(int iCom, const std::string &target)
{
    const char *ports = getenv("MIXTALLY_PORTS");
    if (!ports)
        return false;
    std::string link = std::string(ports) + "/com" + std::to_string(iCom);
    if (target.empty())
        return unlink(link.c_str()) == 0 || errno == ENOENT;
    std::string tmp = link + ".tmp." + std::to_string(getpid());
    unlink(tmp.c_str());
    if (symlink(target.c_str(), tmp.c_str()) != 0)
        return false;
    return rename(tmp.c_str(), link.c_str()) == 0;
}

bool Eventually(const std::function<bool()> &pred, int timeoutMs, int pollMs)
{
    long long deadline = hpNowMs() + timeoutMs;
    while (!pred()) {
        if (hpNowMs() > deadline)
            return false;
        usleep(pollMs * 1000);
    }
    return true;
}

}  // namespace harness
