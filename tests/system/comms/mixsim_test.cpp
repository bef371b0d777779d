// The simulated mixer and the child-process helper on their own (no Wine):
// the test plays the driver on the pty's slave side.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include <fcntl.h>
#include <limits.h>
#include <poll.h>
#include <stdlib.h>
#include <string.h>
#include <sys/stat.h>
#include <termios.h>
#include <unistd.h>

#include "harness.h"
#include "sim/mixsim.h"

namespace {

std::string Hex(const uint8_t *pb, size_t n) { return harness::Hex(pb, n, " "); }

// Bytes read from fd, up to n, waiting at most timeoutMs.
std::string ReadHex(int fd, size_t n, int timeoutMs)
{
    std::vector<uint8_t> v;
    long long llEnd = hpNowMs() + timeoutMs;
    while (v.size() < n) {
        long long llLeft = llEnd - hpNowMs();
        struct pollfd p = {fd, POLLIN, 0};
        uint8_t ab[256];
        ssize_t r = llLeft > 0 && poll(&p, 1, (int)llLeft) > 0 ? read(fd, ab, sizeof(ab)) : 0;
        if (r <= 0)
            break;
        v.insert(v.end(), ab, ab + r);
    }
    return Hex(v.data(), v.size());
}

TEST(MixSimEncode, TallyFramesCarryOnlyTheMaskedBytesHighestFirst)
{
    struct Case {
        const char *pszName;
        uint8_t abMap[16];
        const char *pszFrame;
    } a[] = {
        {"worked example", {0x03, 0x11, 0, 0x41, 0, 0, 0, 0, 0xFF, 0, 0, 0, 0, 0, 0, 0},
         "09 24 91 ff 01 0b ff 41 11 03"},
        {"empty map", {0}, "05 24 91 ff 00 00"},
        {"both ends", {0x55, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0xAA},
         "07 24 91 ff 80 01 aa 55"},
    };
    for (const Case &c : a) {
        uint8_t ab[22];
        size_t n = msEncodeTally(c.abMap, ab);
        EXPECT_EQ(c.pszFrame, Hex(ab, n)) << c.pszName;
    }
    uint8_t abMap[16] = {0x01};
    uint8_t ab[22];
    size_t n = msEncodeTallyMask(abMap, 0x0003, ab);
    EXPECT_EQ("07 24 91 ff 00 03 00 01", Hex(ab, n)) << "explicit mask carries zero bytes too";
    n = msEncodeTallyMask(abMap, 0xFFFF, ab);
    EXPECT_EQ(22u, n);
    EXPECT_EQ(21, ab[0]);
}

TEST(MixSimEncode, AckModesParse)
{
    const struct { const char *psz; int iRet, iMode, iDelay; } a[] = {
        {"normal", 0, MSACK_NORMAL, 0}, {"none", 0, MSACK_NONE, 0}, {"nak", 0, MSACK_NAK, 0},
        {"late:250", 0, MSACK_LATE, 250}, {"nak:40", 0, MSACK_NAK, 40},
        {"late:", -1, 0, 0}, {"late:x", -1, 0, 0}, {"slow", -1, 0, 0}, {"late:-5", -1, 0, 0},
    };
    for (auto &c : a) {
        int iMode = -7, iDelay = -7;
        int r = msParseAck(c.psz, &iMode, &iDelay);
        EXPECT_EQ(c.iRet, r) << c.psz;
        if (r == 0 && c.iRet == 0) {
            EXPECT_EQ(c.iMode, iMode) << c.psz;
            EXPECT_EQ(c.iDelay, iDelay) << c.psz;
        }
    }
}

// A simulator on COM6 with the test holding the slave, as the driver would.
class MixSimLine : public ::testing::Test {
protected:
    char szDir[32] = "/tmp/mixsimXXXXXX";
    MIXSIM *ps = NULL;
    int fd = -1;

