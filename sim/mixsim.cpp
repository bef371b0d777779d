// SIMULATED vision mixer on a pseudo-terminal (see mixsim.h).
#include "mixsim.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>
#include <thread>
#include <vector>

#include <errno.h>
#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <time.h>
#include <unistd.h>

#define MS_FRAMEGAP_NS   500000000LL     // a frame silent this long is cut off
#define MS_WRITEWAIT_MS  10000
#define MS_MAXBYTES      (8u << 20)      // received bytes kept for msGetBytes

struct MIXSIM {
    // The pty. Changed only on the reader thread (hang-up, replug) and by
    // msClose after it; writes go under mxWrite.
    int fdMaster = -1;      // -1 after hang-up
    int fdSlave = -1;       // held open so the master never sees EIO between opens
    char szSlave[64];       // guarded by mx once the reader runs
    char szLink[PATH_MAX];
    std::thread thReader;
    volatile bool fStop;

    std::mutex mx;          // everything below
    std::condition_variable cv;
    int iAck = MSACK_NORMAL, iAckDelayMs = 0;
    std::vector<int64_t> vllAckDue;     // pending late answers (ns)
    int cAnswering;                     // answers taken off vllAckDue, not yet written
    std::vector<MSMSG> vMsgs;
    std::vector<uint8_t> vbRx;
    std::vector<int64_t> vllRx;
    MSSTATS st;
    bool fHangupReq;        // msHangup asks the reader to close the pty
    int fdNewMaster = -1, fdNewSlave = -1;   // msReplug hands a new pty to the reader (-1: none)
    char szNewSlave[64];
    volatile bool fReplugReq;       // set with the three above
    volatile bool fPaused;  // msPause: the reader leaves the pty alone
    uint8_t abMap[16];
    // parser
    MSMSG mCur;
    int iExpect = -1;       // -1: at message start

    std::mutex mxWrite;     // serialises writes to the master
    void (*pfnListen)(void *, const MSMSG *);
    void *pvListen;
};

int64_t msNowNs(void)
{
    struct timespec ts;
    clock_gettime(CLOCK_MONOTONIC, &ts);
    return (int64_t)ts.tv_sec * 1000000000LL + ts.tv_nsec;
}

const char *msKindName(int iKind)
{
    static const char *const apsz[MSK_KINDS] = {
        "POLL", "STARTUP", "MAINT1", "MAINT2", "RESTART", "FRAME", "PARTIAL", "PURGE_RX", "PURGE_TX"
    };
    return iKind >= 0 && iKind < MSK_KINDS ? apsz[iKind] : "?";
}

static void fnErr(char *pszErr, size_t cbErr, const char *pszFmt, ...) __attribute__((format(printf, 3, 4)));
static void fnErr(char *pszErr, size_t cbErr, const char *pszFmt, ...)
{
    va_list ap;
    va_start(ap, pszFmt);
    if (pszErr != NULL && cbErr > 0)
        vsnprintf(pszErr, cbErr, pszFmt, ap);
    va_end(ap);
}

static void fnCloseFd(int *pfd)
{
    if (*pfd >= 0)
        close(*pfd);
    *pfd = -1;
}

static int fnPointLink(const char *pszLink, const char *pszTarget)
{
    char szTmp[PATH_MAX + 32];
    snprintf(szTmp, sizeof(szTmp), "%s.tmp%d", pszLink, (int)getpid());
    unlink(szTmp);
    if (symlink(pszTarget, szTmp) != 0)
        return -1;
    if (rename(szTmp, pszLink) != 0) {
        unlink(szTmp);
        return -1;
    }
    return 0;
}

// Removes the link only while it still points at our slave: another test may
// have taken the port over meanwhile.
static void fnRemoveOurLink(MIXSIM *ps)
{
    char szTarget[PATH_MAX] = "";     // readlink does not end the text
    if (readlink(ps->szLink, szTarget, sizeof(szTarget) - 1) > 0 && strcmp(szTarget, ps->szSlave) == 0)
        unlink(ps->szLink);
}

