// Host-side child processes for tests: spawn, pipes, lines with deadlines.
#include "hostproc.h"

#include <initializer_list>
#include <string>

#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/wait.h>
#include <time.h>
#include <unistd.h>

long long hpNowMs(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (long long)ts.tv_sec * 1000 + ts.tv_nsec / 1000000;
}

static void fnCloseFd(int *pfd)
{
    if (*pfd >= 0)
        close(*pfd);
    *pfd = -1;
}

int hpSpawn(HOSTPROC *p, const char *const argv[], const char *const envAdd[],
            const char *cwd, int iFlags)
{
    int aIn[2] = {-1, -1}, aOut[2] = {-1, -1};
    int aErr[2] = {-1, -1};     // reports a failed exec to the parent
    pid_t pid = -1;

    memset(p, 0, sizeof(*p));
    p->fdIn = p->fdOut = -1;
    // A child that died early must make a write fail (EPIPE), not kill the
    // test with SIGPIPE before it can say what went wrong.
    signal(SIGPIPE, SIG_IGN);
    // The pipes are close-on-exec: a child never holds another child's pipes.
    if (((iFlags & HP_STDIN) && pipe2(aIn, O_CLOEXEC) != 0) ||
        ((iFlags & HP_STDOUT) && pipe2(aOut, O_CLOEXEC) != 0) || pipe2(aErr, O_CLOEXEC) != 0 ||
        (pid = fork()) < 0) {
        int e = errno;
        for (int *pfd : {&aIn[0], &aIn[1], &aOut[0], &aOut[1], &aErr[0], &aErr[1]})
            fnCloseFd(pfd);
        errno = e;
        return -1;
    }
    if (pid == 0) {
        int fdNull = open("/dev/null", O_RDWR);
        setpgid(0, 0);
        signal(SIGPIPE, SIG_DFL);
        dup2((iFlags & HP_STDIN) ? aIn[0] : fdNull, 0);
        if (iFlags & HP_STDOUT)
            dup2(aOut[1], 1);
        else if (iFlags & HP_QUIET)
            dup2(fdNull, 1);
        if (iFlags & HP_QUIET)
            dup2(fdNull, 2);
        // Nothing else of the parent's (pty masters, other pipes) may leak
        // into the child: a held pty master would hide a hang-up.
        long lMaxFd = sysconf(_SC_OPEN_MAX);
        if (lMaxFd < 0 || lMaxFd > 65536)
            lMaxFd = 65536;
        for (int fd = 3; fd < (int)lMaxFd; fd++) {
            if (fd != aErr[1])
                close(fd);
        }
        if (envAdd != NULL) {
            for (size_t i = 0; envAdd[i] != NULL; i++)
                putenv((char *)envAdd[i]);
        }
        if (cwd == NULL || chdir(cwd) == 0)
            execvp(argv[0], (char *const *)argv);
        int e = errno;
        (void)!write(aErr[1], &e, sizeof(e));
        _exit(127);
    }

    setpgid(pid, pid);      // also from here, so a kill right away finds the group
    fnCloseFd(&aErr[1]);
    int eChild = 0;
    ssize_t n;
    do {
        n = read(aErr[0], &eChild, sizeof(eChild));
    } while (n < 0 && errno == EINTR);
    fnCloseFd(&aErr[0]);
    fnCloseFd(&aIn[0]);
    fnCloseFd(&aOut[1]);
    p->pid = pid;
    p->fdIn = aIn[1];
    p->fdOut = aOut[0];
    if (n == (ssize_t)sizeof(eChild)) {
        hpWaitExit(p, 5000, NULL);
        hpRelease(p);
        errno = eChild;
        return -1;
    }
    return 0;
}

int hpWriteLine(HOSTPROC *p, const char *line)
{
    if (p->fdIn < 0)
        return -1;
    std::string s = std::string(line) + "\n";
    for (size_t cbDone = 0; cbDone < s.size();) {
        ssize_t n = write(p->fdIn, s.data() + cbDone, s.size() - cbDone);
        if (n < 0 && errno != EINTR)
            return -1;
        cbDone += n > 0 ? (size_t)n : 0;
    }
    return 0;
}

void hpCloseStdin(HOSTPROC *p)
{
    fnCloseFd(&p->fdIn);
}

