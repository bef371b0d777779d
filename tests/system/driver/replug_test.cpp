// The mixer's serial device gone and back: the simulated USB adapter is
// pulled (pty closed, COM mapping removed) and plugged in again (a new pty on
// the same COM port). The driver must show the loss at once, reopen the port
// by itself and go on polling; a merely silent mixer must never cause a
// reopen; and twenty losses must leave no threads or handles behind.
#include "rig.h"

namespace {

const int64_t kMs = 1000000;

class ReplugSys : public DriverRig {
protected:
    ReplugSys() : DriverRig(12, 212) {}

    void Unplug() { ASSERT_EQ(0, msUnplug(sim)) << "unplug"; }
    void Replug()
    {
        char acErr[256] = "";
        ASSERT_EQ(0, msReplug(sim, acErr, sizeof acErr)) << "replug: " << acErr;
    }
    // Time of the first message of kind iKind from index ullFrom on; -1 if none.
    int64_t FirstAfter(uint64_t ullFrom, int iKind)
    {
        std::vector<MSMSG> v = Messages();
        for (size_t i = (size_t)ullFrom; i < v.size(); i++) {
            if (v[i].iKind == iKind)
                return v[i].llNs;
        }
        return -1;
    }
    long Res(const std::map<std::string, std::string> &m, const char *key)
    {
        return m.count(key) ? atol(m.at(key).c_str()) : -1;
    }