// ---------------------------------------------------------------- writing

int msWrite(MIXSIM *ps, const uint8_t *pb, size_t cb, int64_t *pllDoneNs)
{
    std::lock_guard<std::mutex> lkw(ps->mxWrite);
    long long llEnd = msNowNs() / 1000000 + MS_WRITEWAIT_MS;

    while (cb > 0) {
        if (ps->fdMaster < 0)
            return -1;
        ssize_t n = write(ps->fdMaster, pb, cb);
        if (n > 0) {
            pb += n;
            cb -= (size_t)n;
            llEnd = msNowNs() / 1000000 + MS_WRITEWAIT_MS;   // 10 s without progress
            std::lock_guard<std::mutex> lk(ps->mx);
            ps->st.ullTxBytes += (uint64_t)n;
            continue;
        }
        if (n < 0 && errno != EAGAIN && errno != EINTR)
            return -1;
        long long llLeft = llEnd - msNowNs() / 1000000;
        if (llLeft <= 0)
            return -1;
        struct pollfd pfd = {ps->fdMaster, POLLOUT, 0};
        poll(&pfd, 1, (int)(llLeft > 100 ? 100 : llLeft));
    }
    if (pllDoneNs != NULL)
        *pllDoneNs = msNowNs();
    return 0;
}

// Writes the run in pieces, each when the line would have carried the bytes
// before it; cbChunk 0: piece by piece of whole counted frames.
static int fnWritePaced(MIXSIM *ps, const uint8_t *pb, size_t cb, int iBaud, size_t cbChunk)
{
    if (iBaud <= 0)
        return -1;
    int64_t llStart = msNowNs();
    size_t cbDone = 0;
    while (cbDone < cb) {
        size_t n = cbChunk != 0 ? cbChunk : (size_t)pb[cbDone] + 1;
        if (n > cb - cbDone) {
            if (cbChunk == 0)
                return -1;
            n = cb - cbDone;
        }
        int64_t llDue = llStart + (int64_t)cbDone * 10 * 1000000000LL / iBaud;
        struct timespec ts = {(time_t)(llDue / 1000000000LL), (long)(llDue % 1000000000LL)};
        while (clock_nanosleep(CLOCK_MONOTONIC, TIMER_ABSTIME, &ts, NULL) == EINTR) {
        }
        if (msWrite(ps, pb + cbDone, n, NULL) != 0)
            return -1;
        cbDone += n;
    }
    return 0;
}

int msWritePaced(MIXSIM *ps, const uint8_t *pb, size_t cb, int iBaud, size_t cbChunk)
{
    return cbChunk == 0 ? -1 : fnWritePaced(ps, pb, cb, iBaud, cbChunk);
}

int msWriteFramesPaced(MIXSIM *ps, const uint8_t *pb, size_t cb, int iBaud)
{
    return fnWritePaced(ps, pb, cb, iBaud, 0);
}

size_t msEncodeTallyMask(const uint8_t abMap[16], uint16_t wMask, uint8_t *pbOut)
{
    size_t n = 6;
    memcpy(pbOut + 1, "\x24\x91\xFF", 3);
    pbOut[4] = (uint8_t)(wMask >> 8);
    pbOut[5] = (uint8_t)wMask;
    for (int x = 15; x >= 0; x--) {
        if (wMask & (1u << x))
            pbOut[n++] = abMap[x];
    }
    pbOut[0] = (uint8_t)(n - 1);
    return n;
}

size_t msEncodeTally(const uint8_t abMap[16], uint8_t *pbOut)
{
    uint16_t wMask = 0;
    for (int x = 0; x < 16; x++) {
        if (abMap[x] != 0)
            wMask |= (uint16_t)(1u << x);
    }
    return msEncodeTallyMask(abMap, wMask, pbOut);
}

