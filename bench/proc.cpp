// proc: see proc.h.
#include "proc.h"
#include <dirent.h>
#include <limits.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <unistd.h>
#include "clock.h"
#include "report.h"

// utime + stime from a /proc stat file; 0, or -1 when it cannot be read.
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

std::map<int, unsigned long long> fnThreadTicks(pid_t pid)
{
    std::map<int, unsigned long long> m;
    std::string sDir = "/proc/" + std::to_string(pid) + "/task";
    DIR *d = opendir(sDir.c_str());
    if (d == nullptr)
        return m;
    while (struct dirent *e = readdir(d)) {
        unsigned long long ull;
        std::string sPath = sDir + "/" + e->d_name + "/stat";
        if (e->d_name[0] >= '0' && e->d_name[0] <= '9' && fnStatTicks(sPath.c_str(), &ull) == 0)
            m[atoi(e->d_name)] = ull;
    }
    closedir(d);
    return m;
}

double fnPct(unsigned long long ullTicks, double dS)
{
    return (double)ullTicks / (double)sysconf(_SC_CLK_TCK) / dS * 100.0;
}

void fnCpuWindow(pid_t pidA, pid_t pidB, pid_t pidC, int iSeconds, double *pdA, double *pdB, double *pdC)
{
    const pid_t apid[3] = { pidA, pidB, pidC };
    double *apd[3] = { pdA, pdB, pdC };
    unsigned long long aull0[3] = { 0, 0, 0 }, aull1[3] = { 0, 0, 0 };
    int af[3];
    std::string asPath[3];
    for (int i = 0; i < 3; i++) {
        asPath[i] = "/proc/" + std::to_string(apid[i]) + "/stat";
        af[i] = apid[i] > 0 && fnStatTicks(asPath[i].c_str(), &aull0[i]) == 0;
    }
    long long llT0 = fnNs(CLOCK_MONOTONIC);
    // The window itself: what is measured is what happens meanwhile.
    sleep((unsigned)iSeconds);
    for (int i = 0; i < 3; i++)
        af[i] = af[i] && fnStatTicks(asPath[i].c_str(), &aull1[i]) == 0;
    double dS = (double)(fnNs(CLOCK_MONOTONIC) - llT0) / 1e9;
    for (int i = 0; i < 3; i++)
        if (apd[i] != nullptr)
            *apd[i] = af[i] ? fnPct(aull1[i] - aull0[i], dS) : -1;
}

// The rest of the first line of a file that starts with pszStart; "" when
// none does.
static std::string fnFileLine(const std::string &sPath, const char *pszStart)
{
    char ac[512];
    std::string s;
    size_t cb = strlen(pszStart);
    FILE *f = fopen(sPath.c_str(), "r");
    if (f == nullptr)
        return s;
    while (fgets(ac, sizeof ac, f) != nullptr)
        if (strncmp(ac, pszStart, cb) == 0) {
            s = ac + cb;
            break;
        }
    fclose(f);
    return s;
}

long fnStatusKb(pid_t pid, const char *pszField)
{
    std::string s = fnFileLine("/proc/" + std::to_string(pid) + "/status", (std::string(pszField) + ":").c_str());
    return s.empty() ? -1 : atol(s.c_str());
}

void fnShmSegments(pid_t pid, long *plCount, long *plKb)
{
    char ac[512];
    FILE *f = fopen(("/proc/" + std::to_string(pid) + "/maps").c_str(), "r");
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

std::string fnProcComm(pid_t pid)
{
    std::string s = fnFileLine("/proc/" + std::to_string(pid) + "/comm", "");
    return s.substr(0, s.find('\n'));
}

// Its working directory is the server directory named after the prefix's
// device and inode.
pid_t fnWineserverPid(void)
{
    const char *pszPrefix = getenv("WINEPREFIX");
    struct stat st;
    if (pszPrefix == nullptr || stat(pszPrefix, &st) != 0)
        return 0;
    char acTail[64];
    snprintf(acTail, sizeof acTail, "/server-%llx-%llx", (unsigned long long)st.st_dev, (unsigned long long)st.st_ino);
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

std::string fnMachine(const char *pszIso, const char *pszMode)
{
    fnJson("utc", fnJsonStr(pszIso));
    fnJson("mode", fnJsonStr(pszMode));
    std::string sModel = fnFileLine("/proc/cpuinfo", "model name");
    sModel = sModel.find(':') == std::string::npos ? "?" : sModel.substr(sModel.find(':') + 2);
    sModel.erase(sModel.find_last_not_of("\n ") + 1);
    long lMemKb = atol(fnFileLine("/proc/meminfo", "MemTotal:").c_str());
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
