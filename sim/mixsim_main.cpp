// mixsim: command-line front end of the SIMULATED vision mixer (mixsim.h).
#include "mixsim.h"

#include <mutex>
#include <vector>

#include <ctype.h>
#include <signal.h>
#include <stdarg.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

static const char szUsage[] =
    "mixsim - SIMULATED vision mixer on a pseudo-terminal (test tool, not a mixer)\n"
    "\n"
    "usage: mixsim [--port N] [--ack MODE] [--script FILE] [--quiet] [--ports-dir DIR]\n"
    "\n"
    "  --port N        COM port to serve (default 15): $MIXTALLY_PORTS/comN is pointed\n"
    "                  at the simulator's pty; start the driver after mixsim is up\n"
    "  --ack MODE      answer to each poll 02 FF 80: normal (84 at once), late:<ms>,\n"
    "                  none, nak (85), nak:<ms>\n"
    "  --script FILE   run the commands of FILE (one a line, # comments) first\n"
    "  --quiet         print only replies to commands, not the received messages\n"
    "  --ports-dir DIR instead of $MIXTALLY_PORTS (source the build's wine/env.sh)\n"
    "\n"
    "Commands, one per line on stdin (and in scripts):\n"
    "  ack MODE                  change the answer to polls (see --ack)\n"
    "  map <32 hex digits>       send a tally frame of this 16-byte map, map byte 0 first\n"
    "  tally <x> <hex byte>      set map byte x (0..15) of the current map and send it\n"
    "  frame <hex bytes>         send raw bytes, e.g. frame 84 or frame 07 24 91 ff 80 01 aa 55\n"
    "  burst <n> <gap ms> <hex>  send the raw bytes n times, gap ms apart (0: back to back)\n"
    "  garbage <n> [seed]        send n pseudo-random bytes\n"
    "  stats                     counts of messages received and bytes both ways\n"
    "  unplug                    pull the adapter: close the pty and remove the COM mapping\n"
    "  replug                    plug a new adapter in: a new pty, the COM mapping re-pointed\n"
    "  quit                      end (also end of input, Ctrl-C)\n"
    "\n"
    "Output: one line per message from the driver,\n"
    "  <seconds.micro, CLOCK_MONOTONIC> <KIND> <hex bytes>\n"
    "with KIND one of POLL STARTUP MAINT1 MAINT2 RESTART FRAME PARTIAL PURGE_RX PURGE_TX,\n"
    "and one reply line per command starting with \"ok\" or \"error\".\n";

static std::mutex mxOut;
static bool fQuiet;
static int iPort = 15;
static volatile sig_atomic_t fQuit;

static void fnOnSignal(int)
{
    fQuit = 1;
}

static void fnPrintMsg(void *, const MSMSG *pm)
{
    if (fQuiet)
        return;
    std::lock_guard<std::mutex> lk(mxOut);
    printf("%lld.%06lld %s", (long long)(pm->llNs / 1000000000LL),
           (long long)(pm->llNs % 1000000000LL / 1000), msKindName(pm->iKind));
    for (int i = 0; i < pm->iLen; i++)
        printf(" %02x", pm->ab[i]);
    printf("\n");
    fflush(stdout);
}

static void fnReply(const char *pszFmt, ...) __attribute__((format(printf, 1, 2)));
static void fnReply(const char *pszFmt, ...)
{
    std::lock_guard<std::mutex> lk(mxOut);
    va_list ap;
    va_start(ap, pszFmt);
    vprintf(pszFmt, ap);
    va_end(ap);
    printf("\n");
    fflush(stdout);
}

// The reply to a command that writes to the line: "ok <what>" or the failure.
static void fnReplyWrite(int iRes, const char *pszCmd, const char *pszFmt, ...) __attribute__((format(printf, 3, 4)));
static void fnReplyWrite(int iRes, const char *pszCmd, const char *pszFmt, ...)
{
    if (iRes != 0) {
        fnReply("error %s: write failed", pszCmd);
        return;
    }
    char sz[256];
    va_list ap;
    va_start(ap, pszFmt);
    vsnprintf(sz, sizeof(sz), pszFmt, ap);
    va_end(ap);
    fnReply("ok %s %s", pszCmd, sz);
}

