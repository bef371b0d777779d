// mixbench: how far above the serial line's floor the tally driver sits.
//
// Runs the real mixtally.exe under Wine against the simulated mixer (mixsim,
// in this process) and the stand-in infodriver, plus the Windows probe
// benchprobe.exe, and prints one table: tally latency per kind of frame, the
// platform's bare slot exchange, the driver's in-process cost per frame,
// sustained throughput, idle cost and start-up. The same figures go to a
// JSON file. Figures are printed, never judged: the only failures are
// measurements that could not be made, and lost or wrong slot writes.
//
// Clocks: mixsim stamps with CLOCK_MONOTONIC, the stand-in and the probe with
// QueryPerformanceCounter. Both are brought to CLOCK_MONOTONIC_RAW: every
// mixsim stamp is shifted by the MONOTONIC-RAW difference read right after
// it, and QPC is checked against RAW by bracketing probe readings between
// two host readings (at the start and at the end of the run).
#include <condition_variable>
#include <deque>
#include <mutex>
#include <string>
#include <thread>
#include <vector>
#include <algorithm>

#include <dirent.h>
#include <errno.h>
#include <limits.h>
#include <stdarg.h>
#include <stdint.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>
#include <time.h>
#include <unistd.h>

#include "harness.h"
#include "mixsim.h"
#include "hostproc.h"

#define BENCH_DEV_DRIVER   300     // the real driver's infodriver
#define BENCH_DEV_FLOOR    301     // the bare-exchange probe's infodriver
#define BENCH_DEV_INPROC   302     // the in-process probe's infodriver
#define BENCH_COM_DRIVER   13
#define BENCH_COM_INPROC   14
#define BENCH_BAUD         38400.0
#define BENCH_BITS_PER_CHAR 11.0
#define WAIT_LONG_MS       60000

// ------------------------------------------------------------ options, output

static int fQuick;
static int iFrames = 1000;         // frames per latency case
static int iIdleS = 60;            // idle window
static int iStartRuns = 5;         // start-up repetitions
static int iExchanges = 2000;      // bare exchanges per kind
static int iBreakdownRounds = 40;  // rounds of the in-process breakdown
static std::string sJsonDir;

static std::string sJson;          // the JSON document being built
static int cFailures;              // measurements that failed or lost data

static void fnFail(const char *pszFormat, ...)
{
    va_list ap;
    va_start(ap, pszFormat);
    fprintf(stderr, "mixbench: ");
    vfprintf(stderr, pszFormat, ap);
    fprintf(stderr, "\n");
    va_end(ap);
    cFailures++;
}

static void fnNote(const char *pszFormat, ...)
{
    va_list ap;
    va_start(ap, pszFormat);
    fprintf(stderr, "[bench] ");
    vfprintf(stderr, pszFormat, ap);
    fprintf(stderr, "\n");
    va_end(ap);
}

static std::string fnFmt(const char *pszFormat, ...)
{
    char ac[2048];
    va_list ap;
    va_start(ap, pszFormat);
    vsnprintf(ac, sizeof ac, pszFormat, ap);
    va_end(ap);
    return ac;
}

static void fnJson(const char *pszKey, const std::string &sValue)
{
    if (!sJson.empty())
        sJson += ",\n";
    sJson += "  \"" + std::string(pszKey) + "\": " + sValue;
}

static std::string fnJsonStr(const std::string &s)
{
    std::string o = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\')
            o += '\\';
        if ((unsigned char)c < 0x20)
            continue;
        o += c;
    }
    return o + "\"";
}

// ------------------------------------------------------------ clocks, stats