// Moves the first line of acBuf (if complete, or forced) into line.
static int fnTakeLine(HOSTPROC *p, char *line, size_t cbLine, int fForce)
{
    char *pNl = (char *)memchr(p->acBuf, '\n', p->cbBuf);
    if (pNl == NULL && (!fForce || p->cbBuf == 0) && p->cbBuf < sizeof(p->acBuf))
        return 0;
    // Without a line end: forced, or an over-long line.
    size_t cbLineLen = pNl != NULL ? (size_t)(pNl - p->acBuf) : p->cbBuf;
    size_t cbUsed = pNl != NULL ? cbLineLen + 1 : cbLineLen;
    if (cbLineLen > 0 && p->acBuf[cbLineLen - 1] == '\r')
        cbLineLen--;
    if (cbLine > 0) {
        size_t c = cbLineLen < cbLine - 1 ? cbLineLen : cbLine - 1;
        memcpy(line, p->acBuf, c);
        line[c] = 0;
    }
    memmove(p->acBuf, p->acBuf + cbUsed, p->cbBuf - cbUsed);
    p->cbBuf -= cbUsed;
    return 1;
}

int hpReadLine(HOSTPROC *p, char *line, size_t cbLine, int timeoutMs)
{
    long long llEnd = hpNowMs() + timeoutMs;

    for (;;) {
        if (fnTakeLine(p, line, cbLine, 0))
            return 1;
        if (p->fdOut < 0)
            return fnTakeLine(p, line, cbLine, 1) ? 1 : -1;
        long long llLeft = llEnd - hpNowMs();
        if (llLeft <= 0)
            return 0;
        struct pollfd pfd = {p->fdOut, POLLIN, 0};
        int r = poll(&pfd, 1, (int)(llLeft > 1000 ? 1000 : llLeft));
        if (r < 0 && errno != EINTR)
            return -1;
        if (r <= 0)
            continue;
        ssize_t n = read(p->fdOut, p->acBuf + p->cbBuf, sizeof(p->acBuf) - p->cbBuf);
        if (n < 0 && errno == EINTR)
            continue;
        if (n <= 0)
            fnCloseFd(&p->fdOut);
        else
            p->cbBuf += (size_t)n;
    }
}

int hpReadLineStarting(HOSTPROC *p, const char *prefix, char *line, size_t cbLine, int timeoutMs)
{
    long long llEnd = hpNowMs() + timeoutMs;
    size_t cbPrefix = strlen(prefix);

    for (;;) {
        long long llLeft = llEnd - hpNowMs();
        int r = hpReadLine(p, line, cbLine, llLeft > 0 ? (int)llLeft : 0);
        if (r != 1)
            return r;
        if (strncmp(line, prefix, cbPrefix) == 0)
            return 1;
    }
}

int hpWaitExit(HOSTPROC *p, int timeoutMs, int *piExit)
{
    long long llEnd = hpNowMs() + timeoutMs;

    while (!p->fExited) {
        if (p->pid <= 0)
            return 0;
        pid_t r = waitpid(p->pid, &p->iStatus, WNOHANG);
        if (r == p->pid)
            p->fExited = 1;
        else if ((r < 0 && errno != EINTR) || hpNowMs() >= llEnd)
            return 0;
        else
            usleep(5000);
    }
    if (piExit != NULL)
        *piExit = WIFEXITED(p->iStatus) ? WEXITSTATUS(p->iStatus)
                  : WIFSIGNALED(p->iStatus) ? 128 + WTERMSIG(p->iStatus) : -1;
    return 1;
}

void hpKill(HOSTPROC *p)
{
    if (p->pid > 0 && !p->fExited) {
        // The child only, not its process group: a Wine program that found
        // no desktop has started Wine's own explorer.exe in its group, and
        // killing that with it would leave the server a desktop whose X
        // window is gone (the next Wine program then dies of BadWindow).
        kill(p->pid, SIGKILL);
        hpWaitExit(p, 10000, NULL);
    }
}

void hpRelease(HOSTPROC *p)
{
    hpKill(p);
    fnCloseFd(&p->fdIn);
    fnCloseFd(&p->fdOut);
}

int hpEnvFileValue(const char *pszFile, const char *pszName, char *pszOut, size_t cbOut)
{
    FILE *f = fopen(pszFile, "r");
    char szLine[4096];
    size_t cbName = strlen(pszName);
    int iRet = -1;

    if (f == NULL)
        return -1;
    while (fgets(szLine, sizeof(szLine), f) != NULL) {
        char *p = szLine;
        if (strncmp(p, "export ", 7) == 0)
            p += 7;
        if (strncmp(p, pszName, cbName) != 0 || p[cbName] != '=')
            continue;
        p += cbName + 1;
        size_t n = strcspn(p, "\r\n");
        p[n] = 0;
        if (n >= 2 && (p[0] == '\'' || p[0] == '"') && p[n - 1] == p[0]) {
            p[n - 1] = 0;
            p++;
        }
        snprintf(pszOut, cbOut, "%s", p);
        iRet = 0;
    }
    fclose(f);
    return iRet;
}