// Hex bytes, spaces optional between pairs. false on a stray character.
static bool fnParseHex(const char *psz, std::vector<uint8_t> *pv)
{
    for (psz += strspn(psz, " \t"); *psz != 0; psz += strspn(psz, " \t")) {
        if (!isxdigit((unsigned char)psz[0]) || !isxdigit((unsigned char)psz[1]))
            return false;
        const char szPair[3] = {psz[0], psz[1], 0};
        pv->push_back((uint8_t)strtoul(szPair, NULL, 16));
        psz += 2;
    }
    return true;
}

// One command each, with its arguments; each prints its one reply line.
static void fnCmdAck(MIXSIM *ps, const char *pArgs)
{
    int iMode, iDelay;
    if (msParseAck(pArgs, &iMode, &iDelay) != 0) {
        fnReply("error ack: expected normal, late:<ms>, none, nak or nak:<ms>");
        return;
    }
    msSetAck(ps, iMode, iDelay);
    fnReply("ok ack %s", pArgs);
}

static void fnCmdMap(MIXSIM *ps, const char *pArgs)
{
    std::vector<uint8_t> v;
    int64_t ll = 0;
    if (!fnParseHex(pArgs, &v) || v.size() != 16) {
        fnReply("error map: expected 32 hex digits (16 bytes, map byte 0 first)");
        return;
    }
    // Sent before the time is read: arguments have no order of evaluation.
    int iRes = msSendMap(ps, v.data(), &ll);
    fnReplyWrite(iRes, "map", "sent at %lld.%06lld", (long long)(ll / 1000000000LL),
                 (long long)(ll % 1000000000LL / 1000));
}

static void fnCmdTally(MIXSIM *ps, const char *pArgs)
{
    int x;
    unsigned b;
    if (sscanf(pArgs, "%d %x", &x, &b) != 2 || x < 0 || x > 15 || b > 255)
        fnReply("error tally: expected <map byte 0..15> <hex byte>");
    else
        fnReplyWrite(msSendTallyByte(ps, x, (uint8_t)b, NULL), "tally", "%d %02x", x, b);
}

static void fnCmdFrame(MIXSIM *ps, const char *pArgs)
{
    std::vector<uint8_t> v;
    if (!fnParseHex(pArgs, &v) || v.empty())
        fnReply("error frame: expected hex bytes");
    else
        fnReplyWrite(msWrite(ps, v.data(), v.size(), NULL), "frame", "%zu bytes", v.size());
}

static void fnCmdBurst(MIXSIM *ps, const char *pArgs)
{
    int iCount, iGap, k = 0;
    std::vector<uint8_t> v;
    if (sscanf(pArgs, "%d %d %n", &iCount, &iGap, &k) < 2 || iCount < 1 || iGap < 0 ||
        !fnParseHex(pArgs + k, &v) || v.empty())
        fnReply("error burst: expected <count> <gap ms> <hex bytes>");
    else
        fnReplyWrite(msSendBurst(ps, v.data(), v.size(), iCount, iGap), "burst", "%d x %zu bytes", iCount, v.size());
}

static void fnCmdGarbage(MIXSIM *ps, const char *pArgs)
{
    int iCount;
    unsigned uSeed = 1;
    if (sscanf(pArgs, "%d %u", &iCount, &uSeed) < 1 || iCount < 1 || iCount > 1000000)
        fnReply("error garbage: expected <count 1..1000000> [seed]");
    else
        fnReplyWrite(msSendGarbage(ps, (size_t)iCount, uSeed), "garbage", "%d", iCount);
}

static void fnCmdStats(MIXSIM *ps, const char *)
{
    MSSTATS st;
    char sz[512];
    int n = 0;
    msGetStats(ps, &st);
    for (int i = 0; i < MSK_KINDS; i++)
        n += snprintf(sz + n, sizeof(sz) - (size_t)n, " %s=%llu", msKindName(i), (unsigned long long)st.aullKind[i]);
    fnReply("ok stats%s rx=%llu tx=%llu acks=%llu naks=%llu", sz, (unsigned long long)st.ullRxBytes,
            (unsigned long long)st.ullTxBytes, (unsigned long long)st.ullAcks, (unsigned long long)st.ullNaks);
}

static void fnCmdUnplug(MIXSIM *ps, const char *)
{
    fnReply(msUnplug(ps) != 0 ? "error unplug: unplugged already" : "ok unplug");
}

