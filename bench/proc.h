// proc: the machine and its processes as Linux's /proc shows them -- CPU
// ticks of a process and of its threads, status fields, System V shared
// memory mappings, the prefix's wineserver -- and the table's "machine:" line.
#pragma once
#include <sys/types.h>
#include <map>
#include <string>

std::map<int, unsigned long long> fnThreadTicks(pid_t pid);
// Ticks over dS seconds as a share of one core, in %.
double fnPct(unsigned long long ullTicks, double dS);
// CPU of up to three processes (pid 0: none) over a window of iSeconds, in %
// of one core; -1 for one that could not be read. pdB, pdC may be null.
void fnCpuWindow(pid_t pidA, pid_t pidB, pid_t pidC, int iSeconds, double *pdA, double *pdB, double *pdC);
// A "<field>: <n> kB" of /proc/<pid>/status; -1 when absent.
long fnStatusKb(pid_t pid, const char *pszField);
// The process's System V shared-memory mappings (under Wine's X11 driver its
// window surfaces): count and kB.
void fnShmSegments(pid_t pid, long *plCount, long *plKb);
std::string fnProcComm(pid_t pid);
// The wineserver of our prefix; 0 when none is found.
pid_t fnWineserverPid(void);
// Describes the machine and what ran the figures; also the JSON's "utc",
// "mode" and "machine".
std::string fnMachine(const char *pszIso, const char *pszMode);