    void VanishedAndBack();
};

TEST_F(ReplugSys, VanishedDeviceFailsTheLinkAtOnceAndIsReopenedWhenBack)
{
    VanishedAndBack();
}

// An empty configuration directory (the older layout's ConfigPath= with no
// value) makes the device file the bare name, which the profile calls find
// in the Windows directory: the reopen must look for it there too.
TEST_F(ReplugSys, VanishedDeviceIsReopenedWithAnEmptyConfigurationDirectory)
{
    FileRestore zarn(std::string(getenv("WINEPREFIX")) + "/drive_c/zarn_config.ini");
    FileRestore dev(std::string(getenv("WINEPREFIX")) + "/drive_c/windows/dev_" + std::to_string(m_iDevice) + ".ini");
    ASSERT_TRUE(harness::WriteFile(zarn.path, "[Config]\r\nConfigPath=\r\nSystemPath=" +
                                                  harness::WindowsPath(inst->Dir() + "/site/windows/lib") + "\r\n"));
    ASSERT_TRUE(harness::WriteFile(dev.path, harness::DevFileFor(m_iCom)));
    inst->OlderLayout();
    VanishedAndBack();
    EXPECT_NE(std::string::npos, harness::ReadFile(dev.path).find("DataBits=8")) << "start-up did not use this file";
}

void ReplugSys::VanishedAndBack()
{
    UpHealthy();
    const uint8_t abMapA[16] = { 0x01 };
    AfterPoll();
    ASSERT_EQ(0, msSendMap(sim, abMapA, nullptr));
    ASSERT_TRUE(info.WaitFor(WriteCount(128 + 1))) << "first map: every tally slot";

    int64_t llGone = msNowNs();
    Unplug();
    ASSERT_TRUE(info.WaitFor(Wrote(4094, "1"))) << "slot 4094 must go to 1 when the device vanishes";
    int64_t llFailMs = (msNowNs() - llGone) / kMs;
    printf("[ figure ] device gone -> slot 4094 \"1\" in %lld ms\n", (long long)llFailMs);
    EXPECT_LE(llFailMs, 1500) << "the loss must show at once, not at the next poll's time-out";
    EXPECT_TRUE(WaitDebug("Port lost"));
    EXPECT_TRUE(WaitState("Fail", 9));

    // Away for 3 s: every reopen in between fails, quietly (a message box
    // would hold the driver's thread, and nothing below would happen).
    int64_t llBack = llGone + 3000 * kMs;
    while (msNowNs() < llBack)
        usleep(20000);
    uint64_t ullFrom = Messages().size();
    uint64_t ullStartups = msCount(sim, MSK_STARTUP);
    int64_t llPlugged = msNowNs();
    Replug();
    ASSERT_EQ(1, msWaitKind(sim, MSK_POLL, msCount(sim, MSK_POLL) + 1, 20000)) << "no poll on the new device";
    int64_t llPoll = FirstAfter(ullFrom, MSK_POLL);
    ASSERT_GT(llPoll, 0);
    printf("[ figure ] device back -> first poll in %lld ms\n", (long long)((llPoll - llPlugged) / kMs));
    EXPECT_LE((llPoll - llPlugged) / kMs, 2000) << "polls must reach the new device within 2 s";

    // On the new line: the restart byte, then the start-up command, before the poll.
    EXPECT_EQ(ullStartups + 1, msCount(sim, MSK_STARTUP)) << "the start-up command again, once";
    int64_t llRestart = FirstAfter(ullFrom, MSK_RESTART), llStartup = FirstAfter(ullFrom, MSK_STARTUP);
    EXPECT_TRUE(llRestart > 0 && llRestart <= llStartup && llStartup <= llPoll)
        << "restart " << llRestart << ", start-up " << llStartup << ", poll " << llPoll;
    ASSERT_TRUE(info.WaitFor(Wrote(4094, "0", 2))) << "the link must become healthy again";
    EXPECT_TRUE(WaitState("OK", 2));

    // A map sent afterwards is decoded into the slots.
    const uint8_t abMapB[16] = { 0x02, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x80 };
    AfterPoll();
    ASSERT_EQ(0, msSendMap(sim, abMapB, nullptr));
    ASSERT_TRUE(info.WaitFor(Wrote(128, "1"))) << "the map after the reopen was not decoded";
    EXPECT_EQ("0", info.Get(1));
    EXPECT_EQ("1", info.Get(2));
    EXPECT_EQ("1", info.Get(128));
    EXPECT_EQ(1u, DebugCount("Port lost"));
    EXPECT_EQ(1u, DebugCount("Port reopened"));
    EXPECT_GE(atoi(harness::ControlText(Title(), IDC_ERRORS).c_str()), 1) << "the loss is counted";
}

// Acknowledges off for 5 s with the device present: the line is restarted
// (0x30) on every time-out, but the port is never reopened, and the next
// acknowledge heals the link.
TEST_F(ReplugSys, SilentMixerRestartsTheLineButNeverReopens)
{
    UpHealthy();
    uint64_t ullRestarts = msCount(sim, MSK_RESTART);
    msSetAck(sim, MSACK_NONE, 0);
    ASSERT_EQ(1, msWaitKind(sim, MSK_RESTART, ullRestarts + 4, 30000)) << "no restarts on a silent mixer";
    ASSERT_TRUE(info.WaitFor(Wrote(4094, "1")));
    msSetAck(sim, MSACK_NORMAL, 0);
    ASSERT_TRUE(info.WaitFor(Wrote(4094, "0", 2))) << "no recovery on the next acknowledge";
    EXPECT_TRUE(WaitState("OK", 2));
    EXPECT_EQ(1u, msCount(sim, MSK_STARTUP)) << "only start-up sent the start-up command: no reopen";
    EXPECT_EQ(0u, DebugCount("Port lost"));
    EXPECT_EQ(0u, DebugCount("Port reopened"));
    EXPECT_GE(DebugCount("Transmit Timeout"), 4u);
}

// Twenty losses: the driver's threads and handles (seen from outside) stay
// where they were after the first; it then closes cleanly and leaves the
// port free for the next driver.
TEST_F(ReplugSys, TwentyLossesLeakNothingAndThePortIsFreeAfterTheClose)
{
    const int kCycles = 20;
    UpHealthy();
    std::map<std::string, std::string> resFirst;
    for (int i = 0; i < kCycles; i++) {
        SCOPED_TRACE("cycle " + std::to_string(i + 1));
        Unplug();
        ASSERT_TRUE(WaitDebug("Port lost", (size_t)i + 1)) << "loss not noticed";
        Replug();
        // Only a reopen sends the start-up command; an acknowledged poll
        // after it shows the new port at work.
        ASSERT_EQ(1, msWaitKind(sim, MSK_STARTUP, (uint64_t)i + 2, 20000)) << "no reopen";
        AfterPoll();
        ASSERT_TRUE(WaitState("OK", 2)) << "no recovery after the replug";
        if (i == 0)
            resFirst = harness::Resources(Title());
    }
    std::map<std::string, std::string> resLast = harness::Resources(Title());
    printf("[ figure ] after 1 loss: threads %s handles %s windows %s; after %d: threads %s handles %s "
           "windows %s\n", resFirst["threads"].c_str(), resFirst["handles"].c_str(),
           resFirst["windows"].c_str(), kCycles, resLast["threads"].c_str(), resLast["handles"].c_str(),
           resLast["windows"].c_str());
    ASSERT_GT(Res(resFirst, "threads"), 0) << "no resources read after the first loss";
    ASSERT_GT(Res(resLast, "handles"), 0);
    EXPECT_LE(Res(resLast, "threads"), Res(resFirst, "threads") + 1);
    EXPECT_LE(Res(resLast, "handles"), Res(resFirst, "handles") + 8);
    EXPECT_EQ(Res(resFirst, "windows"), Res(resLast, "windows")) << "a message box at run time?";
    EXPECT_EQ((size_t)kCycles, DebugCount("Port lost"));
    EXPECT_EQ((size_t)kCycles, DebugCount("Port reopened"));

    ASSERT_EQ("ok", info.Cmd("close"));
    ASSERT_NO_FATAL_FAILURE(ExpectExit0(driver, "the driver did not end after the close message"));
    ExpectPortFreeForANewDriver();
}

}  // namespace