int msSendMap(MIXSIM *ps, const uint8_t abMap[16], int64_t *pllDoneNs)
{
    uint8_t ab[22];
    {
        std::lock_guard<std::mutex> lk(ps->mx);
        memcpy(ps->abMap, abMap, 16);
    }
    size_t n = msEncodeTally(abMap, ab);
    return msWrite(ps, ab, n, pllDoneNs);
}

int msSendTallyByte(MIXSIM *ps, int x, uint8_t b, int64_t *pllDoneNs)
{
    uint8_t abMap[16];
    if (x < 0 || x > 15)
        return -1;
    {
        std::lock_guard<std::mutex> lk(ps->mx);
        memcpy(abMap, ps->abMap, 16);
    }
    abMap[x] = b;
    return msSendMap(ps, abMap, pllDoneNs);
}

int msSendBurst(MIXSIM *ps, const uint8_t *pb, size_t cb, int iCount, int iGapMs)
{
    for (int i = 0; i < iCount; i++) {
        if (i > 0 && iGapMs > 0)
            usleep((useconds_t)iGapMs * 1000);
        if (msWrite(ps, pb, cb, NULL) != 0)
            return -1;
    }
    return 0;
}

int msSendGarbage(MIXSIM *ps, size_t cb, uint32_t uSeed)
{
    std::vector<uint8_t> v(cb);
    uint32_t x = uSeed ? uSeed : 0x9E3779B9u;
    for (size_t i = 0; i < cb; i++) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        v[i] = (uint8_t)x;
    }
    return msWrite(ps, v.data(), v.size(), NULL);
}

void msSetAck(MIXSIM *ps, int iMode, int iDelayMs)
{
    std::lock_guard<std::mutex> lk(ps->mx);
    ps->iAck = iMode;
    ps->iAckDelayMs = iDelayMs < 0 ? 0 : iDelayMs;
}

int msParseAck(const char *psz, int *piMode, int *piDelayMs)
{
    const char *pNum = NULL;
    *piDelayMs = 0;
    if (strcmp(psz, "normal") == 0)
        *piMode = MSACK_NORMAL;
    else if (strcmp(psz, "none") == 0)
        *piMode = MSACK_NONE;
    else if (strcmp(psz, "nak") == 0)
        *piMode = MSACK_NAK;
    else if (strncmp(psz, "late:", 5) == 0 || strncmp(psz, "nak:", 4) == 0)
        pNum = strchr(psz, ':') + 1;
    else
        return -1;
    if (pNum == NULL)
        return 0;
    char *pEnd;
    long l = strtol(pNum, &pEnd, 10);
    if (pEnd == pNum || *pEnd != 0 || l < 0 || l > 600000)
        return -1;
    *piMode = psz[0] == 'l' ? MSACK_LATE : MSACK_NAK;
    *piDelayMs = (int)l;
    return 0;
}

// ---------------------------------------------------------------- receiving

// Ends the message in mCur (under mx) and hands a copy to the caller.
static void fnEmit(MIXSIM *ps, int iKind, int64_t llNs, std::vector<MSMSG> *pvOut)
{
    ps->mCur.iKind = iKind;
    ps->mCur.llNs = llNs;
    ps->vMsgs.push_back(ps->mCur);
    ps->st.aullKind[iKind]++;
    pvOut->push_back(ps->mCur);
    ps->mCur.iLen = 0;
    ps->iExpect = -1;
}

static int fnClassify(const MSMSG *pm)
{
    static const uint8_t abPoll[] = {0x02, 0xFF, 0x80};
    static const uint8_t abStart[] = {0x03, 0x24, 0x11};
    if (pm->iLen == 3 && memcmp(pm->ab, abPoll, 3) == 0)
        return MSK_POLL;
    if (pm->iLen == 4 && memcmp(pm->ab, abStart, 3) == 0) {
        if (pm->ab[3] == 0xFF)
            return MSK_STARTUP;
        if (pm->ab[3] == 0x01)
            return MSK_MAINT1;
        if (pm->ab[3] == 0x02)
            return MSK_MAINT2;
    }
    return MSK_FRAME;
}