static long long fnNs(clockid_t id)
{
    struct timespec ts;
    clock_gettime(id, &ts);
    return (long long)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

// MONOTONIC - RAW right now: read RAW on both sides of MONOTONIC.
static long long fnMonoMinusRaw(void)
{
    long long r0 = fnNs(CLOCK_MONOTONIC_RAW);
    long long m = fnNs(CLOCK_MONOTONIC);
    long long r1 = fnNs(CLOCK_MONOTONIC_RAW);
    return m - (r0 + r1) / 2;
}

static long long llQpcMinusRaw;    // applied to every QPC stamp (0 when QPC is RAW)

struct STATS {
    size_t n = 0;
    double p50 = 0, p99 = 0, max = 0, min = 0, mean = 0;
};

static STATS fnStats(std::vector<double> v)
{
    STATS s;
    if (v.empty())
        return s;
    std::sort(v.begin(), v.end());
    s.n = v.size();
    s.p50 = v[v.size() / 2];
    s.p99 = v[(v.size() * 99) / 100];
    s.max = v.back();
    s.min = v.front();
    double d = 0;
    for (double x : v)
        d += x;
    s.mean = d / (double)v.size();
    return s;
}

static std::string fnJsonStats(const STATS &s)
{
    return fnFmt("{\"n\": %zu, \"p50\": %.4f, \"p99\": %.4f, \"max\": %.4f, \"min\": %.4f, \"mean\": %.4f}",
                 s.n, s.p50, s.p99, s.max, s.min, s.mean);
}

static double fnWireMs(int cBytes)
{
    return cBytes * BENCH_BITS_PER_CHAR / BENCH_BAUD * 1000.0;
}

// ------------------------------------------------------------ the stand-in infodriver

struct WEVENT {
    long long llQpcNs;
    int iSlot;
    char cText;            // first character of the text ('0' / '1'), 0 if empty
};

// The stand-in with a reader thread that drains its output at all times (a
// full pipe would stall it in the middle of an exchange).
struct STANDIN {
    HOSTPROC hp{};
    int iDevice = 0;
    std::thread th;
    std::mutex mx;                  // guards everything below
    std::condition_variable cv;
    std::vector<WEVENT> vW;         // tally writes (slots 1..128) since fnSiClear
    unsigned long long ullTallyReads = 0, ullTallyWrites = 0, ullOtherWrites = 0;
    std::deque<std::string> dqAnswers;
    std::vector<std::string> vDump;
    long long llHookedNs = 0;       // CLOCK_MONOTONIC when "hooked" was read; 0: not yet
    int fEnd = 0;
    size_t cWaitWrites = 0;         // a waiter wants this many writes; 0: none waits for writes
    int fKeepExchanges = 0;         // set: every tally read and write is kept in vX (its stamp, R or W, slot)
    std::vector<WEVENT> vX;         // cText 'R' for a read, 'W' for a write
};

static void fnSiReader(STANDIN *psi)
{
    char acLine[4096];
    for (;;) {
        int r = hpReadLine(&psi->hp, acLine, sizeof acLine, 500);
        if (r == 0)
            continue;
        std::lock_guard<std::mutex> lk(psi->mx);
        if (r < 0) {
            psi->fEnd = 1;
            psi->cv.notify_all();
            return;
        }
        if (acLine[0] == 'W' && acLine[1] == ' ') {
            unsigned long long ullUs;
            int iSlot, fNow, n = 0;
            if (sscanf(acLine + 2, "%llu %d %d %n", &ullUs, &iSlot, &fNow, &n) >= 3) {
                if (iSlot >= 1 && iSlot <= 128) {
                    WEVENT e;
                    e.llQpcNs = (long long)ullUs * 1000;
                    e.iSlot = iSlot;
                    e.cText = n > 0 ? acLine[2 + n] : 0;
                    psi->vW.push_back(e);
                    psi->ullTallyWrites++;
                    if (psi->fKeepExchanges) {
                        e.cText = 'W';
                        psi->vX.push_back(e);
                    }
                } else {
                    psi->ullOtherWrites++;
                }
            }
            // The waiter is woken by the write it waits for, not by every
            // write of a frame: those wake-ups would load the machine while
            // the frame is being measured.
            if (psi->cWaitWrites == 0 || psi->vW.size() < psi->cWaitWrites)
                continue;
        } else if (acLine[0] == 'R' && acLine[1] == ' ') {
            unsigned long long ullUs;
            int iSlot;
            if (sscanf(acLine + 2, "%llu %d", &ullUs, &iSlot) == 2 && iSlot >= 1 && iSlot <= 128) {
                psi->ullTallyReads++;
                if (psi->fKeepExchanges)
                    psi->vX.push_back(WEVENT{ (long long)ullUs * 1000, iSlot, 'R' });
            }
            // Only counted: nobody waits for a read, and a wake-up per
            // exchange would add the rig's own load to what is measured.
            continue;
        } else if (strncmp(acLine, "hooked", 6) == 0) {
            psi->llHookedNs = fnNs(CLOCK_MONOTONIC);
        } else if (strncmp(acLine, "slot ", 5) == 0) {
            psi->vDump.push_back(acLine);
        } else if (strncmp(acLine, "ok", 2) == 0 || strncmp(acLine, "err", 3) == 0) {
            psi->dqAnswers.push_back(acLine);
        }
        psi->cv.notify_all();
    }
}

static int fnSiStart(STANDIN *psi, int iDevice)
{
    std::string sDev = std::to_string(iDevice);
    const char *apszArgs[] = { sDev.c_str(), nullptr };
    char acLine[4096];
    psi->iDevice = iDevice;
    if (hpSpawnWine(&psi->hp, harness::WinBuild().c_str(), "infodrv.exe", apszArgs, nullptr,
                    HP_STDIN | HP_STDOUT) != 0) {
        fnFail("infodrv.exe %d did not start: %s", iDevice, strerror(errno));
        return -1;
    }
    if (hpReadLineStarting(&psi->hp, "ready ", acLine, sizeof acLine, WAIT_LONG_MS) != 1) {
        fnFail("infodrv.exe %d printed no ready line", iDevice);
        hpRelease(&psi->hp);
        return -1;
    }
    psi->th = std::thread(fnSiReader, psi);
    return 0;
}

// One command; its answer line, or "" after the time-out.
static std::string fnSiCmd(STANDIN *psi, const std::string &sCmd, int iTimeoutMs = 20000)
{
    std::unique_lock<std::mutex> lk(psi->mx);
    psi->dqAnswers.clear();
    psi->vDump.clear();
    if (hpWriteLine(&psi->hp, sCmd.c_str()) != 0)
        return "";
    if (!psi->cv.wait_for(lk, std::chrono::milliseconds(iTimeoutMs),
                          [&] { return !psi->dqAnswers.empty() || psi->fEnd; }) ||
        psi->dqAnswers.empty())
        return "";
    std::string s = psi->dqAnswers.front();
    psi->dqAnswers.pop_front();
    return s;
}

static void fnSiClear(STANDIN *psi)
{
    std::lock_guard<std::mutex> lk(psi->mx);
    psi->vW.clear();
}

// Waits until at least cWrites tally writes arrived since fnSiClear; copies
// them. Gives up only when no write at all came for iStallMs: a driver that
// lags behind still gets all the time it needs to catch up.
static int fnSiWaitWrites(STANDIN *psi, size_t cWrites, int iStallMs, std::vector<WEVENT> *pv)
{
    std::unique_lock<std::mutex> lk(psi->mx);
    psi->cWaitWrites = cWrites;
    for (;;) {
        size_t cSeen = psi->vW.size();
        psi->cv.wait_for(lk, std::chrono::milliseconds(iStallMs),
                         [&] { return psi->vW.size() >= cWrites || psi->fEnd; });
        if (psi->vW.size() >= cWrites || psi->fEnd || psi->vW.size() == cSeen)
            break;
    }
    psi->cWaitWrites = 0;
    if (pv != nullptr)
        *pv = psi->vW;
    return psi->vW.size() >= cWrites;
}

// The texts of slots 1..128 as '0'/'1' (' ' for empty); "" if no answer.
static std::string fnSiTally(STANDIN *psi)
{
    if (fnSiCmd(psi, "dump 1 128") != "ok")
        return "";
    std::string s(128, ' ');
    std::lock_guard<std::mutex> lk(psi->mx);
    for (const std::string &l : psi->vDump) {
        int iSlot, n = 0;
        if (sscanf(l.c_str(), "slot %d %n", &iSlot, &n) >= 1 && iSlot >= 1 && iSlot <= 128 && n > 0)
            s[(size_t)iSlot - 1] = l[(size_t)n];
    }
    return s;
}

static void fnSiStop(STANDIN *psi)
{
    if (psi->hp.pid <= 0)
        return;
    hpWriteLine(&psi->hp, "quit");
    hpCloseStdin(&psi->hp);
    int iExit;
    if (!hpWaitExit(&psi->hp, 10000, &iExit))
        hpKill(&psi->hp);
    if (psi->th.joinable())
        psi->th.join();
    hpRelease(&psi->hp);
}

// ------------------------------------------------------------ maps

static std::string fnMapSlots(const uint8_t abMap[16])
{
    std::string s(128, '0');
    for (int x = 0; x < 16; x++)
        for (int i = 0; i < 8; i++)
            if (abMap[x] & (1u << i))
                s[(size_t)(8 * x + i)] = '1';
    return s;
}

static int fnDiffBits(const uint8_t abA[16], const uint8_t abB[16])
{
    int c = 0;
    for (int x = 0; x < 16; x++)
        c += __builtin_popcount((unsigned)(abA[x] ^ abB[x]));
    return c;
}

static int fnDiffBytes(const uint8_t abA[16], const uint8_t abB[16])
{
    int c = 0;
    for (int x = 0; x < 16; x++)
        c += abA[x] != abB[x];
    return c;
}

// Slot reads the driver makes before the last slot write of a frame: it
// examines changed map bytes in ascending order, reading each of their eight
// slots in turn and writing right after a read that differs, so the latency
// (which ends at the last write) contains only the reads up to that slot.
static int fnReadsBeforeLastWrite(const uint8_t abA[16], const uint8_t abB[16])
{
    int cReads = 0, cAtLast = 0;
    for (int x = 0; x < 16; x++) {
        if (abA[x] == abB[x])
            continue;
        for (int i = 0; i < 8; i++) {
            cReads++;
            if ((abA[x] ^ abB[x]) & (1 << i))
                cAtLast = cReads;
        }
    }
    return cAtLast;
}

// The kinds of frame measured. A map's frame carries its non-zero bytes only.
struct CASE {
    const char *pszKey;
    const char *pszName;
    uint8_t bA, bB;        // the two values that alternate
    int fAllBytes;         // all 16 map bytes (else map byte 0 alone)
};

static const CASE aCases[] = {
    { "one_byte",        "(a) 1 map byte, 1 slot flips",     0x01, 0x03, 0 },
    { "all_bytes",       "(b) 16 map bytes, 16 slots flip",  0x01, 0x03, 1 },
    { "all_bytes_all",   "(b') 16 map bytes, 128 slots flip", 0x55, 0xAA, 1 },
    { "identical",       "(c) identical frame",              0x55, 0x55, 1 },
};
#define CASE_IDENTICAL 3

static void fnCaseMap(const CASE &c, int fB, uint8_t abMap[16])
{
    memset(abMap, 0, 16);
    for (int x = 0; x < (c.fAllBytes ? 16 : 1); x++)
        abMap[x] = fB ? c.bB : c.bA;
}

// Frames per case: the quick run keeps the costly all-bytes cases short.
static int fnCaseFrames(const CASE &c)
{
    return fQuick && c.fAllBytes && c.bA != c.bB ? 10 : iFrames;
}

static int fnFrameBytes(const uint8_t abMap[16])
{
    uint8_t ab[22];
    return (int)msEncodeTally(abMap, ab);
}

// ------------------------------------------------------------ /proc

// utime + stime from a stat file of /proc.
static int fnStatTicks(const char *pszPath, unsigned long long *pull)
{
    char ac[1024];
    FILE *f = fopen(pszPath, "r");
    if (f == nullptr)
        return -1;
    size_t n = fread(ac, 1, sizeof ac - 1, f);
    fclose(f);
    ac[n] = 0;
    char *p = strrchr(ac, ')');
    if (p == nullptr)
        return -1;
    // After the command: state (field 3) ... utime is field 14, stime 15.
    unsigned long long ullU = 0, ullS = 0;
    if (sscanf(p + 2, "%*c %*d %*d %*d %*d %*d %*u %*u %*u %*u %*u %llu %llu", &ullU, &ullS) != 2)
        return -1;
    *pull = ullU + ullS;
    return 0;
}

static int fnCpuTicks(pid_t pid, unsigned long long *pull)
{
    char acPath[64];
    snprintf(acPath, sizeof acPath, "/proc/%d/stat", (int)pid);
    return fnStatTicks(acPath, pull);
}

// CPU ticks of every thread of a process, by thread id.
static std::vector<std::pair<int, unsigned long long>> fnThreadTicks(pid_t pid)
{
    std::vector<std::pair<int, unsigned long long>> v;
    char acDir[64];
    snprintf(acDir, sizeof acDir, "/proc/%d/task", (int)pid);
    DIR *d = opendir(acDir);
    if (d == nullptr)
        return v;
    while (struct dirent *e = readdir(d)) {
        unsigned long long ull;
        char acPath[400];
        snprintf(acPath, sizeof acPath, "%s/%s/stat", acDir, e->d_name);
        if (e->d_name[0] >= '0' && e->d_name[0] <= '9' && fnStatTicks(acPath, &ull) == 0)
            v.push_back(std::make_pair(atoi(e->d_name), ull));
    }
    closedir(d);
    return v;
}

static long fnRssKb(pid_t pid)
{
    char acPath[64], ac[256];
    snprintf(acPath, sizeof acPath, "/proc/%d/status", (int)pid);
    FILE *f = fopen(acPath, "r");
    long l = -1;
    if (f == nullptr)
        return -1;
    while (fgets(ac, sizeof ac, f) != nullptr)
        if (sscanf(ac, "VmRSS: %ld", &l) == 1)
            break;
    fclose(f);
    return l;
}

static std::string fnProcComm(pid_t pid)
{
    char acPath[64], ac[64] = "";
    snprintf(acPath, sizeof acPath, "/proc/%d/comm", (int)pid);
    FILE *f = fopen(acPath, "r");
    if (f != nullptr) {
        if (fgets(ac, sizeof ac, f) == nullptr)
            ac[0] = 0;
        fclose(f);
    }
    ac[strcspn(ac, "\n")] = 0;
    return ac;
}

// The wineserver of our prefix: its working directory is the server
// directory named after the prefix's device and inode.
static pid_t fnWineserverPid(void)
{
    const char *pszPrefix = getenv("WINEPREFIX");
    struct stat st;
    if (pszPrefix == nullptr || stat(pszPrefix, &st) != 0)
        return 0;
    char acTail[64];
    snprintf(acTail, sizeof acTail, "/server-%llx-%llx", (unsigned long long)st.st_dev,
             (unsigned long long)st.st_ino);
    DIR *d = opendir("/proc");
    pid_t pidFound = 0;
    if (d == nullptr)
        return 0;
    while (struct dirent *e = readdir(d)) {
        if (e->d_name[0] < '0' || e->d_name[0] > '9')
            continue;
        char acLink[300], acCwd[PATH_MAX];
        snprintf(acLink, sizeof acLink, "/proc/%s/cwd", e->d_name);
        ssize_t n = readlink(acLink, acCwd, sizeof acCwd - 1);
        if (n <= 0)
            continue;
        acCwd[n] = 0;
        size_t cbTail = strlen(acTail);
        if ((size_t)n >= cbTail && strcmp(acCwd + n - cbTail, acTail) == 0 &&
            fnProcComm(atoi(e->d_name)).find("wineserver") != std::string::npos) {
            pidFound = atoi(e->d_name);
            break;
        }
    }
    closedir(d);
    return pidFound;
}

// ------------------------------------------------------------ machine

static std::string fnCmdOutput(const std::string &sCmd)
{
    FILE *f = popen(sCmd.c_str(), "r");
    std::string s;
    if (f == nullptr)
        return s;
    char ac[512];
    while (fgets(ac, sizeof ac, f) != nullptr)
        s += ac;
    pclose(f);
    while (!s.empty() && (s.back() == '\n' || s.back() == '\r'))
        s.pop_back();
    return s;
}

static std::string fnMachine(void)
{
    std::string sModel = "?";
    long lMemKb = 0;
    FILE *f = fopen("/proc/cpuinfo", "r");
    char ac[512];
    if (f != nullptr) {
        while (fgets(ac, sizeof ac, f) != nullptr)
            if (strncmp(ac, "model name", 10) == 0) {
                const char *p = strchr(ac, ':');
                sModel = p ? p + 2 : ac;
                sModel.erase(sModel.find_last_not_of("\n ") + 1);
                break;
            }
        fclose(f);
    }
    f = fopen("/proc/meminfo", "r");
    if (f != nullptr) {
        while (fgets(ac, sizeof ac, f) != nullptr)
            if (sscanf(ac, "MemTotal: %ld", &lMemKb) == 1)
                break;
        fclose(f);
    }
    const char *pszWine = getenv("WINE");
    std::string sWine = pszWine ? fnCmdOutput(std::string("'") + pszWine + "' --version 2>/dev/null") : "?";
    long lCores = sysconf(_SC_NPROCESSORS_ONLN);
    std::string sArch = getenv("MIXTALLY_ARCH") ? getenv("MIXTALLY_ARCH") : "?";
    // What ran the figures: the build's architecture and the Wine loader's
    // width (the prefix's WINEARCH), e.g. "i686 / wine32 (wine-8.0 ...)".
    const char *pszWineArch = getenv("WINEARCH");
    std::string sRunsOn = sArch + " / " +
                          (pszWineArch ? (strcmp(pszWineArch, "win32") == 0 ? "wine32" : "wine64") : "wine?") +
                          " (" + sWine + ")";
    std::string sLoad = fnCmdOutput("cut -d' ' -f1-3 /proc/loadavg");
    fnJson("machine", fnFmt("{\"nproc\": %ld, \"cpu\": %s, \"mem_kb\": %ld, \"wine\": %s, \"arch\": %s, "
                            "\"runs_on\": %s, \"loadavg_at_start\": %s}",
                            lCores, fnJsonStr(sModel).c_str(), lMemKb, fnJsonStr(sWine).c_str(),
                            fnJsonStr(sArch).c_str(), fnJsonStr(sRunsOn).c_str(), fnJsonStr(sLoad).c_str()));
    return fnFmt("machine: %ld cores, %s, %.1f GiB; ran on %s; load average at start %s", lCores,
                 sModel.c_str(), lMemKb / 1048576.0, sRunsOn.c_str(), sLoad.c_str());
}

// ------------------------------------------------------------ clock check

struct CLOCKCHECK {
    int fOk = 0;
    long long llQpcMinusRaw = 0;    // best bracket's midpoint
    long long llHalfWidth = 0;      // and its half width
    long long llQpcMinusMono = 0;
    long long llRawSpreadNs = 0;    // spread of QPC-RAW over the 20 tightest brackets
    int cSamples = 0;
};

// Brackets probe readings of QPC between host readings of RAW and MONOTONIC.
static CLOCKCHECK fnClockCheck(int cSamples)
{
    CLOCKCHECK cc;
    HOSTPROC hp{};
    const char *apszArgs[] = { "clock", nullptr };
    char acLine[256];
    if (hpSpawnWine(&hp, harness::WinBuild().c_str(), "benchprobe.exe", apszArgs, nullptr,
                    HP_STDIN | HP_STDOUT) != 0 ||
        hpReadLineStarting(&hp, "freq ", acLine, sizeof acLine, WAIT_LONG_MS) != 1) {
        fnFail("benchprobe clock did not start");
        hpRelease(&hp);
        return cc;
    }
    struct SAMPLE { long long llWidth, llRaw, llMono; };
    std::vector<SAMPLE> v;
    for (int i = 0; i < cSamples; i++) {
        long long r0 = fnNs(CLOCK_MONOTONIC_RAW), m0 = fnNs(CLOCK_MONOTONIC);
        if (hpWriteLine(&hp, "t") != 0 || hpReadLineStarting(&hp, "qpc_ns ", acLine, sizeof acLine, 10000) != 1)
            break;
        long long m1 = fnNs(CLOCK_MONOTONIC), r1 = fnNs(CLOCK_MONOTONIC_RAW);
        long long llQpc = atoll(acLine + 7);
        v.push_back({ r1 - r0, llQpc - (r0 + r1) / 2, llQpc - (m0 + m1) / 2 });
    }
    hpCloseStdin(&hp);
    int iExit;
    hpWaitExit(&hp, 10000, &iExit);
    hpRelease(&hp);
    if (v.size() < 20) {
        fnFail("clock check: only %zu readings", v.size());
        return cc;
    }
    std::sort(v.begin(), v.end(), [](const SAMPLE &a, const SAMPLE &b) { return a.llWidth < b.llWidth; });
    cc.fOk = 1;
    cc.cSamples = (int)v.size();
    cc.llQpcMinusRaw = v[0].llRaw;
    cc.llHalfWidth = v[0].llWidth / 2;
    cc.llQpcMinusMono = v[0].llMono;
    long long llLo = v[0].llRaw, llHi = v[0].llRaw;
    for (size_t i = 0; i < 20; i++) {
        llLo = std::min(llLo, v[i].llRaw);
        llHi = std::max(llHi, v[i].llRaw);
    }
    cc.llRawSpreadNs = llHi - llLo;
    return cc;
}

// ------------------------------------------------------------ the driver rig

struct RIG {
    int iDevice = BENCH_DEV_DRIVER;
    harness::Install *pInst = nullptr;
    MIXSIM *psim = nullptr;
    STANDIN si;
    HOSTPROC hpDrv{};
    int fDrv = 0;
    uint8_t abMap[16];     // the map the driver decoded last
    int fFirst = 1;        // the next tally frame is the first since start-up
};

static int fnDriverStart(RIG *prig, long long *pllLaunchNs)
{
    std::vector<std::string> vEnv = prig->pInst->Env();
    const char *apszEnv[] = { vEnv[0].c_str(), vEnv[1].c_str(), nullptr };
    std::string sRun = harness::WinBuild() + "/winerun";
    std::string sExe = harness::WinBin("mixtally.exe");
    std::string sDev = std::to_string(prig->iDevice);
    const char *apszArgv[] = { sRun.c_str(), sExe.c_str(), sDev.c_str(), nullptr };
    {
        std::lock_guard<std::mutex> lk(prig->si.mx);
        prig->si.llHookedNs = 0;
    }
    msReset(prig->psim);
    *pllLaunchNs = fnNs(CLOCK_MONOTONIC);
    if (hpSpawn(&prig->hpDrv, apszArgv, apszEnv, prig->pInst->Dir().c_str(), HP_QUIET) != 0) {
        fnFail("mixtally.exe did not start: %s", strerror(errno));
        return -1;
    }
    prig->fDrv = 1;
    prig->fFirst = 1;
    memset(prig->abMap, 0xFF, sizeof prig->abMap);
    return 0;
}

// Closes the driver the way the control system does (close message through
// the hook window), so that it unhooks and closes its port.
static void fnDriverStop(RIG *prig)
{
    if (!prig->fDrv)
        return;
    int iExit;
    fnSiCmd(&prig->si, "close");
    if (!hpWaitExit(&prig->hpDrv, 20000, &iExit)) {
        fnFail("the driver did not end after the close message");
        hpKill(&prig->hpDrv);
    }
    hpRelease(&prig->hpDrv);
    prig->fDrv = 0;
}

// Sends a map; *pllDoneRaw: the simulator's done stamp on the RAW clock.
static int fnSendMap(MIXSIM *psim, const uint8_t abMap[16], long long *pllDoneRaw)
{
    int64_t llDone = 0;
    if (msSendMap(psim, abMap, &llDone) != 0)
        return -1;
    *pllDoneRaw = llDone - fnMonoMinusRaw();
    return 0;
}

// Sends a map to the driver and waits for the writes it must cause; the
// latency from the done stamp to the last write, in ms (-1: failed).
static double fnOneFrame(RIG *prig, const uint8_t abMap[16], int *pcWrong)
{
    size_t cExpect = prig->fFirst ? 128 : (size_t)fnDiffBits(prig->abMap, abMap);
    std::string sSlots = fnMapSlots(abMap);
    std::vector<WEVENT> v;
    long long llDone;
    fnSiClear(&prig->si);
    if (fnSendMap(prig->psim, abMap, &llDone) != 0) {
        fnFail("pty write failed");
        return -1;
    }
    if (!fnSiWaitWrites(&prig->si, cExpect, 20000, &v)) {
        fnFail("frame lost: %zu of %zu slot writes, then none for 20 s", v.size(), cExpect);
        return -1;
    }
    for (const WEVENT &e : v)
        if (e.cText != sSlots[(size_t)e.iSlot - 1])
            (*pcWrong)++;
    memcpy(prig->abMap, abMap, 16);
    prig->fFirst = 0;
    if (cExpect == 0)
        return 0;
    return (double)(v[cExpect - 1].llQpcNs - llQpcMinusRaw - llDone) / 1e6;
}

// ------------------------------------------------------------ the floor, interleaved

// The floor of a frame, measured in the same minutes as the frame itself:
// after every latency frame, benchprobe floor makes the same slot exchanges
// bare (the same reads and writes, in the same order, with the same texts)
// against a stand-in of its own, while the driver keeps running. Load that
// comes and goes on the machine then falls on frames and floor alike.
struct FLOORPROBE {
    STANDIN si;
    HOSTPROC hp{};
    int fUp = 0;
};

static FLOORPROBE *pFloorLive;      // set while the latency cases run

static std::string fnMapHex(const uint8_t abMap[16])
{
    std::string s;
    for (int x = 0; x < 16; x++)
        s += fnFmt("%02x", abMap[x]);
    return s;
}

static int fnFloorStart(FLOORPROBE *pf)
{
    char acLine[512];
    if (fnSiStart(&pf->si, BENCH_DEV_FLOOR) != 0)
        return -1;
    std::string sDev = std::to_string(BENCH_DEV_FLOOR);
    const char *apszArgs[] = { "floor", sDev.c_str(), nullptr };
    if (hpSpawnWine(&pf->hp, harness::WinBuild().c_str(), "benchprobe.exe", apszArgs, nullptr,
                    HP_STDIN | HP_STDOUT) != 0 ||
        hpReadLine(&pf->hp, acLine, sizeof acLine, WAIT_LONG_MS) != 1 || strcmp(acLine, "ready") != 0) {
        fnFail("benchprobe floor did not start");
        return -1;
    }
    pf->fUp = 1;
    return 0;
}

// One block: the exchanges of the change abOld -> abNew. Its time in ms from
// the first exchange to the stand-in's stamp of the last write, which is
// where a frame's latency ends too; -1 when it failed. *pdAll: the time of
// all its exchanges (the reads after the last write included).
static double fnFloorBlock(FLOORPROBE *pf, const uint8_t abOld[16], const uint8_t abNew[16], double *pdAll)
{
    char acLine[512];
    unsigned long long ullStart, ullEnd;
    int cExchanges;
    size_t cWrites = (size_t)fnDiffBits(abOld, abNew);
    std::vector<WEVENT> v;
    if (!pf->fUp || cWrites == 0)
        return -1;
    fnSiClear(&pf->si);
    if (hpWriteLine(&pf->hp, (fnMapHex(abOld) + " " + fnMapHex(abNew)).c_str()) != 0 ||
        hpReadLineStarting(&pf->hp, "B ", acLine, sizeof acLine, 20000) != 1 ||
        sscanf(acLine, "B %llu %llu %d", &ullStart, &ullEnd, &cExchanges) != 3 ||
        !fnSiWaitWrites(&pf->si, cWrites, 20000, &v)) {
        fnFail("floor block: no answer");
        pf->fUp = 0;
        return -1;
    }
    *pdAll = (double)(ullEnd - ullStart) / 1e6;
    return (double)(v[cWrites - 1].llQpcNs - (long long)ullStart) / 1e6;
}

static void fnFloorStop(FLOORPROBE *pf)
{
    if (pf->hp.pid > 0) {
        int iExit;
        hpWriteLine(&pf->hp, "quit");
        hpCloseStdin(&pf->hp);
        if (!hpWaitExit(&pf->hp, 20000, &iExit))
            hpKill(&pf->hp);
        hpRelease(&pf->hp);
    }
    fnSiStop(&pf->si);
    pf->fUp = 0;
}

// ------------------------------------------------------------ sections

struct LATROW {
    int cBytes = 0, cReads = 0, cWrites = 0;
    int cReadsToLast = 0;       // reads before the last write: what the latency contains
    STATS st;
    double dReadsMeasured = 0;
    STATS stFloor;              // the frame's exchanges made bare, interleaved (ms, wire not included)
    STATS stFloorAll;           // the same blocks to the end of their last exchange
};

static LATROW fnLatency(RIG *prig, const CASE &c, int cFrames)
{
    LATROW row;
    uint8_t abA[16], abB[16];
    int cWrong = 0;
    fnCaseMap(c, 0, abA);
    fnCaseMap(c, 1, abB);
    row.cBytes = fnFrameBytes(abA);
    row.cReads = 8 * fnDiffBytes(abA, abB);
    row.cWrites = fnDiffBits(abA, abB);
    row.cReadsToLast = fnReadsBeforeLastWrite(abA, abB);
    // Start from map A, settled.
    if (memcmp(prig->abMap, abA, 16) != 0 || prig->fFirst)
        fnOneFrame(prig, abA, &cWrong);
    unsigned long long ullReads0 = prig->si.ullTallyReads;
    std::vector<double> v, vFloor, vFloorAll;
    for (int i = 0; i < cFrames; i++) {
        double d = fnOneFrame(prig, (i & 1) ? abA : abB, &cWrong);
        if (d < 0)
            break;
        v.push_back(d);
        usleep(5000);       // frames 5 ms apart, not back to back
        if (pFloorLive != nullptr) {
            double dAll = 0;
            double dFloor = fnFloorBlock(pFloorLive, (i & 1) ? abB : abA, (i & 1) ? abA : abB, &dAll);
            if (dFloor >= 0) {
                vFloor.push_back(dFloor);
                vFloorAll.push_back(dAll);
            }
            usleep(5000);
        }
    }
    row.stFloor = fnStats(vFloor);
    row.stFloorAll = fnStats(vFloorAll);
    {
        std::lock_guard<std::mutex> lk(prig->si.mx);
        row.dReadsMeasured = v.empty() ? 0 : (double)(prig->si.ullTallyReads - ullReads0) / (double)v.size();
    }
    if (cWrong)
        fnFail("%s: %d slot writes with the wrong text", c.pszKey, cWrong);
    row.st = fnStats(v);
    return row;
}

struct TPROW {
    double dRate = 0;          // offered frames/s
    int cFrames = 0, cArrived = 0, fBacklog = 0;
    double dFirstP50 = 0, dLastP50 = 0, dMax = 0;
};

// Frames of case (a) at a fixed rate; matches the k-th write to the k-th frame.
static TPROW fnPaced(RIG *prig, double dRate, int cFrames)
{
    TPROW row;
    const CASE &c = aCases[0];
    uint8_t abA[16], abB[16];
    int cWrong = 0;
    fnCaseMap(c, 0, abA);
    fnCaseMap(c, 1, abB);
    if (memcmp(prig->abMap, abA, 16) != 0 || prig->fFirst)
        fnOneFrame(prig, abA, &cWrong);
    row.dRate = dRate;
    row.cFrames = cFrames;
    std::vector<long long> vDone;
    fnSiClear(&prig->si);
    long long llT0 = fnNs(CLOCK_MONOTONIC) + 5000000;
    for (int i = 0; i < cFrames; i++) {
        long long llDue = llT0 + (long long)((double)i * 1e9 / dRate);
        struct timespec ts = { (time_t)(llDue / 1000000000LL), (long)(llDue % 1000000000LL) };
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr) == EINTR) {
        }
        long long llDone;
        if (fnSendMap(prig->psim, (i & 1) ? abA : abB, &llDone) != 0)
            break;
        vDone.push_back(llDone);
    }
    memcpy(prig->abMap, (cFrames & 1) ? abB : abA, 16);
    std::vector<WEVENT> v;
    fnSiWaitWrites(&prig->si, (size_t)cFrames, 20000, &v);
    row.cArrived = (int)v.size();
    std::vector<double> vLat;
    for (size_t i = 0; i < v.size() && i < vDone.size(); i++) {
        if (v[i].iSlot != 2 || v[i].cText != ((i & 1) ? '0' : '1'))
            cWrong++;
        vLat.push_back((double)(v[i].llQpcNs - llQpcMinusRaw - vDone[i]) / 1e6);
    }
    if (cWrong)
        fnFail("paced %.0f/s: %d writes out of order or wrong", dRate, cWrong);
    size_t q = vLat.size() / 5;
    if (q > 0) {
        row.dFirstP50 = fnStats(std::vector<double>(vLat.begin(), vLat.begin() + (long)q)).p50;
        row.dLastP50 = fnStats(std::vector<double>(vLat.end() - (long)q, vLat.end())).p50;
        row.dMax = fnStats(vLat).max;
    }
    // A backlog that grows shows as later frames waiting longer than early
    // ones; by more than one frame interval, since latencies jitter by tens
    // of ms on a loaded machine while a real backlog adds up over the run.
    row.fBacklog = row.cArrived < cFrames || row.dLastP50 > row.dFirstP50 + 1000.0 / dRate;
    return row;
}