    void SetUp() override
    {
        ASSERT_NE(nullptr, mkdtemp(szDir));
        char szErr[256];
        ps = msOpen(6, szDir, szErr, sizeof(szErr));
        ASSERT_NE(nullptr, ps) << szErr;
        fd = open(Link().c_str(), O_RDWR | O_NOCTTY);
        ASSERT_GE(fd, 0) << "the COM mapping must lead to the pty";
        struct termios tio;
        tcgetattr(fd, &tio);
        EXPECT_EQ(0u, tio.c_lflag & ECHO) << "the slave must be raw, no echo";
    }
    void TearDown() override
    {
        if (fd >= 0)
            close(fd);
        msClose(ps);
        unlink(Link().c_str());
        rmdir(szDir);
    }
    std::string Link() const { return std::string(szDir) + "/com6"; }
    // Where the COM mapping points ("" without one).
    std::string Target() const
    {
        char sz[PATH_MAX] = "";
        return readlink(Link().c_str(), sz, sizeof(sz) - 1) > 0 ? sz : "";
    }
    void Put(const std::vector<uint8_t> &v)
    {
        ASSERT_EQ((ssize_t)v.size(), write(fd, v.data(), v.size()));
    }
    std::string Get(size_t n, int timeoutMs) { return ReadHex(fd, n, timeoutMs); }
};

TEST_F(MixSimLine, CutsTheDriversBytesIntoMessages)
{
    msSetAck(ps, MSACK_NONE, 0);
    Put({0x02, 0xFF, 0x80, 0x30, 0x03, 0x24, 0x11, 0xFF, 0x03, 0x24, 0x11, 0x01,
         0x03, 0x24, 0x11, 0x02, 0x02, 0x84, 0x85, 0x30});
    ASSERT_TRUE(msWaitKind(ps, MSK_RESTART, 2, 10000));
    MSMSG am[16];
    size_t n = msGetMessages(ps, 0, am, 16);
    std::string s;
    for (size_t i = 0; i < n; i++)
        s += std::string(msKindName(am[i].iKind)) + "(" + Hex(am[i].ab, (size_t)am[i].iLen) + ") ";
    EXPECT_EQ("POLL(02 ff 80) RESTART(30) STARTUP(03 24 11 ff) MAINT1(03 24 11 01) "
              "MAINT2(03 24 11 02) FRAME(02 84 85) RESTART(30) ", s);
    uint8_t ab[32];
    int64_t all[32];
    ASSERT_EQ(20u, msGetBytes(ps, 0, ab, all, 32));
    for (size_t i = 1; i < 20; i++)
        EXPECT_LE(all[i - 1], all[i]) << "timestamps go forward";
}

TEST_F(MixSimLine, FrameCutOffByASilence)
{
    Put({0x05, 0x24, 0x91});
    ASSERT_TRUE(msWaitBytes(ps, 3, 10000));
    usleep(700000);     // longer than the 500 ms the parser allows a frame
    Put({0x02, 0xFF, 0x80});
    ASSERT_TRUE(msWaitKind(ps, MSK_POLL, 1, 10000));
    EXPECT_EQ(1u, msCount(ps, MSK_PARTIAL));
}

TEST_F(MixSimLine, AnswersPollsByTheAckMode)
{
    Put({0x02, 0xFF, 0x80});
    EXPECT_EQ("84", Get(1, 10000)) << "normal";
    msSetAck(ps, MSACK_NAK, 0);
    Put({0x02, 0xFF, 0x80});
    EXPECT_EQ("85", Get(1, 10000)) << "nak";

    msSetAck(ps, MSACK_LATE, 300);
    long long ll0 = hpNowMs();
    Put({0x02, 0xFF, 0x80});
    ASSERT_TRUE(msWaitKind(ps, MSK_POLL, 3, 10000));
    ASSERT_TRUE(msWaitAnswered(ps, 10000));
    EXPECT_GE(hpNowMs() - ll0, 290) << "a late answer comes after its delay";
    const uint8_t bAfter = 0x06;
    ASSERT_EQ(0, msWrite(ps, &bAfter, 1, NULL));
    EXPECT_EQ("84 06", Get(2, 10000)) << "late; what is sent once the poll is answered follows the answer";

    msSetAck(ps, MSACK_NONE, 0);
    Put({0x02, 0xFF, 0x80});
    ASSERT_TRUE(msWaitKind(ps, MSK_POLL, 4, 10000));
    msSetAck(ps, MSACK_NORMAL, 0);
    Put({0x02, 0xFF, 0x80});
    EXPECT_EQ("84", Get(2, 3000)) << "the unanswered poll got nothing";
    ASSERT_TRUE(msWaitAnswered(ps, 10000)) << "an answer is counted just after it is written";
    MSSTATS st;
    msGetStats(ps, &st);
    EXPECT_EQ(3u, st.ullAcks);
    EXPECT_EQ(1u, st.ullNaks);
}

TEST_F(MixSimLine, SendsMapsBurstsAndGarbage)
{
    int64_t llDone = 0, llBefore = msNowNs();
    ASSERT_EQ(0, msSendTallyByte(ps, 0, 0x03, &llDone));
    EXPECT_GE(llDone, llBefore);
    EXPECT_EQ("06 24 91 ff 00 01 03", Get(7, 10000));
    ASSERT_EQ(0, msSendTallyByte(ps, 15, 0x80, NULL));
    EXPECT_EQ("07 24 91 ff 80 01 80 03", Get(8, 10000)) << "the map is kept between calls";
    const uint8_t abAck[] = {0x84};
    ASSERT_EQ(0, msSendBurst(ps, abAck, 1, 3, 0));
    EXPECT_EQ("84 84 84", Get(3, 10000));
    ASSERT_EQ(0, msSendGarbage(ps, 100, 7));
    std::string g = Get(100, 10000);
    EXPECT_EQ(299u, g.size());
    MSSTATS st;
    msGetStats(ps, &st);
    EXPECT_EQ(118u, st.ullTxBytes);
}

TEST_F(MixSimLine, SeesPurgesAndHangsUp)
{
    tcflush(fd, TCIFLUSH);
    EXPECT_TRUE(msWaitKind(ps, MSK_PURGE_RX, 1, 10000)) << "input purge on the slave";
    tcflush(fd, TCOFLUSH);
    EXPECT_TRUE(msWaitKind(ps, MSK_PURGE_TX, 1, 10000)) << "output purge on the slave";
    msHangup(ps);
    uint8_t b;
    EXPECT_GE(0, read(fd, &b, 1)) << "reads on the slave end (EOF or error) after the hang-up";
    const uint8_t ab[] = {0x84};
    EXPECT_EQ(-1, msWrite(ps, ab, 1, NULL));
}

// A pulled adapter: the line ends and the port's name goes; a new one gets a
// new pty under the same name, and the simulator serves it as before.
TEST_F(MixSimLine, UnplugEndsTheLineAndReplugMapsANewOne)
{
    Put({0x05, 0x24});                  // half a frame when the adapter goes
    ASSERT_TRUE(msWaitBytes(ps, 2, 10000));
    ASSERT_EQ(0, msUnplug(ps));
    uint8_t b;
    EXPECT_GE(0, read(fd, &b, 1)) << "the old line ends";
    struct stat st;
    EXPECT_NE(0, lstat(Link().c_str(), &st)) << "the COM mapping goes with the adapter";
    EXPECT_EQ(-1, msUnplug(ps)) << "unplugged already";
    const uint8_t abAck[] = {0x84};
    EXPECT_EQ(-1, msWrite(ps, abAck, 1, NULL));
    close(fd);

    char szErr[256];
    ASSERT_EQ(0, msReplug(ps, szErr, sizeof(szErr))) << szErr;
    EXPECT_EQ(-1, msReplug(ps, szErr, sizeof(szErr)));
    EXPECT_STREQ("still plugged in", szErr);
    EXPECT_EQ(msSlaveName(ps), Target());
    fd = open(Link().c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    Put({0x02, 0xFF, 0x80});
    EXPECT_EQ("84", Get(1, 10000)) << "the new line is served";
    EXPECT_EQ(1u, msCount(ps, MSK_POLL)) << "the old half frame must not swallow the poll";
}

TEST_F(MixSimLine, MappingIsReplacedAndOnlyOurOwnRemoved)
{
    EXPECT_EQ(msSlaveName(ps), Target());
    // A second simulator takes the port over; closing the first leaves it.
    MIXSIM *ps2 = msOpen(6, szDir, NULL, 0);
    ASSERT_NE(nullptr, ps2);
    msClose(ps);
    ps = NULL;
    EXPECT_EQ(msSlaveName(ps2), Target());
    msClose(ps2);
    EXPECT_EQ("", Target()) << "closing removes its own mapping";
    ps = msOpen(6, szDir, NULL, 0);     // for TearDown
}

TEST(HostProc, LinesExitCodesDeadlinesAndKill)
{
    HOSTPROC hp;
    const char *argv[] = {"/bin/sh", "-c", "echo \"$HPX\"; pwd; read x; echo got $x; exit 3", NULL};
    const char *env[] = {"HPX=hello", NULL};
    ASSERT_EQ(0, hpSpawn(&hp, argv, env, "/tmp", HP_STDIN | HP_STDOUT));
    char sz[256];
    ASSERT_EQ(1, hpReadLine(&hp, sz, sizeof(sz), 10000));
    EXPECT_STREQ("hello", sz);
    ASSERT_EQ(1, hpReadLine(&hp, sz, sizeof(sz), 10000));
    EXPECT_STREQ("/tmp", sz);
    EXPECT_EQ(0, hpReadLine(&hp, sz, sizeof(sz), 200)) << "silent child: deadline, no line";
    ASSERT_EQ(0, hpWriteLine(&hp, "you"));
    ASSERT_EQ(1, hpReadLineStarting(&hp, "got", sz, sizeof(sz), 10000));
    EXPECT_STREQ("got you", sz);
    EXPECT_EQ(-1, hpReadLine(&hp, sz, sizeof(sz), 10000)) << "end of output";
    int iExit = -1;
    ASSERT_EQ(1, hpWaitExit(&hp, 10000, &iExit));
    EXPECT_EQ(3, iExit);
    hpRelease(&hp);

    const char *argvSleep[] = {"sleep", "60", NULL};
    ASSERT_EQ(0, hpSpawn(&hp, argvSleep, NULL, NULL, HP_QUIET));
    EXPECT_EQ(0, hpWaitExit(&hp, 100, &iExit));
    hpKill(&hp);
    ASSERT_EQ(1, hpWaitExit(&hp, 0, &iExit));
    EXPECT_EQ(128 + 9, iExit);
    hpRelease(&hp);

    const char *argvNone[] = {"/nonexistent/program", NULL};
    EXPECT_EQ(-1, hpSpawn(&hp, argvNone, NULL, NULL, 0));
}

TEST(HostProc, EnvFileValues)
{
    char szPath[] = "/tmp/hpenvXXXXXX";
    int f = mkstemp(szPath);
    ASSERT_GE(f, 0);
    const char *psz = "# comment\nexport A='/x y'\nexport B=plain\nexport AB=\"q\"\n";
    ASSERT_EQ((ssize_t)strlen(psz), write(f, psz, strlen(psz)));
    close(f);
    const struct { const char *pszKey, *pszValue; } a[] = {{"A", "/x y"}, {"B", "plain"}, {"AB", "q"}, {"C", NULL}};
    for (const auto &c : a) {
        char sz[64] = "";
        EXPECT_EQ(c.pszValue ? 0 : -1, hpEnvFileValue(szPath, c.pszKey, sz, sizeof(sz))) << c.pszKey;
        EXPECT_STREQ(c.pszValue ? c.pszValue : "", sz) << c.pszKey;
    }
    unlink(szPath);
}

// The command-line tool: usage, commands and one printed line per message.
TEST(MixSimCli, HelpCommandsAndPrintedMessages)
{
    harness::LineChild cli;
    std::string why, help, l;
    int iExit = -1;
    ASSERT_TRUE(cli.Start({MIXSIM_CLI, "--help"}, nullptr, 0, &why, HP_STDOUT)) << why;
    for (const std::string &h : cli.Rest(10000))
        help += h + "\n";
    ASSERT_TRUE(cli.Quit(nullptr, 10000, &iExit));
    EXPECT_EQ(0, iExit);
    for (const char *psz : {"SIMULATED", "--port", "--ack", "--script", "--quiet", "map <32 hex digits>",
                            "tally", "frame", "burst", "garbage", "stats", "unplug", "replug", "quit"})
        EXPECT_NE(std::string::npos, help.find(psz)) << "usage lacks " << psz;

    ASSERT_TRUE(cli.Start({MIXSIM_CLI, "--ack", "slow"}, nullptr, 0, &why, HP_QUIET)) << why;
    ASSERT_TRUE(cli.Quit(nullptr, 10000, &iExit));
    EXPECT_EQ(2, iExit) << "a bad option is refused";

    char szDir[] = "/tmp/mixcliXXXXXX";
    ASSERT_NE(nullptr, mkdtemp(szDir));
    ASSERT_TRUE(cli.Start({MIXSIM_CLI, "--port", "7", "--ports-dir", szDir, "--ack", "nak"},
                          "ok mixsim COM7 on /dev/pts/", 10000, &why)) << why;
    std::string link = std::string(szDir) + "/com7";
    int fd = open(link.c_str(), O_RDWR | O_NOCTTY);
    ASSERT_GE(fd, 0);
    const uint8_t abPoll[] = {0x02, 0xFF, 0x80};
    ASSERT_EQ(3, write(fd, abPoll, 3));
    ASSERT_EQ(1, cli.ReadLine(&l, 10000));
    EXPECT_NE(std::string::npos, l.find(" POLL 02 ff 80")) << l;
    EXPECT_EQ("85", ReadHex(fd, 1, 10000)) << "--ack nak";

    ASSERT_EQ(1, cli.Ask("tally 0 03", &l, 10000));
    EXPECT_EQ("ok tally 0 03", l);
    EXPECT_EQ("06 24 91 ff 00 01 03", ReadHex(fd, 7, 10000));
    ASSERT_EQ(1, cli.Ask("frame 8", &l, 10000));
    EXPECT_EQ(0u, l.rfind("error frame", 0)) << "odd hex digits: " << l;
    // The answer is counted just after it is written, so the byte can be read
    // here a moment before its count: ask until it shows, with a deadline.
    harness::Eventually([&] { return cli.Ask("stats", &l, 10000) == 1 && l.find("naks=1") != std::string::npos; },
                        10000);
    EXPECT_NE(std::string::npos, l.find("POLL=1")) << l;
    EXPECT_NE(std::string::npos, l.find("naks=1")) << l;
    struct stat st;
    const struct { const char *pszCmd, *pszReply; bool fMapped; } aPlug[] = {
        {"unplug", "ok unplug", false},
        {"unplug", "error unplug", false},
        {"replug", "ok replug COM7 on /dev/pts/", true},
        {"replug", "error replug", true},
    };
    for (const auto &c : aPlug) {
        ASSERT_EQ(1, cli.Ask(c.pszCmd, &l, 10000)) << c.pszCmd;
        EXPECT_EQ(0u, l.rfind(c.pszReply, 0)) << c.pszCmd << ": " << l;
        EXPECT_EQ(c.fMapped, lstat(link.c_str(), &st) == 0) << c.pszCmd;
    }
    ASSERT_TRUE(cli.Quit("quit", 10000, &iExit));
    EXPECT_EQ(0, iExit);
    cli.Release();
    close(fd);
    EXPECT_NE(0, lstat(link.c_str(), &st)) << "quit removes the mapping";
    rmdir(szDir);
}

}  // namespace
