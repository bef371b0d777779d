// Start-up failures: each is reported in its own message box, then the
// driver ends with exit code 0 (and touches nothing it should not).
#include "rig.h"

namespace {

class StartFail : public DriverRig {
protected:
    StartFail() : DriverRig(10, 210) {}

    // Starts the driver with args, presses the box with caption; returns its
    // text and checks the exit code. fnWhileShown, if given, runs once the
    // box is up and before it is pressed.
    std::string BoxOf(const std::string &args, const std::string &caption,
                      const std::function<void()> &fnWhileShown = nullptr)
    {
        EXPECT_NO_FATAL_FAILURE(StartDriver(driver, args.c_str()));
        if (fnWhileShown) {
            EXPECT_TRUE(harness::WaitWindow(caption, 60000)) << "no box captioned " << caption;
            fnWhileShown();
        }
        std::string text = harness::PressBox(caption, 60000);
        EXPECT_NO_FATAL_FAILURE(ExpectExit0(driver, "the driver did not end after the box"));
        return text;
    }
};

TEST_F(StartFail, BadDeviceNumberOnCommandLine)
{
    // 4294967506 would wrap to 210 in 32-bit arithmetic: it must be refused,
    // not taken as this test's (configured) device.
    for (const char *args : { "", "0", "1000", "-3", "abc", "4294967506" }) {
        SCOPED_TRACE(std::string("command line '") + args + "'");
        EXPECT_EQ("No valid device number specified on the command line", BoxOf(args, "ERROR"));
    }
}

TEST_F(StartFail, NoWorkstationNumber)
{
    // Neither the Windows directory nor the current one may name one.
    const char *prefix = getenv("WINEPREFIX");
    ASSERT_NE(nullptr, prefix);
    for (const char *f : { "xnet.ini", "plinth.ini" }) {
        std::string p = std::string(prefix) + "/drive_c/windows/" + f;
        std::string text = harness::ReadFile(p);
        ASSERT_EQ(std::string::npos, text.find("Workstation"))
            << p << " names a workstation; this test needs a prefix without one";
    }
    inst->Workstation(0);
    EXPECT_EQ("ZARN Workstation ID missing from \"plinth.ini\" or \"xnet.ini\"", BoxOf("210", "ERROR"));
}

TEST_F(StartFail, NoCustomControlLibrary)
{
    inst->RemoveLibrary("ZARN_CC.DLL");
    EXPECT_EQ("Can't Load ZARN Custom controls: \"ZARN_CC.DLL\"", BoxOf("210", "mixtally"));
}

TEST_F(StartFail, NoInfodriverForTheDevice)
{
    // The panel is made before the hook is tried, and no timer runs yet: while
    // the box is up, the link state is the panel's initial one.
    EXPECT_EQ("Cannot hook into (external) infodriver 211", BoxOf("211", "Error", [] {
        int iState = -1;
        EXPECT_EQ("?", harness::ControlText(harness::Title(211), IDC_COMMS, &iState)) << "initial link state caption";
        EXPECT_EQ(1, iState) << "initial colour code /__1F__";
    }));
}

TEST_F(StartFail, PortMissing)
{
    std::string why;
    ASSERT_TRUE(info.Start(m_iDevice, &why)) << why;
    inst->DevFile(m_iDevice, harness::DevFileFor(10));
    ASSERT_TRUE(harness::MapPort(10, "/nonexistent/mixtally-no-such-tty"));
    EXPECT_EQ("COM10 does not exist\\nor is already in use\\nOh Dear!", BoxOf("210", "!! Error !!"));
    harness::MapPort(10, "");
    EXPECT_TRUE(info.WaitFor(Has("unhooked"))) << "a failed start-up still releases the infodriver";
}

TEST_F(StartFail, UnsupportedSpeed)
{
    ASSERT_NO_FATAL_FAILURE(MixerAndInfodriver());
    inst->DevFile(m_iDevice, "[Configuration]\r\nCom=10\r\nSpeed=1234\r\nParity=N\r\n");
    EXPECT_EQ("Invalid Baud Rate", BoxOf("210", "!! Error !!"));
    EXPECT_EQ(0u, msCount(sim, MSK_STARTUP)) << "nothing may be sent to the mixer";
}

}  // namespace