// Where a flood's time goes in the real driver, from the stand-in's stamps
// of its reads and writes: the steps between the exchanges of one frame
// (one exchange each), and the step from a frame's last exchange to the
// next frame's first (the rest of that exchange plus the driver's own work
// per frame: taking the bytes, the debug lines, the frame timer). A frame
// starts with its read of slot 1. In us.
struct FLOODSPLIT {
    STATS stStep, stGap;
};

static void fnFloodSplit(const std::vector<WEVENT> &vX, FLOODSPLIT *pfs)
{
    std::vector<double> vStep, vGap;
    for (size_t i = 1; i < vX.size(); i++) {
        double d = (double)(vX[i].llQpcNs - vX[i - 1].llQpcNs) / 1000.0;
        if (vX[i].cText == 'R' && vX[i].iSlot == 1)
            vGap.push_back(d);
        else
            vStep.push_back(d);
    }
    pfs->stStep = fnStats(vStep);
    pfs->stGap = fnStats(vGap);
}

// Frames back to back, as fast as the pty takes them: what the driver drains
// per second when it never waits for the line. *pfs (may be null): the split
// of its time, from the stand-in's stamps.
static double fnFlood(RIG *prig, const CASE &c, int cFrames, int *pfOk, FLOODSPLIT *pfs = nullptr)
{
    uint8_t abA[16], abB[16];
    int cWrong = 0;
    fnCaseMap(c, 0, abA);
    fnCaseMap(c, 1, abB);
    if (memcmp(prig->abMap, abA, 16) != 0 || prig->fFirst)
        fnOneFrame(prig, abA, &cWrong);
    std::vector<uint8_t> vb;
    uint8_t ab[22];
    for (int i = 0; i < cFrames; i++) {
        size_t n = msEncodeTally((i & 1) ? abA : abB, ab);
        vb.insert(vb.end(), ab, ab + n);
    }
    size_t cExpect = (size_t)cFrames * (size_t)fnDiffBits(abA, abB);
    fnSiClear(&prig->si);
    {
        std::lock_guard<std::mutex> lk(prig->si.mx);
        prig->si.vX.clear();
        prig->si.fKeepExchanges = pfs != nullptr;
    }
    long long llStart = fnNs(CLOCK_MONOTONIC_RAW);
    int64_t llDone;
    *pfOk = 0;
    if (msWrite(prig->psim, vb.data(), vb.size(), &llDone) != 0) {
        fnFail("flood: pty write failed");
        return 0;
    }
    memcpy(prig->abMap, (cFrames & 1) ? abB : abA, 16);
    std::vector<WEVENT> v;
    int fAll = fnSiWaitWrites(&prig->si, cExpect, 20000, &v);
    if (pfs != nullptr) {
        std::lock_guard<std::mutex> lk(prig->si.mx);
        prig->si.fKeepExchanges = 0;
        fnFloodSplit(prig->si.vX, pfs);
    }
    if (!fAll) {
        fnFail("flood %s: %zu of %zu writes arrived", c.pszKey, v.size(), cExpect);
        return 0;
    }
    std::string sSlots = fnSiTally(&prig->si);
    if (sSlots != fnMapSlots(prig->abMap)) {
        fnFail("flood %s: slots 1..128 differ from the last map", c.pszKey);
        return 0;
    }
    *pfOk = 1;
    double dS = (double)(v.back().llQpcNs - llQpcMinusRaw - llStart) / 1e9;
    return dS > 0 ? cFrames / dS : 0;
}