// One received byte (under mx). Polls get their answer scheduled.
static void fnParseByte(MIXSIM *ps, uint8_t b, int64_t llNs, std::vector<MSMSG> *pvOut)
{
    if (ps->iExpect >= 0 && ps->mCur.iLen > 0 && llNs - ps->mCur.llNs > MS_FRAMEGAP_NS)
        fnEmit(ps, MSK_PARTIAL, ps->mCur.llNs, pvOut);
    ps->mCur.ab[ps->mCur.iLen++] = b;
    ps->mCur.llNs = llNs;
    if (ps->iExpect < 0) {
        if (b == 0x30) {
            fnEmit(ps, MSK_RESTART, llNs, pvOut);
            return;
        }
        ps->iExpect = b;
        if (b != 0)
            return;
    }
    if (ps->mCur.iLen - 1 < ps->iExpect)
        return;
    int iKind = fnClassify(&ps->mCur);
    fnEmit(ps, iKind, llNs, pvOut);
    if (iKind == MSK_POLL && ps->iAck != MSACK_NONE) {
        int iDelay = ps->iAck == MSACK_NORMAL ? 0 : ps->iAckDelayMs;
        ps->vllAckDue.push_back(llNs + (int64_t)iDelay * 1000000LL);
    }
}

// Hang-up and replug requests, taken on the reader thread: the pty is closed
// here, so that no poll or read can ever meet a descriptor number that was
// closed and reused; a replugged line replaces the closed one, and what the
// old one left half-received or unanswered is forgotten.
static void fnTakeLineRequests(MIXSIM *ps)
{
    bool fHangup = ps->fHangupReq && ps->fdMaster >= 0;
    if (!fHangup && !ps->fReplugReq)
        return;
    std::lock_guard<std::mutex> lkw(ps->mxWrite);
    std::lock_guard<std::mutex> lk(ps->mx);
    if (fHangup) {
        fnCloseFd(&ps->fdMaster);
        fnCloseFd(&ps->fdSlave);
    }
    if (ps->fReplugReq) {
        ps->fReplugReq = false;
        ps->fdMaster = ps->fdNewMaster;
        ps->fdSlave = ps->fdNewSlave;
        ps->fdNewMaster = ps->fdNewSlave = -1;
        memcpy(ps->szSlave, ps->szNewSlave, sizeof(ps->szSlave));
        ps->fHangupReq = false;
        ps->mCur.iLen = 0;
        ps->iExpect = -1;
        ps->vllAckDue.clear();
    }
    ps->cv.notify_all();
}

// Writes the answers to polls that are due; returns the ms until the next
// one is (at most iTimeout).
static int fnAnswerDuePolls(MIXSIM *ps, int iTimeout)
{
    int64_t llNow = msNowNs();
    uint8_t bAnswer = 0;
    int cDue = 0;
    {
        std::lock_guard<std::mutex> lk(ps->mx);
        for (size_t i = 0; i < ps->vllAckDue.size(); i++) {
            int64_t llDue = ps->vllAckDue[i];
            if (llDue <= llNow)
                cDue++;
            else if ((llDue - llNow) / 1000000 + 1 < iTimeout)
                iTimeout = (int)((llDue - llNow) / 1000000 + 1);
        }
        ps->vllAckDue.erase(std::remove_if(ps->vllAckDue.begin(), ps->vllAckDue.end(),
                                           [&](int64_t ll) { return ll <= llNow; }), ps->vllAckDue.end());
        bAnswer = ps->iAck == MSACK_NAK ? 0x85 : 0x84;
        ps->cAnswering += cDue;
    }
    if (cDue > 0) {
        // Counted once on the line, so that a waiter's next bytes follow them.
        for (int i = 0; i < cDue; i++)
            msWrite(ps, &bAnswer, 1, NULL);
        std::lock_guard<std::mutex> lk(ps->mx);
        if (bAnswer == 0x84)
            ps->st.ullAcks += (uint64_t)cDue;
        else
            ps->st.ullNaks += (uint64_t)cDue;
        ps->cAnswering -= cDue;
        ps->cv.notify_all();
    }
    return iTimeout;
}

