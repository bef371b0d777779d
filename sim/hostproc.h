// hostproc: run a program from a host (Linux) test and talk to it -- spawn
// with argv, extra environment and working directory, optional pipes to its
// stdin and from its stdout, read lines and wait for the exit with deadlines,
// kill.
//
// One HOSTPROC belongs to one thread at a time. Children run in a process
// group of their own and inherit no descriptor but 0, 1 and 2.
#pragma once
#include <stddef.h>
#include <sys/types.h>

#define HP_STDIN        0x01    // pipe to the child's stdin (hpWriteLine)
#define HP_STDOUT       0x02    // pipe from the child's stdout (hpReadLine)
#define HP_QUIET        0x08    // stdout/stderr not piped go to /dev/null

#define HP_LINEBUF 65536

struct HOSTPROC {
    pid_t pid;              // 0: not running / reaped
    int fdIn;               // -1 when not piped or closed
    int fdOut;              // -1 when not piped or at end of file
    int fExited;            // 1 once reaped
    int iStatus;            // wait status once reaped
    size_t cbBuf;           // bytes of an unfinished line in acBuf
    char acBuf[HP_LINEBUF];
};

// Starts argv[0] (searched in PATH) with argv. envAdd: NULL or a NULL-ended
// list of "NAME=value" set on top of this process's environment. cwd: NULL
// for the current directory. Returns 0, or -1 (errno set) when it did not start.
int hpSpawn(HOSTPROC *p, const char *const argv[], const char *const envAdd[],
            const char *cwd, int iFlags);

// Writes line and "\n" to the child's stdin. 0 or -1.
int hpWriteLine(HOSTPROC *p, const char *line);
void hpCloseStdin(HOSTPROC *p);

// Next line of the child's stdout without its line end ("\r\n" or "\n").
// Returns 1 with a line, 0 when timeoutMs passed first, -1 at end of output
// (an unfinished last line is returned first as a line).
int hpReadLine(HOSTPROC *p, char *line, size_t cbLine, int timeoutMs);

// Reads lines until one starts with prefix (returned in line). 1, 0 or -1 as
// hpReadLine; lines skipped meanwhile are dropped.
int hpReadLineStarting(HOSTPROC *p, const char *prefix, char *line, size_t cbLine, int timeoutMs);

// Waits for the child to end. Returns 1 when it ended (exit code, or 128 +
// signal, in *piExit), 0 when timeoutMs passed first.
int hpWaitExit(HOSTPROC *p, int timeoutMs, int *piExit);

// SIGKILL to the child (not its group), then reaps it. Safe to call twice.
void hpKill(HOSTPROC *p);

// Kills if still running and closes the pipes.
void hpRelease(HOSTPROC *p);

// Milliseconds of CLOCK_MONOTONIC.
long long hpNowMs(void);

// Value of NAME in a shell env file of "export NAME=value" lines (the Wine
// env file written by scripts/setup.sh), quotes removed. 0, or -1 if absent.
int hpEnvFileValue(const char *pszFile, const char *pszName, char *pszOut, size_t cbOut);