struct IDLE {
    double dDrvPct = -1, dSrvPct = -1, dSrvBasePct = -1, dInfoPct = -1;
    double dMainPct = -1, dBusiestPct = -1;     // the main thread; the busiest other thread
    int cThreads = 0;
    long lRssKb = -1;
    unsigned long long ullPolls = 0, ullAcks = 0;
    // The floor: a bare read loop of the driver's kind on the same pty.
    double dLoopPct = -1, dLoopSrvPct = -1;
    unsigned long ulLoops = 0;
    double dLoopS = 0;
};

static double fnPct(unsigned long long ullTicks, double dS)
{
    return (double)ullTicks / (double)sysconf(_SC_CLK_TCK) / dS * 100.0;
}

// CPU of one or two processes over a window of iSeconds.
static void fnCpuWindow(pid_t pidA, pid_t pidB, pid_t pidC, int iSeconds, double *pdA, double *pdB, double *pdC)
{
    unsigned long long a0 = 0, b0 = 0, c0 = 0, a1 = 0, b1 = 0, c1 = 0;
    int fA = pidA > 0 && fnCpuTicks(pidA, &a0) == 0;
    int fB = pidB > 0 && fnCpuTicks(pidB, &b0) == 0;
    int fC = pidC > 0 && fnCpuTicks(pidC, &c0) == 0;
    long long llT0 = fnNs(CLOCK_MONOTONIC);
    sleep((unsigned)iSeconds);
    fA = fA && fnCpuTicks(pidA, &a1) == 0;
    fB = fB && fnCpuTicks(pidB, &b1) == 0;
    fC = fC && fnCpuTicks(pidC, &c1) == 0;
    double dS = (double)(fnNs(CLOCK_MONOTONIC) - llT0) / 1e9;
    *pdA = fA ? fnPct(a1 - a0, dS) : -1;
    if (pdB)
        *pdB = fB ? fnPct(b1 - b0, dS) : -1;
    if (pdC)
        *pdC = fC ? fnPct(c1 - c0, dS) : -1;
}

// The floor of the idle cost: benchprobe readloop on the driver's port (the
// simulator silent at the other end) over the same window; its CPU and the
// wineserver's above the base measured without the driver.
static void fnIdleFloor(pid_t pidSrv, IDLE *pidle)
{
    HOSTPROC hp{};
    char acLine[256];
    std::string sCom = std::to_string(BENCH_COM_DRIVER);
    const char *apszArgs[] = { "readloop", sCom.c_str(), nullptr };
    if (hpSpawnWine(&hp, harness::WinBuild().c_str(), "benchprobe.exe", apszArgs, nullptr,
                    HP_STDIN | HP_STDOUT) != 0 ||
        hpReadLine(&hp, acLine, sizeof acLine, WAIT_LONG_MS) != 1 || strcmp(acLine, "ready") != 0) {
        fnFail("benchprobe readloop did not start");
        hpRelease(&hp);
        return;
    }
    sleep(1);       // past the start-up of the process
    long long llT0 = fnNs(CLOCK_MONOTONIC);
    fnCpuWindow(hp.pid, pidSrv, 0, iIdleS, &pidle->dLoopPct, &pidle->dLoopSrvPct, nullptr);
    pidle->dLoopS = (double)(fnNs(CLOCK_MONOTONIC) - llT0) / 1e9;
    hpWriteLine(&hp, "quit");
    if (hpReadLineStarting(&hp, "loops ", acLine, sizeof acLine, 20000) == 1)
        pidle->ulLoops = strtoul(acLine + 6, nullptr, 10);
    hpCloseStdin(&hp);
    int iExit;
    if (!hpWaitExit(&hp, 20000, &iExit))
        hpKill(&hp);
    hpRelease(&hp);
}

struct INPROC {
    STATS stBusy, stLastToEnd, stDoneToLast, stDoneToEnd, stNotifies;
    double dWrites = 0;
    int cFrames = 0;
};

// Where the time of an exchange made inside the driver goes: benchprobe
// breakdown, in one process, the conditions interleaved round by round.
static void fnBreakdown(const std::string &sDev, const std::string &sFile,
                        std::vector<std::pair<std::string, STATS>> *pv)
{
    std::vector<std::string> vLines;
    std::string sCom = std::to_string(BENCH_COM_INPROC), sRounds = std::to_string(iBreakdownRounds);
    int iExit = harness::RunTool("benchprobe.exe", { "breakdown", sDev, sFile, sCom, sRounds }, &vLines, 1800000);
    for (const std::string &l : vLines) {
        char acName[32];
        STATS s;
        if (sscanf(l.c_str(), "stat %31s %zu %lf %lf %lf %lf", acName, &s.n, &s.p50, &s.p99, &s.max, &s.mean) == 6)
            pv->push_back(std::make_pair(std::string(acName), s));
    }
    if (iExit != 0 || pv->empty())
        fnFail("benchprobe breakdown failed (exit %d)", iExit);
}

// The breakdown's table: us per exchange of a frame of 16 changed map bytes.
template <typename OUT>
static void fnBreakdownTable(const std::vector<std::pair<std::string, STATS>> &v, OUT out)
{
    static const struct { const char *pszKey, *pszText; } aRows[] = {
        { "bare", "bare: the frame's exchanges, no port open" },
        { "bare_rxthread", "bare, the driver's receive thread running" },
        { "bare_readloop", "bare, a bare 1-byte/1 ms read loop running" },
        { "decoder_rxthread", "decoder (fnParseRxData), receive thread" },
        { "decoder", "decoder, no port open" },
        { "reads_slot1", "as many reads, all of slot 1 (bare probe)" },
        { "bare_each_read", "bare, its reads one by one" },
        { "bare_each_write", "bare, its writes one by one" },
    };
    size_t cRounds = v.empty() ? 0 : v[0].second.n;
    out(fnFmt("%-44s %8s %8s %8s", fnFmt("WHERE AN EXCHANGE'S TIME GOES (%zu rounds)", cRounds).c_str(), "p50", "p99",
              "mean"));
    std::string sJson;
    double dBare = 0;
    for (const auto &r : aRows)
        for (const auto &pr : v)
            if (pr.first == r.pszKey) {
                if (pr.first == "bare")
                    dBare = pr.second.p50;
                out(fnFmt("%-44s %6.1fus %6.1fus %6.1fus  %s", r.pszText, pr.second.p50, pr.second.p99, pr.second.mean,
                          dBare > 0 ? fnFmt("%.2fx bare", pr.second.p50 / dBare).c_str() : ""));
                if (!sJson.empty())
                    sJson += ", ";
                sJson += "\"" + pr.first + "\": " + fnJsonStats(pr.second);
            }
    out("  one process in the driver's setting (shown window, full debug list); per round every condition makes the");
    out("  exchanges of one frame of 16 changed map bytes (128 reads, 16 writes), in turn, so load falls on all alike;");
    out("  us per exchange, statistics over the rounds");
    fnJson("breakdown_us_per_exchange", "{" + sJson + "}");
}

// The old floor with the statistic of a sum: wire time + the reads before
// the last write x bare GETSLOT mean + writes x bare SETSLOT mean.
template <typename OUT>
static void fnFloorByMeans(const LATROW *aRows, const STATS &stGet, const STATS &stSet, OUT out)
{
    std::string sLine, sJson;
    for (int i = 0; i < 3; i++) {
        const LATROW &r = aRows[i];
        double dWire = fnWireMs(r.cBytes);
        double dFloor = dWire + r.cReadsToLast * stGet.mean + r.cWrites * stSet.mean;
        double dOver = dFloor > 0 ? (dWire + r.st.p50 - dFloor) / dFloor * 100.0 : 0.0;
        sLine += fnFmt("%s (%s) %.2f ms, over %.0f%%", i ? ";" : "", aCases[i].pszKey, dFloor, dOver);
        sJson += fnFmt("%s\"%s\": {\"floor_ms\": %.4f, \"overhead_pct\": %.1f}", i ? ", " : "", aCases[i].pszKey,
                       dFloor, dOver);
    }
    out("  floor1 with the means of the single exchanges instead of their p50s:" + sLine);
    fnJson("floor_single_means", "{" + sJson + "}");
}

// What the floor of one changed map byte (8 reads + 1 write) allows, and the
// sustained rate of type (a) as a share of it. A rate is a mean: frames that
// follow each other back to back cost the sum of their exchanges, so the
// floor's rate comes from the means of the single bare exchanges (made back
// to back, as a sustained stream makes them), capped by the line's maximum.
// The p50s (the statistic the table used before) and the blocks made bare
// after each frame of (a) (each after an idle gap) are given beside it.
template <typename OUT>
static void fnThroughputFloor(const STATS &stBlock, const STATS &stGet, const STATS &stSet, double dSustained,
                              double dLineMax, OUT out)
{
    auto fnRate = [dLineMax](double dMs) { return dMs > 0 ? std::min(dLineMax, 1000.0 / dMs) : 0.0; };
    auto fnShare = [dSustained](double dRate) { return dRate > 0 ? dSustained / dRate * 100.0 : 0.0; };
    double dMeanMs = 8 * stGet.mean + stSet.mean, dMeanRate = fnRate(dMeanMs);
    double dP50Ms = 8 * stGet.p50 + stSet.p50, dP50Rate = fnRate(dP50Ms);
    double dBlockRate = fnRate(stBlock.mean);
    out(fnFmt("  floor of one changed byte: 8 x GETSLOT mean + SETSLOT mean = %.2f ms -> %.0f frames/s (the line "
              "allows %.1f); sustained = %.0f%% of it",
              dMeanMs, dMeanRate, dLineMax, fnShare(dMeanRate)));
    out(fnFmt("  (with the p50s instead: %.2f ms -> %.0f frames/s, sustained = %.0f%%; the same 9 exchanges made bare "
              "after each frame of (a), mean %.2f ms -> %.0f frames/s, sustained = %.0f%%)",
              dP50Ms, dP50Rate, fnShare(dP50Rate), stBlock.mean, dBlockRate, fnShare(dBlockRate)));
    fnJson("throughput_floor",
           fnFmt("{\"one_byte_single_mean_ms\": %.4f, \"one_byte_single_mean_fps\": %.1f, "
                 "\"sustained_share_pct\": %.1f, \"one_byte_single_p50_ms\": %.4f, \"one_byte_single_p50_fps\": %.1f, "
                 "\"sustained_share_of_p50_pct\": %.1f, \"one_byte_block_ms\": %s, \"one_byte_block_fps\": %.1f, "
                 "\"sustained_share_of_block_pct\": %.1f, \"line_max_fps\": %.1f}",
                 dMeanMs, dMeanRate, fnShare(dMeanRate), dP50Ms, dP50Rate, fnShare(dP50Rate),
                 fnJsonStats(stBlock).c_str(), dBlockRate, fnShare(dBlockRate), dLineMax));
}

// One step of the paced ladder: about ten seconds of frames at dRate (20
// frames in a quick run), noted, added to *pvTp; a lost frame is a failure.
static const TPROW &fnPacedStep(RIG *prig, double dRate, std::vector<TPROW> *pvTp)
{
    int cFrames = fQuick ? 20 : std::max(100, std::min(1500, (int)(dRate * 10)));
    pvTp->push_back(fnPaced(prig, dRate, cFrames));
    const TPROW &row = pvTp->back();
    fnNote("  %.0f/s: %d/%d arrived, p50 first %.2f last %.2f ms%s", dRate, row.cArrived, row.cFrames,
           row.dFirstP50, row.dLastP50, row.fBacklog ? " (backlog)" : "");
    if (row.cArrived < row.cFrames)
        fnFail("paced %.0f/s: %d of %d frames lost", dRate, row.cFrames - row.cArrived, row.cFrames);
    return row;
}

// The paced ladder's steps lie up to a fifth apart. Between the last rate it
// followed and the first that backed up, two halvings find the sustained rate
// more closely. Every run is checked as the ladder's are.
static void fnRefineSustained(RIG *prig, std::vector<TPROW> *pvTp, double *pdSustained)
{
    if (pvTp->empty() || !pvTp->back().fBacklog || pvTp->back().cArrived < pvTp->back().cFrames ||
        *pdSustained <= 0)
        return;
    double dBad = pvTp->back().dRate;
    for (int i = 0; i < 2; i++) {
        double dRate = (double)(long)((*pdSustained + dBad) / 2);
        if (dRate <= *pdSustained || dRate >= dBad)
            break;
        const TPROW &row = fnPacedStep(prig, dRate, pvTp);
        if (row.cArrived < row.cFrames)
            return;
        if (row.fBacklog)
            dBad = dRate;
        else
            *pdSustained = dRate;
    }
}

// ------------------------------------------------------------ soak

// The real driver under a scripted show for a number of minutes: about 25
// changing frames a second, a link loss every minute, maintenance commands
// every 20 s. Its resources are counted from outside at launch, after a
// warm-up (the debug list fills to its 501 lines and the heap settles) and
// at the end; the growth per hour is taken from the warm-up to the end. At
// the end slots 1..128 must hold the last map and slot 4094 "0".
#define SOAK_COM        18
#define SOAK_DEV        304
#define SOAK_FPS        25
#define SOAK_LOSS_S     60
#define SOAK_MAINT_S    20

struct SOAKSAMPLE {
    double dS = 0;                  // seconds since the show began
    long long llPrivate = -1;       // bytes, as the platform reports them
    long lRssKb = -1, lAnonKb = -1, lFileKb = -1, lShmemKb = -1;
    long lSurfaces = -1, lSurfacesKb = -1;  // the display's shared-memory images (/SYSV... in the maps)
    long lHandles = -1, lThreads = -1, lGdi = -1, lUser = -1, lWindows = -1, lDebugLines = -1;
};