// One read from the master in packet mode: the driver's bytes, cut into
// messages, or a purge of its queues. Caller holds ps->mx.
static void fnTakeRead(MIXSIM *ps, const uint8_t *ab, ssize_t n, int64_t llNs, std::vector<MSMSG> *pvOut)
{
    if (ab[0] != TIOCPKT_DATA) {
        // Packet-mode status: the slave side flushed its queues.
        if (ab[0] & (TIOCPKT_FLUSHREAD | TIOCPKT_FLUSHWRITE)) {
            if (ps->iExpect >= 0 && ps->mCur.iLen > 0)
                fnEmit(ps, MSK_PARTIAL, ps->mCur.llNs, pvOut);
            ps->mCur.iLen = 0;
            if (ab[0] & TIOCPKT_FLUSHREAD)
                fnEmit(ps, MSK_PURGE_RX, llNs, pvOut);
            if (ab[0] & TIOCPKT_FLUSHWRITE)
                fnEmit(ps, MSK_PURGE_TX, llNs, pvOut);
        }
        return;
    }
    for (ssize_t i = 1; i < n; i++) {
        if (ps->vbRx.size() < MS_MAXBYTES) {
            ps->vbRx.push_back(ab[i]);
            ps->vllRx.push_back(llNs);
        }
        ps->st.ullRxBytes++;
        fnParseByte(ps, ab[i], llNs, pvOut);
    }
}

static void fnReader(MIXSIM *ps)
{
    uint8_t ab[4097];
    std::vector<MSMSG> vOut;

    while (!ps->fStop) {
        fnTakeLineRequests(ps);
        int iTimeout = fnAnswerDuePolls(ps, 50);
        int fd = ps->fdMaster;
        if (fd < 0 || ps->fPaused) {
            usleep(20000);
            continue;
        }
        struct pollfd pfd = {fd, POLLIN, 0};
        int r = poll(&pfd, 1, iTimeout);
        if (r <= 0)
            continue;
        if ((pfd.revents & (POLLHUP | POLLERR | POLLNVAL)) && !(pfd.revents & POLLIN)) {
            usleep(10000);     // nobody has the slave open just now
            continue;
        }
        ssize_t n = read(fd, ab, sizeof(ab));
        if (n <= 0) {
            usleep(10000);
            continue;
        }
        int64_t llNs = msNowNs();
        vOut.clear();
        {
            std::lock_guard<std::mutex> lk(ps->mx);
            fnTakeRead(ps, ab, n, llNs, &vOut);
        }
        ps->cv.notify_all();
        if (ps->pfnListen != NULL) {
            for (const MSMSG &m : vOut)
                ps->pfnListen(ps->pvListen, &m);
        }
    }
}

// ---------------------------------------------------------------- life