static void fnCmdReplug(MIXSIM *ps, const char *)
{
    char szErr[256];
    if (msReplug(ps, szErr, sizeof(szErr)) != 0)
        fnReply("error replug: %s", szErr);
    else
        fnReply("ok replug COM%d on %s", iPort, msSlaveName(ps));
}

static const struct {
    const char *pszName;
    void (*pfn)(MIXSIM *ps, const char *pArgs);
} aCommands[] = {
    { "ack", fnCmdAck },     { "map", fnCmdMap },         { "tally", fnCmdTally }, { "frame", fnCmdFrame },
    { "burst", fnCmdBurst }, { "garbage", fnCmdGarbage }, { "stats", fnCmdStats }, { "unplug", fnCmdUnplug },
    { "replug", fnCmdReplug },
};

// Runs one command line; false when it asks to end.
static bool fnCommand(MIXSIM *ps, char *pszLine)
{
    char *pEnd = pszLine + strlen(pszLine);
    while (pEnd > pszLine && (pEnd[-1] == '\n' || pEnd[-1] == '\r' || pEnd[-1] == ' '))
        *--pEnd = 0;
    char *p = pszLine + strspn(pszLine, " \t");
    if (*p == 0 || *p == '#')
        return true;
    char szCmd[32] = "";
    int n = 0;
    sscanf(p, "%31s%n", szCmd, &n);
    char *pArgs = p + n + strspn(p + n, " \t");
    if (strcmp(szCmd, "quit") == 0)
        return false;
    for (const auto &c : aCommands) {
        if (strcmp(szCmd, c.pszName) == 0) {
            c.pfn(ps, pArgs);
            return true;
        }
    }
    fnReply("error unknown command \"%s\" (see mixsim --help)", szCmd);
    return true;
}

int main(int argc, char **argv)
{
    int iAck = MSACK_NORMAL, iAckDelay = 0;
    const char *pszScript = NULL, *pszPortsDir = NULL;

    for (int i = 1; i < argc; i++) {
        const char *a = argv[i];
        bool fHasVal = i + 1 < argc;
        if (strcmp(a, "--help") == 0 || strcmp(a, "-h") == 0) {
            fputs(szUsage, stdout);
            return 0;
        } else if (strcmp(a, "--quiet") == 0) {
            fQuiet = true;
        } else if (strcmp(a, "--port") == 0 && fHasVal) {
            iPort = atoi(argv[++i]);
            if (iPort < 1 || iPort > 256) {
                fprintf(stderr, "mixsim: --port must be 1..256\n");
                return 2;
            }
        } else if (strcmp(a, "--ack") == 0 && fHasVal) {
            if (msParseAck(argv[++i], &iAck, &iAckDelay) != 0) {
                fprintf(stderr, "mixsim: bad --ack %s (normal, late:<ms>, none, nak)\n", argv[i]);
                return 2;
            }
        } else if (strcmp(a, "--script") == 0 && fHasVal) {
            pszScript = argv[++i];
        } else if (strcmp(a, "--ports-dir") == 0 && fHasVal) {
            pszPortsDir = argv[++i];
        } else {
            fprintf(stderr, "mixsim: unknown or incomplete option %s\n\n%s", a, szUsage);
            return 2;
        }
    }

    char szErr[256];
    MIXSIM *ps = msOpen(iPort, pszPortsDir, szErr, sizeof(szErr));
    if (ps == NULL) {
        fprintf(stderr, "mixsim: %s\n", szErr);
        return 1;
    }
    msSetAck(ps, iAck, iAckDelay);
    msSetListener(ps, fnPrintMsg, NULL);
    signal(SIGINT, fnOnSignal);
    signal(SIGTERM, fnOnSignal);
    signal(SIGPIPE, SIG_IGN);
    fnReply("ok mixsim COM%d on %s", iPort, msSlaveName(ps));

    char szLine[4096];
    bool fGo = true;
    FILE *apf[2] = {NULL, stdin};     // the script first, then stdin
    if (pszScript != NULL && (apf[0] = fopen(pszScript, "r")) == NULL) {
        fprintf(stderr, "mixsim: cannot read script %s\n", pszScript);
        msClose(ps);
        return 1;
    }
    for (FILE *f : apf) {
        while (f != NULL && fGo && !fQuit && fgets(szLine, sizeof(szLine), f) != NULL)
            fGo = fnCommand(ps, szLine);
    }
    if (apf[0] != NULL)
        fclose(apf[0]);
    msClose(ps);
    return 0;
}