static long fnStatusKb(pid_t pid, const char *pszField)
{
    char acPath[64], ac[256];
    snprintf(acPath, sizeof acPath, "/proc/%d/status", (int)pid);
    FILE *f = fopen(acPath, "r");
    long l = -1;
    size_t cb = strlen(pszField);
    if (f == nullptr)
        return -1;
    while (fgets(ac, sizeof ac, f) != nullptr)
        if (strncmp(ac, pszField, cb) == 0 && ac[cb] == ':') {
            l = atol(ac + cb + 1);
            break;
        }
    fclose(f);
    return l;
}

// The process's System V shared-memory mappings: under Wine's X11 driver the
// window surfaces (MIT-SHM images). Count and size in kB.
static void fnShmSegments(pid_t pid, long *plCount, long *plKb)
{
    char acPath[64], ac[512];
    snprintf(acPath, sizeof acPath, "/proc/%d/maps", (int)pid);
    FILE *f = fopen(acPath, "r");
    if (f == nullptr)
        return;
    *plCount = *plKb = 0;
    while (fgets(ac, sizeof ac, f) != nullptr) {
        unsigned long ulA, ulB;
        if (strstr(ac, "/SYSV") != nullptr && sscanf(ac, "%lx-%lx", &ulA, &ulB) == 2) {
            (*plCount)++;
            *plKb += (long)((ulB - ulA) / 1024);
        }
    }
    fclose(f);
}

static SOAKSAMPLE fnSoakSample(pid_t pid, const std::string &sTitle, double dS)
{
    SOAKSAMPLE r;
    fnShmSegments(pid, &r.lSurfaces, &r.lSurfacesKb);
    r.dS = dS;
    r.lRssKb = fnStatusKb(pid, "VmRSS");
    r.lAnonKb = fnStatusKb(pid, "RssAnon");
    r.lFileKb = fnStatusKb(pid, "RssFile");
    r.lShmemKb = fnStatusKb(pid, "RssShmem");
    std::vector<std::string> v;
    if (harness::RunTool("winpeek.exe", { "res", sTitle }, &v) == 0) {
        for (const std::string &l : v) {
            long long ll;
            char acKey[32];
            if (sscanf(l.c_str(), "%31s %lld", acKey, &ll) != 2)
                continue;
            std::string k = acKey;
            if (k == "private") r.llPrivate = ll;
            else if (k == "handles") r.lHandles = (long)ll;
            else if (k == "threads") r.lThreads = (long)ll;
            else if (k == "gdi") r.lGdi = (long)ll;
            else if (k == "user") r.lUser = (long)ll;
            else if (k == "windows") r.lWindows = (long)ll;
        }
    }
    v.clear();
    if (harness::RunTool("winpeek.exe", { "list", sTitle, "1001" }, &v) == 0)
        for (const std::string &l : v)
            sscanf(l.c_str(), "count %ld", &r.lDebugLines);
    return r;
}

// The show: changing frames at SOAK_FPS until told to stop, held while the
// link is down and until it has healed. One map byte changes per frame, at
// times two (a cut or a mix moves a tally bit or two).
struct SOAKSHOW {
    MIXSIM *psim = nullptr;
    std::mutex mx;
    uint8_t abMap[16];              // the last map sent (guarded by mx)
    unsigned long long ullFrames = 0;
    int fHold = 0, fStop = 0;       // guarded by mx
    std::thread th;
};

static void fnSoakShow(SOAKSHOW *pshow)
{
    uint32_t u = 12345;
    long long llNext = fnNs(CLOCK_MONOTONIC);
    for (;;) {
        llNext += 1000000000LL / SOAK_FPS;
        struct timespec ts = { (time_t)(llNext / 1000000000LL), (long)(llNext % 1000000000LL) };
        clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, nullptr);
        std::lock_guard<std::mutex> lk(pshow->mx);
        if (pshow->fStop)
            return;
        if (pshow->fHold)
            continue;
        for (int n = ((u = u * 1103515245u + 12345u) >> 16) % 5 == 0 ? 2 : 1; n > 0; n--) {
            int x = (int)((u = u * 1103515245u + 12345u) >> 16) % 16;
            uint8_t b = (uint8_t)((u = u * 1103515245u + 12345u) >> 16);
            pshow->abMap[x] = b == pshow->abMap[x] ? (uint8_t)~b : b;
        }
        if (msSendMap(pshow->psim, pshow->abMap, nullptr) == 0)
            pshow->ullFrames++;
    }
}

// Polls slot 4094 until it reads sText; false after iTimeoutMs.
static bool fnSoakStatusIs(STANDIN *psi, const char *pszText, int iTimeoutMs)
{
    long long llEnd = fnNs(CLOCK_MONOTONIC) + (long long)iTimeoutMs * 1000000LL;
    do {
        if (fnSiCmd(psi, "get 4094") == std::string("ok ") + pszText)
            return true;
        usleep(100000);
    } while (fnNs(CLOCK_MONOTONIC) < llEnd);
    return false;
}

static long long fnKb(long long llBytes) { return llBytes < 0 ? -1 : llBytes / 1024; }

static std::string fnSoakFigure(long long ll) { return ll < 0 ? "n/a" : std::to_string(ll); }

static std::string fnSoakGrowth(long long llA, long long llB, double dHours)
{
    if (llA < 0 || llB < 0 || dHours <= 0)
        return "n/a";
    return fnFmt("%+.1f", (double)(llB - llA) / dHours);
}

static int fnSoak(int iMinutes, int fCheck, const char *pszIso, const char *pszStamp)
{
    std::string sMachine = fnMachine();
    fnJson("utc", fnJsonStr(pszIso));
    fnJson("mode", fnJsonStr("soak"));
    double dShowS = iMinutes * 60.0;
    double dWarmS = iMinutes >= 5 ? 60.0 : 15.0;

    RIG rig;
    rig.iDevice = SOAK_DEV;
    harness::Install inst;
    rig.pInst = &inst;
    inst.DevFile(SOAK_DEV, harness::DevFileFor(SOAK_COM));
    char acErr[256] = "";
    rig.psim = msOpen(SOAK_COM, nullptr, acErr, sizeof acErr);
    if (rig.psim == nullptr) {
        fprintf(stderr, "mixbench: simulator on COM%d: %s\n", SOAK_COM, acErr);
        return 1;
    }
    if (fnSiStart(&rig.si, SOAK_DEV) != 0)
        return 1;
    long long llLaunch;
    if (fnDriverStart(&rig, &llLaunch) != 0)
        return 1;
    std::string sTitle = harness::Title(SOAK_DEV);
    pid_t pidDrv = rig.hpDrv.pid;
    if (msWaitKind(rig.psim, MSK_POLL, 2, WAIT_LONG_MS) != 1 || !fnSoakStatusIs(&rig.si, "0", 20000)) {
        fnFail("soak: the link did not come up");
        fnDriverStop(&rig);
        fnSiStop(&rig.si);
        msClose(rig.psim);
        return 1;
    }
    fnNote("soak: %d min, COM%d, device %d", iMinutes, SOAK_COM, SOAK_DEV);
    SOAKSAMPLE smLaunch = fnSoakSample(pidDrv, sTitle, 0);

    SOAKSHOW show;
    show.psim = rig.psim;
    memset(show.abMap, 0, sizeof show.abMap);
    long long llStart = fnNs(CLOCK_MONOTONIC);
    auto fnElapsed = [&] { return (double)(fnNs(CLOCK_MONOTONIC) - llStart) / 1e9; };
    show.th = std::thread(fnSoakShow, &show);

    // The warm-up runs every maintenance command once, so that what they
    // allocate the first time (the debug view's first painting, say) is
    // counted before the growth is measured; then one every SOAK_MAINT_S.
    static const unsigned auMaint[] = { 1, 2, 3, 4, 5, 97, 97 };
    const int cMaintCycle = (int)(sizeof auMaint / sizeof auMaint[0]);
    int iMaint = 0, cLosses = 0, cRecovered = 0, cMaint = 0;
    double dNextLoss = iMinutes == 1 ? 30.0 : SOAK_LOSS_S, dNextMaint = 1.5, dNextSample = 60.0;
    SOAKSAMPLE smWarm;
    std::vector<SOAKSAMPLE> vSeries;
    bool fWarm = false;
    while (fnElapsed() < dShowS) {
        usleep(100000);
        double dT = fnElapsed();
        fnSiClear(&rig.si);     // the stand-in's writes are counted, not kept
        if (!fWarm && dT >= dWarmS) {
            smWarm = fnSoakSample(pidDrv, sTitle, dT);
            fWarm = true;
        }
        if (iMinutes >= 5 && dT >= dNextSample) {
            dNextSample += 60.0;
            vSeries.push_back(fnSoakSample(pidDrv, sTitle, dT));
        }
        if (dT >= dNextMaint) {
            dNextMaint += iMaint + 1 < cMaintCycle ? 1.5 : SOAK_MAINT_S;
            if (iMaint + 1 == cMaintCycle)
                dNextMaint = std::max(dNextMaint, dWarmS + SOAK_MAINT_S);
            unsigned uCmd = auMaint[iMaint++ % cMaintCycle];
            if (harness::Post(sTitle, 0x0111 /* WM_COMMAND */, uCmd))
                cMaint++;
        }
        if (dT >= dNextLoss && dT < dShowS - 20) {
            // The mixer falls silent (no frames, no acknowledges) until the
            // driver shows the link failed, then answers again.
            dNextLoss += SOAK_LOSS_S;
            cLosses++;
            {
                std::lock_guard<std::mutex> lk(show.mx);
                show.fHold = 1;
            }
            msSetAck(rig.psim, MSACK_NONE, 0);
            bool fFailed = fnSoakStatusIs(&rig.si, "1", 20000);
            msSetAck(rig.psim, MSACK_NORMAL, 0);
            bool fHealed = fFailed && fnSoakStatusIs(&rig.si, "0", 30000);
            {
                std::lock_guard<std::mutex> lk(show.mx);
                show.fHold = 0;
            }
            if (fHealed)
                cRecovered++;
            else
                fnFail("soak: link loss %d at %.0f s: %s", cLosses, dT, fFailed ? "no recovery" : "never shown");
        }
    }
    {
        std::lock_guard<std::mutex> lk(show.mx);
        show.fStop = 1;
    }
    show.th.join();
    double dShowEnd = fnElapsed();

    // One more frame after everything else, then the slots must hold it.
    uint8_t abLast[16];
    memcpy(abLast, show.abMap, 16);
    abLast[0] ^= 0x5A;
    msSendMap(rig.psim, abLast, nullptr);
    std::string sWant = fnMapSlots(abLast), sGot;
    long long llEnd = fnNs(CLOCK_MONOTONIC) + 60000000000LL;
    while ((sGot = fnSiTally(&rig.si)) != sWant && fnNs(CLOCK_MONOTONIC) < llEnd)
        usleep(200000);
    bool fSlotsOk = sGot == sWant;
    bool fStatusOk = fnSoakStatusIs(&rig.si, "0", 10000);
    // The end is counted as the warm-up was, with the debug view hidden: shown,
    // its larger window surface (shared memory of the display) is counted too.
    if (harness::WindowInfo(sTitle)["menu"] == "97 checked") {
        harness::Post(sTitle, 0x0111 /* WM_COMMAND */, 97);
        harness::Eventually([&] { return harness::WindowInfo(sTitle)["menu"] == "97 unchecked"; }, 20000);
    }
    if (!fSlotsOk)
        fnFail("soak: slots 1..128 do not hold the last map at the end");
    if (!fStatusOk)
        fnFail("soak: slot 4094 is not \"0\" at the end");
    SOAKSAMPLE smEnd = fnSoakSample(pidDrv, sTitle, fnElapsed());
    std::string sErrors = harness::ControlText(sTitle, 111);
    unsigned long long ullWrites;
    {
        std::lock_guard<std::mutex> lk(rig.si.mx);
        ullWrites = rig.si.ullTallyWrites;
    }
    MSSTATS ms;
    msGetStats(rig.psim, &ms);
    fnDriverStop(&rig);
    fnSiStop(&rig.si);
    msClose(rig.psim);
    if (!fWarm)
        smWarm = smLaunch;

    double dHours = (smEnd.dS - smWarm.dS) / 3600.0;
    struct ROW {
        const char *pszName, *pszKey;
        long long llLaunch, llWarm, llEnd, llBound;
    } aRows[] = {
        { "private bytes (kB)", "private_kb", fnKb(smLaunch.llPrivate), fnKb(smWarm.llPrivate),
          fnKb(smEnd.llPrivate), 16384 },
        { "VmRSS (kB)", "rss_kb", smLaunch.lRssKb, smWarm.lRssKb, smEnd.lRssKb, -1 },
        { "  of it mapped files (kB)", "rss_file_kb", smLaunch.lFileKb, smWarm.lFileKb, smEnd.lFileKb, -1 },
        { "  of it shared memory (kB)", "rss_shmem_kb", smLaunch.lShmemKb, smWarm.lShmemKb, smEnd.lShmemKb, -1 },
        { "window surfaces mapped (kB)", "surfaces_kb", smLaunch.lSurfacesKb, smWarm.lSurfacesKb, smEnd.lSurfacesKb,
          -1 },
        { "window surfaces (count)", "surfaces", smLaunch.lSurfaces, smWarm.lSurfaces, smEnd.lSurfaces, -1 },
        { "handles", "handles", smLaunch.lHandles, smWarm.lHandles, smEnd.lHandles, 50 },
        { "threads", "threads", smLaunch.lThreads, smWarm.lThreads, smEnd.lThreads, 2 },
        { "GDI objects", "gdi", smLaunch.lGdi, smWarm.lGdi, smEnd.lGdi, 50 },
        { "USER objects", "user", smLaunch.lUser, smWarm.lUser, smEnd.lUser, 50 },
        { "windows (stand in for USER)", "windows", smLaunch.lWindows, smWarm.lWindows, smEnd.lWindows, 0 },
        { "debug list lines", "debug_lines", smLaunch.lDebugLines, smWarm.lDebugLines, smEnd.lDebugLines, -1 },
    };

    std::string sOut;
    auto out = [&](const std::string &sLine) { sOut += sLine + "\n"; };
    out(fnFmt("mixtally soak, %s, %d min (%.0f s of show)", pszIso, iMinutes, dShowEnd));
    out(sMachine);
    out(fnFmt("show: %llu changing frames (%.1f/s), %d link losses (%d shown and healed), %d maintenance "
              "commands; %llu tally slot writes; %llu polls (%.0f expected), %llu acknowledges; errors on the "
              "panel: %s",
              show.ullFrames, dShowEnd > 0 ? show.ullFrames / dShowEnd : 0.0, cLosses, cRecovered, cMaint, ullWrites,
              ms.aullKind[MSK_POLL], smEnd.dS, ms.ullAcks, sErrors.c_str()));
    out(fnFmt("end: slots 1..128 %s the last map, slot 4094 %s", fSlotsOk ? "hold" : "DO NOT hold",
              fStatusOk ? "\"0\"" : "NOT \"0\""));
    out("");
    out(fnFmt("%-30s %10s %12s %12s %16s", "RESOURCES (from outside)", "launch",
              fnFmt("warm-up %.0fs", smWarm.dS).c_str(), fnFmt("end %.0fs", smEnd.dS).c_str(), "growth per hour"));
    std::string sJsonRows;
    int cOver = 0;
    for (const ROW &r : aRows) {
        std::string sGrowth = fnSoakGrowth(r.llWarm, r.llEnd, dHours);
        bool fOver = fCheck && r.llBound >= 0 && r.llWarm >= 0 && r.llEnd >= 0 && r.llEnd - r.llWarm > r.llBound;
        cOver += fOver;
        out(fnFmt("%-30s %10s %12s %12s %16s%s", r.pszName, fnSoakFigure(r.llLaunch).c_str(),
                  fnSoakFigure(r.llWarm).c_str(), fnSoakFigure(r.llEnd).c_str(), sGrowth.c_str(),
                  fOver ? fnFmt("  OVER the bound of %lld", r.llBound).c_str() : ""));
        if (!sJsonRows.empty())
            sJsonRows += ", ";
        sJsonRows += fnFmt("\"%s\": {\"launch\": %lld, \"warm\": %lld, \"end\": %lld, \"growth_per_hour\": %s}",
                           r.pszKey, r.llLaunch, r.llWarm, r.llEnd,
                           sGrowth == "n/a" ? "null" : sGrowth.c_str() + (sGrowth[0] == '+'));
    }
    out("  private bytes: the platform's figure for the process (under Wine its anonymous resident memory);");
    out("  handles: the system's handle list; GDI: the process's GDI handle table, stock objects left out;");
    out("  shared memory: the display's window surfaces (X11 shared-memory images), about 1 MB more while");
    out("  the debug view is shown; USER objects cannot be counted from outside under Wine (GetGuiResources");
    out("  is a stub there): the process's windows stand in for them. Growth per hour: warm-up -> end,");
    out("  both taken with the debug view hidden.");
    if (cOver)
        fnFail("soak: %d resource(s) grew past their bound", cOver);
    std::string sSeries;
    for (const SOAKSAMPLE &m : vSeries)
        sSeries += fnFmt("%s{\"s\": %.1f, \"private_kb\": %lld, \"rss_kb\": %ld, \"rss_file_kb\": %ld, "
                         "\"rss_shmem_kb\": %ld, \"surfaces_kb\": %ld, \"handles\": %ld, \"gdi\": %ld, "
                         "\"windows\": %ld, \"debug_lines\": %ld}",
                         sSeries.empty() ? "" : ", ", m.dS, fnKb(m.llPrivate), m.lRssKb, m.lFileKb, m.lShmemKb,
                         m.lSurfacesKb, m.lHandles, m.lGdi, m.lWindows, m.lDebugLines);
    if (!vSeries.empty()) {
        std::string sLine = "  every minute (s: private kB / VmRSS kB / shared kB / handles / GDI):";
        for (const SOAKSAMPLE &m : vSeries)
            sLine += fnFmt(" %.0f:%lld/%ld/%ld/%ld/%ld", m.dS, fnKb(m.llPrivate), m.lRssKb, m.lShmemKb, m.lHandles,
                           m.lGdi);
        out(sLine);
    }
    fnJson("soak", fnFmt("{\"minutes\": %d, \"show_s\": %.1f, \"warmup_s\": %.1f, \"end_s\": %.1f, \"frames\": %llu, "
                         "\"link_losses\": %d, \"link_losses_healed\": %d, \"maintenance_commands\": %d, "
                         "\"tally_writes\": %llu, \"polls\": %llu, \"slots_ok\": %d, \"status_ok\": %d, "
                         "\"resources\": {",
                         iMinutes, dShowEnd, smWarm.dS, smEnd.dS, show.ullFrames, cLosses, cRecovered, cMaint,
                         ullWrites, ms.aullKind[MSK_POLL], fSlotsOk, fStatusOk) +
                       sJsonRows + "}, \"series\": [" + sSeries + "]}");
    fnJson("failures", std::to_string(cFailures));
    fputs(sOut.c_str(), stdout);
    fflush(stdout);

    mkdir(sJsonDir.c_str(), 0755);
    std::string sPath = sJsonDir + "/soak-" + pszStamp + ".json";
    FILE *f = fopen(sPath.c_str(), "w");
    if (f == nullptr) {
        fnFail("cannot write %s", sPath.c_str());
    } else {
        fprintf(f, "{\n%s\n}\n", sJson.c_str());
        fclose(f);
        printf("figures written to %s\n", sPath.c_str());
    }
    return cFailures ? 1 : 0;
}