// A raw pty: master non-blocking in packet mode, our own slave descriptor.
static int fnMakePty(int *pfdMaster, int *pfdSlave, char *pszSlave, size_t cbSlave, char *pszErr,
                     size_t cbErr)
{
    *pfdSlave = -1;
    *pfdMaster = posix_openpt(O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (*pfdMaster < 0 || grantpt(*pfdMaster) != 0 || unlockpt(*pfdMaster) != 0 ||
        ptsname_r(*pfdMaster, pszSlave, cbSlave) != 0) {
        fnErr(pszErr, cbErr, "posix_openpt: %s", strerror(errno));
        return -1;
    }
    *pfdSlave = open(pszSlave, O_RDWR | O_NOCTTY | O_CLOEXEC);
    if (*pfdSlave < 0) {
        fnErr(pszErr, cbErr, "%s: %s", pszSlave, strerror(errno));
        return -1;
    }
    // Raw both ways, no echo: the line carries bytes, not text.
    struct termios tio;
    for (int fd : {*pfdSlave, *pfdMaster}) {
        if (tcgetattr(fd, &tio) == 0) {
            cfmakeraw(&tio);
            cfsetispeed(&tio, B38400);
            cfsetospeed(&tio, B38400);
            tcsetattr(fd, TCSANOW, &tio);
        }
    }
    int iOn = 1;
    ioctl(*pfdMaster, TIOCPKT, &iOn);
    fcntl(*pfdMaster, F_SETFL, fcntl(*pfdMaster, F_GETFL) | O_NONBLOCK);
    return 0;
}

MIXSIM *msOpen(int iPort, const char *pszPortsDir, char *pszErr, size_t cbErr)
{
    fnErr(pszErr, cbErr, "%s", "");
    if (pszPortsDir == NULL)
        pszPortsDir = getenv("MIXTALLY_PORTS");
    if (pszPortsDir == NULL || iPort < 1 || iPort > 256) {
        fnErr(pszErr, cbErr, "no ports directory (MIXTALLY_PORTS) or bad port %d", iPort);
        return NULL;
    }
    MIXSIM *ps = new MIXSIM();
    snprintf(ps->szLink, sizeof(ps->szLink), "%s/com%d", pszPortsDir, iPort);

    if (fnMakePty(&ps->fdMaster, &ps->fdSlave, ps->szSlave, sizeof(ps->szSlave), pszErr, cbErr) != 0) {
        msClose(ps);
        return NULL;
    }
    if (fnPointLink(ps->szLink, ps->szSlave) != 0) {
        fnErr(pszErr, cbErr, "%s: %s", ps->szLink, strerror(errno));
        msClose(ps);
        return NULL;
    }
    ps->thReader = std::thread(fnReader, ps);
    return ps;
}

void msClose(MIXSIM *ps)
{
    if (ps == NULL)
        return;
    ps->fStop = true;
    if (ps->thReader.joinable())
        ps->thReader.join();
    if (ps->szSlave[0])
        fnRemoveOurLink(ps);
    {
        std::lock_guard<std::mutex> lk(ps->mxWrite);
        fnCloseFd(&ps->fdMaster);
    }
    for (int *pfd : {&ps->fdSlave, &ps->fdNewMaster, &ps->fdNewSlave})
        fnCloseFd(pfd);
    delete ps;
}

const char *msSlaveName(const MIXSIM *ps)
{
    return ps->szSlave;
}

int msUnmap(MIXSIM *ps)
{
    fnRemoveOurLink(ps);
    return 0;
}

void msPause(MIXSIM *ps, int fPause)
{
    ps->fPaused = fPause != 0;
}

void msHangup(MIXSIM *ps)
{
    // Our own slave descriptor goes too: nothing holds the line up any more.
    std::unique_lock<std::mutex> lk(ps->mx);
    ps->fHangupReq = true;
    ps->cv.wait_for(lk, std::chrono::seconds(10), [&] { return ps->fdMaster < 0; });
}

int msUnplug(MIXSIM *ps)
{
    {
        std::lock_guard<std::mutex> lk(ps->mx);
        if (ps->fdMaster < 0)
            return -1;
    }
    msHangup(ps);
    std::lock_guard<std::mutex> lk(ps->mx);
    fnRemoveOurLink(ps);
    return 0;
}

int msReplug(MIXSIM *ps, char *pszErr, size_t cbErr)
{
    int fdM, fdS;
    char szSlave[64];

    fnErr(pszErr, cbErr, "%s", "");
    {
        std::lock_guard<std::mutex> lk(ps->mx);
        if (ps->fdMaster >= 0 || ps->fdNewMaster >= 0) {
            fnErr(pszErr, cbErr, "still plugged in");
            return -1;
        }
    }
    if (fnMakePty(&fdM, &fdS, szSlave, sizeof(szSlave), pszErr, cbErr) != 0) {
        fnCloseFd(&fdM);
        fnCloseFd(&fdS);
        return -1;
    }
    // The reader takes the pty over; only then may the driver find it.
    std::unique_lock<std::mutex> lk(ps->mx);
    ps->fdNewMaster = fdM;
    ps->fdNewSlave = fdS;
    memcpy(ps->szNewSlave, szSlave, sizeof(szSlave));
    ps->fReplugReq = true;
    ps->cv.wait_for(lk, std::chrono::seconds(10), [&] { return ps->fdNewMaster < 0; });
    if (ps->fdNewMaster >= 0 || fnPointLink(ps->szLink, ps->szSlave) != 0) {
        fnErr(pszErr, cbErr, "%s: %s", ps->szLink, strerror(errno));
        return -1;
    }
    return 0;
}

// ---------------------------------------------------------------- queries

// 1 once fnDone (called under mx) holds, 0 when timeoutMs passed first.
template <typename F> static int fnWaitFor(MIXSIM *ps, int timeoutMs, F fnDone)
{
    std::unique_lock<std::mutex> lk(ps->mx);
    return ps->cv.wait_for(lk, std::chrono::milliseconds(timeoutMs), fnDone) ? 1 : 0;
}

int msWaitKind(MIXSIM *ps, int iKind, uint64_t ullCount, int timeoutMs)
{
    if (iKind < 0 || iKind >= MSK_KINDS)
        return 0;
    return fnWaitFor(ps, timeoutMs, [&] { return ps->st.aullKind[iKind] >= ullCount; });
}

int msWaitAnswered(MIXSIM *ps, int timeoutMs)
{
    return fnWaitFor(ps, timeoutMs, [&] { return ps->vllAckDue.empty() && ps->cAnswering == 0; });
}

int msWaitBytes(MIXSIM *ps, uint64_t cb, int timeoutMs)
{
    return fnWaitFor(ps, timeoutMs, [&] { return ps->st.ullRxBytes >= cb; });
}

uint64_t msCount(MIXSIM *ps, int iKind)
{
    std::lock_guard<std::mutex> lk(ps->mx);
    return iKind >= 0 && iKind < MSK_KINDS ? ps->st.aullKind[iKind] : 0;
}

void msGetStats(MIXSIM *ps, MSSTATS *pst)
{
    std::lock_guard<std::mutex> lk(ps->mx);
    *pst = ps->st;
}

size_t msGetMessages(MIXSIM *ps, uint64_t ullFrom, MSMSG *pOut, size_t cMax)
{
    std::lock_guard<std::mutex> lk(ps->mx);
    size_t n = 0;
    for (uint64_t i = ullFrom; i < ps->vMsgs.size() && n < cMax; i++)
        pOut[n++] = ps->vMsgs[i];
    return n;
}

size_t msGetBytes(MIXSIM *ps, uint64_t ullFrom, uint8_t *pb, int64_t *pllNs, size_t cMax)
{
    std::lock_guard<std::mutex> lk(ps->mx);
    size_t n = 0;
    for (uint64_t i = ullFrom; i < ps->vbRx.size() && n < cMax; i++, n++) {
        pb[n] = ps->vbRx[i];
        if (pllNs != NULL)
            pllNs[n] = ps->vllRx[i];
    }
    return n;
}

void msReset(MIXSIM *ps)
{
    std::lock_guard<std::mutex> lk(ps->mx);
    ps->vMsgs.clear();
    ps->vbRx.clear();
    ps->vllRx.clear();
    memset(&ps->st, 0, sizeof(ps->st));
    ps->mCur.iLen = 0;
    ps->iExpect = -1;
}

void msSetListener(MIXSIM *ps, void (*pfn)(void *pv, const MSMSG *pm), void *pv)
{
    std::lock_guard<std::mutex> lk(ps->mx);
    ps->pvListen = pv;
    ps->pfnListen = pfn;
}