// ------------------------------------------------------------ main

static void fnUsage(void)
{
    fprintf(stderr, "usage: mixbench [--quick] [--frames N] [--idle S] [--json-dir DIR]\n"
                    "       mixbench --soak [MINUTES] [--check] [--json-dir DIR]\n"
                    "       mixbench --breakdown ROUNDS\n");
}

// Only the breakdown of an exchange's time (a few minutes): for looking into
// where the time goes without a full run. Prints its table, writes no JSON.
static int fnBreakdownOnly(void)
{
    harness::Install inst;
    char acErr[256] = "";
    inst.DevFile(BENCH_DEV_INPROC, harness::DevFileFor(BENCH_COM_INPROC));
    MIXSIM *psim = msOpen(BENCH_COM_INPROC, nullptr, acErr, sizeof acErr);
    if (psim == nullptr) {
        fprintf(stderr, "mixbench: simulator on COM%d: %s\n", BENCH_COM_INPROC, acErr);
        return 1;
    }
    STANDIN si;
    std::vector<std::pair<std::string, STATS>> v;
    if (fnSiStart(&si, BENCH_DEV_INPROC) == 0) {
        fnBreakdown(std::to_string(BENCH_DEV_INPROC), harness::WindowsPath(inst.DevFilePath(BENCH_DEV_INPROC)), &v);
        fnSiStop(&si);
    }
    msClose(psim);
    fnBreakdownTable(v, [](const std::string &s) { printf("%s\n", s.c_str()); });
    return cFailures || v.empty() ? 1 : 0;
}

int main(int argc, char **argv)
{
    int iSoakMin = 0, fSoakCheck = 0, fBreakdownOnly = 0;
    for (int i = 1; i < argc; i++) {
        if (strcmp(argv[i], "--quick") == 0) {
            fQuick = 1;
            iFrames = 50;
            iIdleS = 5;
            iStartRuns = 1;
            iExchanges = 300;
            iBreakdownRounds = 4;
        } else if (strcmp(argv[i], "--frames") == 0 && i + 1 < argc) {
            iFrames = atoi(argv[++i]);
        } else if (strcmp(argv[i], "--idle") == 0 && i + 1 < argc) {
            iIdleS = atoi(argv[++i]);
        } else if (strcmp(argv[i], "--json-dir") == 0 && i + 1 < argc) {
            sJsonDir = argv[++i];
        } else if (strcmp(argv[i], "--soak") == 0) {
            iSoakMin = 10;
            if (i + 1 < argc && argv[i + 1][0] >= '0' && argv[i + 1][0] <= '9')
                iSoakMin = atoi(argv[++i]);
        } else if (strcmp(argv[i], "--check") == 0) {
            fSoakCheck = 1;
        } else if (strcmp(argv[i], "--breakdown") == 0 && i + 1 < argc) {
            iBreakdownRounds = atoi(argv[++i]);
            fBreakdownOnly = 1;
        } else {
            fnUsage();
            return 2;
        }
    }
    if (iFrames < 10 || iIdleS < 1 || iSoakMin < 0) {
        fnUsage();
        return 2;
    }
    std::string sWhy;
    if (!harness::Ready(&sWhy)) {
        fprintf(stderr, "mixbench: rig not usable: %s\n", sWhy.c_str());
        return 1;
    }
    if (sJsonDir.empty())
        sJsonDir = std::string(getenv("MIXTALLY_BUILD") ? getenv("MIXTALLY_BUILD") : ".") + "/bench";
    long long llRunStart = fnNs(CLOCK_MONOTONIC);
    char acStamp[32], acIso[32];
    time_t tNow = time(nullptr);
    struct tm tmNow;
    gmtime_r(&tNow, &tmNow);
    strftime(acStamp, sizeof acStamp, "%Y%m%dT%H%M%SZ", &tmNow);
    strftime(acIso, sizeof acIso, "%Y-%m-%dT%H:%M:%SZ", &tmNow);
    if (iSoakMin > 0)
        return fnSoak(iSoakMin, fSoakCheck, acIso, acStamp);
    if (fBreakdownOnly)
        return iBreakdownRounds < 1 ? 2 : fnBreakdownOnly();
    fnJson("utc", fnJsonStr(acIso));
    fnJson("mode", fnJsonStr(fQuick ? "quick" : "full"));
    std::string sMachine = fnMachine();

    // ---- clocks
    fnNote("clock check");
    CLOCKCHECK ccStart = fnClockCheck(fQuick ? 100 : 300);
    // QPC is taken as RAW itself when the bracket cannot tell them apart;
    // otherwise the measured offset is applied to every QPC stamp.
    if (ccStart.fOk && llabs(ccStart.llQpcMinusRaw) > ccStart.llHalfWidth + 2000)
        llQpcMinusRaw = ccStart.llQpcMinusRaw;

    // ---- the driver rig
    RIG rig;
    harness::Install inst;
    rig.pInst = &inst;
    inst.DevFile(BENCH_DEV_DRIVER, harness::DevFileFor(BENCH_COM_DRIVER));
    inst.DevFile(BENCH_DEV_INPROC, harness::DevFileFor(BENCH_COM_INPROC));
    char acErr[256] = "";
    rig.psim = msOpen(BENCH_COM_DRIVER, nullptr, acErr, sizeof acErr);
    if (rig.psim == nullptr) {
        fprintf(stderr, "mixbench: simulator on COM%d: %s\n", BENCH_COM_DRIVER, acErr);
        return 1;
    }
    if (fnSiStart(&rig.si, BENCH_DEV_DRIVER) != 0)
        return 1;

    // ---- start-up
    fnNote("start-up x%d", iStartRuns);
    std::vector<double> vHook, vByte, vPoll;
    for (int r = 0; r < iStartRuns; r++) {
        long long llLaunch;
        if (r > 0)
            fnDriverStop(&rig);
        if (fnDriverStart(&rig, &llLaunch) != 0)
            return 1;
        if (msWaitKind(rig.psim, MSK_POLL, 1, WAIT_LONG_MS) != 1) {
            fnFail("no poll within %d s of the launch", WAIT_LONG_MS / 1000);
            return 1;
        }
        uint8_t b;
        int64_t llByte = 0;
        std::vector<MSMSG> vm(64);
        vm.resize(msGetMessages(rig.psim, 0, vm.data(), vm.size()));
        msGetBytes(rig.psim, 0, &b, &llByte, 1);
        for (const MSMSG &m : vm)
            if (m.iKind == MSK_POLL) {
                vPoll.push_back((double)(m.llNs - llLaunch) / 1e6);
                break;
            }
        vByte.push_back((double)(llByte - llLaunch) / 1e6);
        std::lock_guard<std::mutex> lk(rig.si.mx);
        if (rig.si.llHookedNs)
            vHook.push_back((double)(rig.si.llHookedNs - llLaunch) / 1e6);
    }
    pid_t pidDrv = rig.hpDrv.pid;
    std::string sDrvComm = fnProcComm(pidDrv);
    STATS stHook = fnStats(vHook), stByte = fnStats(vByte), stPoll = fnStats(vPoll);
    // The link must be up (an acknowledge seen) before anything is timed.
    msWaitKind(rig.psim, MSK_POLL, 2, WAIT_LONG_MS);

    // ---- latency
    LATROW aRows[4];
    FLOORPROBE floor;
    if (fnFloorStart(&floor) == 0)
        pFloorLive = &floor;
    for (int i = 0; i < 3; i++) {
        fnNote("latency %s x%d", aCases[i].pszKey, fnCaseFrames(aCases[i]));
        aRows[i] = fnLatency(&rig, aCases[i], fnCaseFrames(aCases[i]));
    }
    pFloorLive = nullptr;
    fnFloorStop(&floor);

    // ---- throughput
    fnNote("throughput");
    int fFloodOkA = 0, fFloodOkB = 0;
    FLOODSPLIT fsA;
    double dFloodA = fnFlood(&rig, aCases[0], fQuick ? 50 : 1000, &fFloodOkA, &fsA);
    double dFloodB = fnFlood(&rig, aCases[1], fQuick ? 10 : 200, &fFloodOkB);
    // Paced runs at fractions of what the flood drained, up to the line's
    // own maximum; the first run that loses a frame or backs up ends it.
    // The drained rate is only a first guess (the machine's load varies), so
    // the ladder goes on past it until a backlog or the line's maximum.
    static const double adShare[] = { 0.25, 0.5, 0.7, 0.85, 1.0, 1.2, 1.5, 2.0, 3.0, 5.0, 10.0, 100.0 };
    double dLineMaxA = BENCH_BAUD / BENCH_BITS_PER_CHAR / 7.0;
    std::vector<TPROW> vTp;
    double dSustained = 0;
    for (double dShare : adShare) {
        double dRate = std::min(dLineMaxA, std::max(1.0, (double)(long)(dFloodA * dShare)));
        if (!vTp.empty() && dRate <= vTp.back().dRate)
            break;      // the line's maximum has been tried
        const TPROW &row = fnPacedStep(&rig, dRate, &vTp);
        if (row.cArrived < row.cFrames)
            break;
        if (row.fBacklog)
            break;
        dSustained = dRate;
    }
    fnRefineSustained(&rig, &vTp, &dSustained);
    std::string sAfter = fnSiTally(&rig.si);
    if (sAfter != fnMapSlots(rig.abMap))
        fnFail("after the paced runs slots 1..128 differ from the last map");

    // ---- idle
    fnNote("idle %d s with the driver", iIdleS);
    IDLE idle;
    pid_t pidSrv = fnWineserverPid();
    MSSTATS ms0, ms1;
    msGetStats(rig.psim, &ms0);
    std::vector<std::pair<int, unsigned long long>> vT0 = fnThreadTicks(pidDrv);
    long long llT0 = fnNs(CLOCK_MONOTONIC);
    fnCpuWindow(pidDrv, pidSrv, rig.si.hp.pid, iIdleS, &idle.dDrvPct, &idle.dSrvPct, &idle.dInfoPct);
    std::vector<std::pair<int, unsigned long long>> vT1 = fnThreadTicks(pidDrv);
    double dWinS = (double)(fnNs(CLOCK_MONOTONIC) - llT0) / 1e9;
    idle.cThreads = (int)vT1.size();
    for (const auto &t1 : vT1)
        for (const auto &t0 : vT0)
            if (t0.first == t1.first) {
                double d = fnPct(t1.second - t0.second, dWinS);
                if (t1.first == (int)pidDrv)
                    idle.dMainPct = d;
                else if (d > idle.dBusiestPct)
                    idle.dBusiestPct = d;
            }
    msGetStats(rig.psim, &ms1);
    idle.ullPolls = ms1.aullKind[MSK_POLL] - ms0.aullKind[MSK_POLL];
    idle.ullAcks = ms1.ullAcks - ms0.ullAcks;
    idle.lRssKb = fnRssKb(pidDrv);
    fnDriverStop(&rig);
    fnNote("idle %d s without the driver", iIdleS);
    fnCpuWindow(pidSrv, 0, 0, iIdleS, &idle.dSrvBasePct, nullptr, nullptr);
    fnNote("idle %d s: the bare read loop", iIdleS);
    fnIdleFloor(pidSrv, &idle);
    fnSiStop(&rig.si);
    msClose(rig.psim);
    rig.psim = nullptr;

    // ---- platform floor: bare exchanges against a stand-in of its own
    fnNote("bare exchanges x%d", iExchanges);
    STATS stGet, stSet;
    {
        STANDIN si;
        if (fnSiStart(&si, BENCH_DEV_FLOOR) == 0) {
            std::vector<std::string> vLines;
            std::string sDev = std::to_string(BENCH_DEV_FLOOR), sN = std::to_string(iExchanges);
            int iExit = harness::RunTool("benchprobe.exe", { "exchange", sDev, sN }, &vLines, 300000);
            for (const std::string &l : vLines) {
                char acName[16];
                STATS s;
                if (sscanf(l.c_str(), "stat %15s %zu %lf %lf %lf %lf", acName, &s.n, &s.p50, &s.p99, &s.max,
                           &s.mean) == 6) {
                    // The probe prints microseconds; the table is in ms.
                    s.p50 /= 1000; s.p99 /= 1000; s.max /= 1000; s.mean /= 1000;
                    (strcmp(acName, "getslot") == 0 ? stGet : stSet) = s;
                }
            }
            if (iExit != 0 || stGet.n == 0 || stSet.n == 0)
                fnFail("benchprobe exchange failed (exit %d)", iExit);
            fnSiStop(&si);
        }
    }

    // ---- driver cost per frame, in-process
    INPROC aIn[4];
    std::vector<std::pair<std::string, STATS>> vParts, vBreakdown;
    {
        STANDIN si;
        MIXSIM *psim = msOpen(BENCH_COM_INPROC, nullptr, acErr, sizeof acErr);
        HOSTPROC hp{};
        char acLine[512];
        int fUp = 0;
        if (psim == nullptr)
            fnFail("simulator on COM%d: %s", BENCH_COM_INPROC, acErr);
        else if (fnSiStart(&si, BENCH_DEV_INPROC) == 0) {
            std::string sDev = std::to_string(BENCH_DEV_INPROC);
            std::string sFile = harness::WindowsPath(inst.DevFilePath(BENCH_DEV_INPROC));
            fnNote("where an exchange's time goes x%d", iBreakdownRounds);
            fnBreakdown(sDev, sFile, &vBreakdown);
            const char *apszArgs[] = { "frame", sDev.c_str(), sFile.c_str(), nullptr };
            if (hpSpawnWine(&hp, harness::WinBuild().c_str(), "benchprobe.exe", apszArgs, nullptr,
                            HP_STDIN | HP_STDOUT) == 0) {
                while (hpReadLine(&hp, acLine, sizeof acLine, WAIT_LONG_MS) == 1) {
                    char acName[32];
                    STATS s;
                    if (sscanf(acLine, "stat %31s %zu %lf %lf %lf %lf", acName, &s.n, &s.p50, &s.p99, &s.max,
                               &s.mean) == 6) {
                        s.p50 /= 1000; s.p99 /= 1000; s.max /= 1000; s.mean /= 1000;
                        vParts.push_back(std::make_pair(std::string(acName), s));
                        continue;
                    }
                    if (strcmp(acLine, "ready") == 0)
                        fUp = 1;
                    break;
                }
                if (!fUp)
                    fnFail("benchprobe frame: %s", acLine);
            }
        }
        uint8_t abPrev[16];
        memset(abPrev, 0xFF, sizeof abPrev);
        int fFirst = 1;
        for (int k = 0; fUp && k < 4; k++) {
            const CASE &c = aCases[k];
            int cFrames = fnCaseFrames(c);
            fnNote("in-process %s x%d", c.pszKey, cFrames);
            std::vector<double> vBusy, vLastToEnd, vDoneToLast, vDoneToEnd, vNot;
            double dWrites = 0;
            uint8_t abA[16], abB[16];
            fnCaseMap(c, 0, abA);
            fnCaseMap(c, 1, abB);
            for (int i = -1; i < cFrames; i++) {
                const uint8_t *pb = (i & 1) ? abA : abB;
                if (i == -1)
                    pb = abA;       // settles the map (and the first, full publication)
                if (i == -1 && !fFirst && memcmp(abPrev, abA, 16) == 0)
                    continue;
                size_t cExpect = fFirst ? 128 : (size_t)fnDiffBits(abPrev, pb);
                fnSiClear(&si);
                long long llDone;
                if (fnSendMap(psim, pb, &llDone) != 0 ||
                    hpReadLineStarting(&hp, "F ", acLine, sizeof acLine, 20000) != 1) {
                    fnFail("in-process %s: no decode reported", c.pszKey);
                    fUp = 0;
                    break;
                }
                unsigned long long ullFirst, ullLast, ullEnd, ullBusy;
                unsigned uNot;
                unsigned long ulWrites;
                if (sscanf(acLine, "F %llu %llu %llu %llu %u %lu", &ullFirst, &ullLast, &ullEnd, &ullBusy, &uNot,
                           &ulWrites) != 6 || ulWrites != cExpect) {
                    fnFail("in-process %s: '%s', %zu writes expected", c.pszKey, acLine, cExpect);
                    fUp = 0;
                    break;
                }
                // The stand-in's output must be read before it can fill the pipe.
                fnSiWaitWrites(&si, cExpect, 20000, nullptr);
                memcpy(abPrev, pb, 16);
                fFirst = 0;
                if (i < 0)
                    continue;
                vBusy.push_back((double)ullBusy / 1e6);
                vLastToEnd.push_back((double)(ullEnd - ullLast) / 1e6);
                vDoneToLast.push_back((double)((long long)ullLast - llQpcMinusRaw - llDone) / 1e6);
                vDoneToEnd.push_back((double)((long long)ullEnd - llQpcMinusRaw - llDone) / 1e6);
                vNot.push_back(uNot);
                dWrites += (double)ulWrites;
                usleep(5000);
            }
            aIn[k].cFrames = (int)vBusy.size();
            aIn[k].stBusy = fnStats(vBusy);
            aIn[k].stLastToEnd = fnStats(vLastToEnd);
            aIn[k].stDoneToLast = fnStats(vDoneToLast);
            aIn[k].stDoneToEnd = fnStats(vDoneToEnd);
            aIn[k].stNotifies = fnStats(vNot);
            aIn[k].dWrites = vBusy.empty() ? 0 : dWrites / (double)vBusy.size();
        }
        if (hp.pid > 0) {
            hpWriteLine(&hp, "quit");
            hpCloseStdin(&hp);
            int iExit;
            if (!hpWaitExit(&hp, 20000, &iExit))
                hpKill(&hp);
            hpRelease(&hp);
        }
        fnSiStop(&si);
        if (psim != nullptr)
            msClose(psim);
    }

    fnNote("clock check again");
    CLOCKCHECK ccEnd = fnClockCheck(fQuick ? 100 : 300);
    double dRunS = (double)(fnNs(CLOCK_MONOTONIC) - llRunStart) / 1e9;

    // ------------------------------------------------------------ the table
    std::string sOut;
    auto out = [&](const std::string &s) { sOut += s + "\n"; };
    out(fnFmt("mixtally benchmark, %s, %s run (%d frames per latency case), %.0f s", acIso,
              fQuick ? "quick" : "full", iFrames, dRunS));
    out(sMachine);
    out(fnFmt("clocks: QPC - CLOCK_MONOTONIC_RAW = %+.1f us (bracket +-%.1f us, spread %.1f us over the 20 "
              "tightest of %d readings), at the end %+.1f us (+-%.1f); QPC - CLOCK_MONOTONIC = %+.3f ms, at the "
              "end %+.3f ms. QPC stamps used %s.",
              ccStart.llQpcMinusRaw / 1e3, ccStart.llHalfWidth / 1e3, ccStart.llRawSpreadNs / 1e3,
              ccStart.cSamples, ccEnd.llQpcMinusRaw / 1e3, ccEnd.llHalfWidth / 1e3, ccStart.llQpcMinusMono / 1e6,
              ccEnd.llQpcMinusMono / 1e6,
              llQpcMinusRaw ? fnFmt("with %+.1f us applied", llQpcMinusRaw / 1e3).c_str()
                            : "as CLOCK_MONOTONIC_RAW (no offset applied)"));
    out("");
    double dExch = stGet.p50, dExchSet = stSet.p50;
    out(fnFmt("%-36s %5s %7s %9s %8s %8s %8s %7s %8s %6s %8s %6s", "TALLY LATENCY (last byte -> last slot write)",
              "bytes", "wire", "exch R+W", "p50", "p99", "max", "p50/wire", "floor", "over", "floor1", "over1"));
    std::string sJsonLat;
    for (int i = 0; i < 3; i++) {
        const LATROW &r = aRows[i];
        double dWire = fnWireMs(r.cBytes);
        double dFloor1 = dWire + r.cReadsToLast * dExch + r.cWrites * dExchSet;
        double dFloor = r.stFloor.n > 0 ? dWire + r.stFloor.p50 : dFloor1;
        double dTotal = dWire + r.st.p50;
        out(fnFmt("%-36s %5d %6.2fms %4d+%-4d %6.2fms %6.2fms %6.2fms %7.1fx %6.2fms %5.0f%% %6.2fms %5.0f%%",
                  aCases[i].pszName, r.cBytes, dWire, r.cReads, r.cWrites, r.st.p50, r.st.p99, r.st.max,
                  r.st.p50 / dWire, dFloor, (dTotal - dFloor) / dFloor * 100.0, dFloor1,
                  (dTotal - dFloor1) / dFloor1 * 100.0));
        if (!sJsonLat.empty())
            sJsonLat += ", ";
        sJsonLat += fnFmt("\"%s\": {\"bytes\": %d, \"wire_ms\": %.4f, \"reads\": %d, \"writes\": %d, "
                          "\"reads_measured_per_frame\": %.2f, \"latency_ms\": %s, \"floor_ms\": %.4f, "
                          "\"overhead_pct\": %.1f, \"floor_exchanges_ms\": %s, \"floor_single_p50_ms\": %.4f, "
                          "\"overhead_single_p50_pct\": %.1f}",
                          aCases[i].pszKey, r.cBytes, dWire, r.cReads, r.cWrites, r.dReadsMeasured,
                          fnJsonStats(r.st).c_str(), dFloor, (dTotal - dFloor) / dFloor * 100.0,
                          fnJsonStats(r.stFloor).c_str(), dFloor1, (dTotal - dFloor1) / dFloor1 * 100.0);
    }
    out(fnFmt("%-36s %5d %6.2fms %4d+%-4d   nothing crosses a boundary: in-process cost %.3f ms p50 (below)",
              aCases[CASE_IDENTICAL].pszName, 22, fnWireMs(22), 0, 0, aIn[CASE_IDENTICAL].stBusy.p50));
    fnJson("latency", "{" + sJsonLat + "}");
    out("  exch R+W: slot reads and writes the frame causes; over = (wire + p50 - floor) / floor. floor = wire time + p50 of");
    out("  the frame's own exchanges made bare right after each frame (same reads and writes, order and texts, against a");
    out("  stand-in of its own, the driver running), first exchange -> stamp of the last write, as the latency ends there.");
    out("  floor1 = wire time + reads before the last write x bare GETSLOT p50 + writes x bare SETSLOT p50 (below, measured");
    out("  later without the driver); n x the p50 of one skewed exchange lies below the p50 of a sum of n (about n x mean)");
    fnFloorByMeans(aRows, stGet, stSet, out);
    out("");
    out(fnFmt("%-36s %8s %8s %8s %8s", "PLATFORM FLOOR (one bare exchange)", "p50", "p99", "max", "mean"));
    out(fnFmt("%-36s %6.3fms %6.3fms %6.3fms %6.3fms", "GETSLOT request + nested reply", stGet.p50, stGet.p99,
              stGet.max, stGet.mean));
    out(fnFmt("%-36s %6.3fms %6.3fms %6.3fms %6.3fms", "SETSLOT request + nested reply", stSet.p50, stSet.p99,
              stSet.max, stSet.mean));
    fnJson("bare_exchange_ms", "{\"getslot\": " + fnJsonStats(stGet) + ", \"setslot\": " + fnJsonStats(stSet) + "}");
    out("");
    out(fnFmt("%-36s %8s %8s %8s %9s %9s %6s %7s", "DRIVER COST PER FRAME (in-process)", "p50", "p99", "max",
              "byte->ntf", "byte->end", "notif", "reads%"));
    std::string sJsonIn;
    for (int k = 0; k < 4; k++) {
        const INPROC &r = aIn[k];
        uint8_t abA[16], abB[16];
        fnCaseMap(aCases[k], 0, abA);
        fnCaseMap(aCases[k], 1, abB);
        double dReadsMs = 8 * fnDiffBytes(abA, abB) * dExch;
        out(fnFmt("%-36s %6.3fms %6.3fms %6.3fms %7.3fms %7.3fms %6.1f %6.0f%%", aCases[k].pszName, r.stBusy.p50,
                  r.stBusy.p99, r.stBusy.max, r.stDoneToLast.p50, r.stDoneToEnd.p50, r.stNotifies.p50,
                  r.stBusy.p50 > 0 ? dReadsMs / r.stBusy.p50 * 100.0 : 0.0));
        if (!sJsonIn.empty())
            sJsonIn += ", ";
        sJsonIn += fnFmt("\"%s\": {\"frames\": %d, \"busy_ms\": %s, \"last_notification_ms\": %s, "
                         "\"last_byte_to_last_notification_ms\": %s, \"last_byte_to_end_ms\": %s, "
                         "\"notifications\": %s, \"writes_per_frame\": %.2f, \"reads_share_pct\": %.1f}",
                         aCases[k].pszKey, r.cFrames, fnJsonStats(r.stBusy).c_str(),
                         fnJsonStats(r.stLastToEnd).c_str(), fnJsonStats(r.stDoneToLast).c_str(),
                         fnJsonStats(r.stDoneToEnd).c_str(), fnJsonStats(r.stNotifies).c_str(), r.dWrites,
                         r.stBusy.p50 > 0 ? dReadsMs / r.stBusy.p50 * 100.0 : 0.0);
    }
    fnJson("in_process", "{" + sJsonIn + "}");
    out("  p50..max: QPC around fnRxCommData summed over the notifications that carried the frame;");
    out("  byte->ntf / byte->end: last byte written -> start of the decoding notification / its end (p50);");
    out("  reads%: the frame's GETSLOT reads at the bare p50 cost, as a share of the p50 cost");
    std::string sParts, sJsonParts;
    for (const auto &pr : vParts) {
        sParts += fnFmt(" %s %.3f/%.3fms", pr.first.c_str(), pr.second.p50, pr.second.p99);
        if (!sJsonParts.empty())
            sJsonParts += ", ";
        sJsonParts += "\"" + pr.first + "\": " + fnJsonStats(pr.second);
    }
    out("  pieces timed alone in the same process (p50/p99):" + sParts);
    fnJson("pieces_ms", "{" + sJsonParts + "}");
    out("");
    fnBreakdownTable(vBreakdown, out);
    out("");
    double dLineA = BENCH_BAUD / BENCH_BITS_PER_CHAR / 7.0, dLineB = BENCH_BAUD / BENCH_BITS_PER_CHAR / 22.0;
    out("THROUGHPUT (changing frames, every write checked, slots 1..128 = last map at the end)");
    if (dSustained > 0)
        out(fnFmt("  sustained (paced, no lost frame, no growing backlog): %s%.0f frames/s of type (a) = %.1f%% of the "
                  "line maximum %.1f frames/s",
                  std::any_of(vTp.begin(), vTp.end(), [](const TPROW &r) { return r.fBacklog != 0; }) ? ""
                                                                                                   : "at least ",
                  dSustained, dSustained / dLineA * 100.0, dLineA));
    else
        out(fnFmt("  sustained: not even the lowest paced rate (%.0f frames/s) was followed without a backlog",
                  vTp.empty() ? 0.0 : vTp.front().dRate));
    fnThroughputFloor(aRows[0].stFloorAll, stGet, stSet, dSustained, dLineA, out);
    out(fnFmt("  flood, back to back: (a) %.0f frames/s [line max %.1f], (b) %.0f frames/s [line max %.1f]%s",
              dFloodA, dLineA, dFloodB, dLineB, fFloodOkA && fFloodOkB ? "" : "  (FAILED)"));
    out(fnFmt("  flood (a) in the stand-in's stamps: one exchange after the other within a frame %.0f us p50 (mean %.0f); "
              "a frame's last exchange -> the next frame's first %.0f us p50 (mean %.0f)",
              fsA.stStep.p50, fsA.stStep.mean, fsA.stGap.p50, fsA.stGap.mean));
    fnJson("flood_split_us", fnFmt("{\"step\": %s, \"frame_gap\": %s}", fnJsonStats(fsA.stStep).c_str(),
                                   fnJsonStats(fsA.stGap).c_str()));
    std::string sRates, sJsonTp;
    for (const TPROW &r : vTp) {
        sRates += fnFmt(" %.0f/s:%.1f->%.1fms%s", r.dRate, r.dFirstP50, r.dLastP50, r.fBacklog ? "(backlog)" : "");
        if (!sJsonTp.empty())
            sJsonTp += ", ";
        sJsonTp += fnFmt("{\"rate\": %.0f, \"frames\": %d, \"arrived\": %d, \"first_fifth_p50_ms\": %.3f, "
                         "\"last_fifth_p50_ms\": %.3f, \"max_ms\": %.3f, \"backlog\": %d}",
                         r.dRate, r.cFrames, r.cArrived, r.dFirstP50, r.dLastP50, r.dMax, r.fBacklog);
    }
    out("  paced runs (p50 latency first fifth -> last fifth):" + sRates);
    fnJson("throughput", fnFmt("{\"sustained_fps\": %.0f, \"line_max_fps_7\": %.2f, \"line_max_fps_22\": %.2f, "
                               "\"flood_fps_one_byte\": %.1f, \"flood_fps_all_bytes\": %.1f, \"paced\": [%s]}",
                               dSustained, dLineA, dLineB, dFloodA, dFloodB, sJsonTp.c_str()));
    out("");
    out(fnFmt("IDLE (%d s, acknowledging mixer, no tally changes; %llu polls, %llu acks)", iIdleS, idle.ullPolls,
              idle.ullAcks));
    out(fnFmt("  mixtally.exe (pid %d, %s): %.2f%% of one core (main thread %.2f%%, busiest of the other %d "
              "threads %.2f%%), VmRSS %ld kB",
              (int)pidDrv, sDrvComm.c_str(), idle.dDrvPct, idle.dMainPct, idle.cThreads - 1, idle.dBusiestPct,
              idle.lRssKb));
    out(fnFmt("  wineserver: %.2f%% with the driver, %.2f%% without it -> %.2f%% attributable; stand-in "
              "infodriver %.2f%%",
              idle.dSrvPct, idle.dSrvBasePct, idle.dSrvPct - idle.dSrvBasePct, idle.dInfoPct));
    double dIdleDrv = idle.dDrvPct + idle.dSrvPct - idle.dSrvBasePct;
    double dIdleLoop = idle.dLoopPct + idle.dLoopSrvPct - idle.dSrvBasePct;
    out(fnFmt("  floor, a bare read loop on the same pty (1-byte requests, 1 ms total time-out; %.0f requests/s): "
              "%.2f%% + wineserver %.2f%% = %.2f%%",
              idle.dLoopS > 0 ? idle.ulLoops / idle.dLoopS : 0.0, idle.dLoopPct, idle.dLoopSrvPct - idle.dSrvBasePct,
              dIdleLoop));
    out(fnFmt("  idle cost, process + its wineserver share: %.2f%% = %.2fx the bare read loop", dIdleDrv,
              dIdleLoop > 0 ? dIdleDrv / dIdleLoop : 0.0));
    fnJson("idle", fnFmt("{\"seconds\": %d, \"driver_cpu_pct\": %.3f, \"driver_rss_kb\": %ld, "
                         "\"wineserver_cpu_pct\": %.3f, \"wineserver_cpu_pct_without_driver\": %.3f, "
                         "\"standin_cpu_pct\": %.3f, \"polls\": %llu, \"main_thread_cpu_pct\": %.3f, "
                         "\"busiest_other_thread_cpu_pct\": %.3f, \"threads\": %d, "
                         "\"readloop_cpu_pct\": %.3f, \"readloop_wineserver_cpu_pct\": %.3f, "
                         "\"readloop_requests_per_s\": %.1f, \"driver_total_pct\": %.3f, "
                         "\"readloop_total_pct\": %.3f, \"ratio_to_readloop\": %.3f}",
                         iIdleS, idle.dDrvPct, idle.lRssKb, idle.dSrvPct, idle.dSrvBasePct, idle.dInfoPct,
                         idle.ullPolls, idle.dMainPct, idle.dBusiestPct, idle.cThreads, idle.dLoopPct,
                         idle.dLoopSrvPct, idle.dLoopS > 0 ? idle.ulLoops / idle.dLoopS : 0.0, dIdleDrv, dIdleLoop,
                         dIdleLoop > 0 ? dIdleDrv / dIdleLoop : 0.0));
    out("");
    out(fnFmt("START-UP (%d run%s; launch = spawn of the Wine loader)      p50        max", iStartRuns,
              iStartRuns == 1 ? "" : "s"));
    out(fnFmt("  launch -> infodriver hooked            %8.1fms %8.1fms", stHook.p50, stHook.max));
    out(fnFmt("  launch -> first byte on the wire       %8.1fms %8.1fms", stByte.p50, stByte.max));
    out(fnFmt("  launch -> first poll                   %8.1fms %8.1fms", stPoll.p50, stPoll.max));
    fnJson("startup_ms", "{\"hooked\": " + fnJsonStats(stHook) + ", \"first_byte\": " + fnJsonStats(stByte) +
                             ", \"first_poll\": " + fnJsonStats(stPoll) + "}");
    fnJson("clocks", fnFmt("{\"qpc_minus_raw_ns\": %lld, \"bracket_half_ns\": %lld, \"spread_ns\": %lld, "
                           "\"qpc_minus_raw_end_ns\": %lld, \"qpc_minus_mono_ns\": %lld, "
                           "\"qpc_minus_mono_end_ns\": %lld, \"applied_ns\": %lld}",
                           ccStart.llQpcMinusRaw, ccStart.llHalfWidth, ccStart.llRawSpreadNs, ccEnd.llQpcMinusRaw,
                           ccStart.llQpcMinusMono, ccEnd.llQpcMinusMono, llQpcMinusRaw));
    fnJson("failures", std::to_string(cFailures));
    fputs(sOut.c_str(), stdout);
    fflush(stdout);

    mkdir(sJsonDir.c_str(), 0755);
    std::string sPath = sJsonDir + "/bench-" + acStamp + ".json";
    FILE *f = fopen(sPath.c_str(), "w");
    if (f == nullptr) {
        fnFail("cannot write %s", sPath.c_str());
    } else {
        fprintf(f, "{\n%s\n}\n", sJson.c_str());
        fclose(f);
        printf("figures written to %s\n", sPath.c_str());
    }
    if (cFailures)
        printf("%d measurement(s) failed or lost data (see above)\n", cFailures);
    return cFailures ? 1 : 0;
}
