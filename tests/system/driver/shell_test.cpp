// The application shell from outside: revertives mirrored between 4095 and
// 4096, maintenance/menu commands from another process, the debug view,
// the device file completed on first use, a second driver for the same
// device, and the ways the driver ends.
#include "rig.h"

namespace {

const unsigned WM_CLOSE_MSG = 0x0010;
const unsigned IDMSG_CLOSE_MSG = 2175;

class Shell : public DriverRig {
protected:
    Shell() : DriverRig(9, 203) {}

    void ExpectCleanExit()
    {
        ASSERT_NO_FATAL_FAILURE(ExpectExit0(driver));
        EXPECT_TRUE(info.WaitFor(Has("unhooked"))) << "the driver must release its infodriver";
    }
};

TEST_F(Shell, RevertivesFor4095And4096AreMirroredOthersIgnored)
{
    Up();
    const struct {
        const char *cmd;
        int iSlot;            // slot the driver must write, 0: none
        const char *text;
    } cases[] = {
        { "set 4095 abc", 4096, "abc" },
        { "set 4096 x y z", 4095, "x y z" },
        { "set 7 nothing", 0, "" },
        { "set 4094 1", 0, "" },
        { "rev XW 203 0 4096", 4095, "" },                      // XW carries no text
        { "rev IW 999 'other-dev' 4095", 4096, "other-dev" },   // device in the text not used
        { "rev IC 203 'not-a-write' 4095", 0, "" },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.cmd);
        info.Events().clear();
        // The driver's writes from its callback come back before the answer.
        ASSERT_EQ("ok", info.Cmd(c.cmd));
        std::vector<harness::InfoEvent> w = info.Writes(4095, 4096);
        if (c.iSlot == 0) {
            EXPECT_TRUE(w.empty());
        } else {
            ASSERT_EQ(1u, w.size());
            EXPECT_EQ(c.iSlot, w[0].iSlot);
            EXPECT_EQ(c.text, w[0].text);
        }
    }
}

// (The menu item's tick cannot be read from another process under Wine:
// menus are per-process objects there.)
TEST_F(Shell, DebugCommandSwitchesWindowHeight)
{
    Up();
    std::map<std::string, std::string> wi = harness::WindowInfo(Title());
    const int cy = atoi(wi["cymenu"].c_str()) + atoi(wi["cycaption"].c_str());
    const std::vector<int> r0 = Rect();
    EXPECT_EQ(564, r0[2]) << "width";
    EXPECT_EQ(cy + 60, r0[3]) << "height";

    ASSERT_TRUE(harness::Post(Title(), WM_COMMAND_MSG, IDM_DEBUG));
    ASSERT_TRUE(harness::Eventually([&] { return Rect()[3] == cy + 440; }))
        << "height " << Rect()[3] << ", expected " << cy + 440;
    const std::vector<int> r1 = Rect();
    EXPECT_EQ(r0[0], r1[0]) << "the window keeps its position";
    EXPECT_EQ(r0[1], r1[1]);

    ASSERT_TRUE(harness::Post(Title(), WM_COMMAND_MSG, IDM_DEBUG));
    ASSERT_TRUE(harness::Eventually([&] { return Rect()[3] == cy + 60; }))
        << "height " << Rect()[3] << ", expected " << cy + 60;
    EXPECT_EQ(564, Rect()[2]) << "width";
}

TEST_F(Shell, DeviceFileIsCompletedAndShownOnThePanel)
{
    // The port keys are completed before the panel reads "Com": a file
    // without it runs on the default port 1, gains Com=1 and shows 1 (the
    // "??" default of that read shows only if the file cannot be written).
    const struct {
        const char *name;
        int iCom;               // the port the driver must open
        const char *file;
        const char *com;        // control 103 afterwards
        std::vector<const char *> keys;     // in the file afterwards
    } cases[] = {
        { "Com given, no Device section", 9, "[Configuration]\r\nCom=9\r\nSpeed=38400\r\nParity=N\r\n", "9",
          { "[Device]", "Name=Default", "DataBits=8", "StopBits=1", "XOnXOff=0", "Hardware=0",
            "Parity=N" } },     // a non-default parity stays as it was
        { "no Com key", 1, "[Configuration]\r\nSpeed=38400\r\nParity=N\r\n", "1",
          { "Com=1", "[Device]", "Name=Default" } },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        End();
        m_iCom = c.iCom;
        inst->DevFile(m_iDevice, c.file);
        ASSERT_NO_FATAL_FAILURE(Up());
        EXPECT_EQ("Default", harness::ControlText(Title(), IDC_NAME));
        EXPECT_EQ(c.com, harness::ControlText(Title(), IDC_COM));
        std::string text = inst->DevFileText(m_iDevice);
        for (const char *key : c.keys)
            EXPECT_NE(std::string::npos, text.find(key)) << key << " missing from:\n" << text;
    }
}

TEST_F(Shell, DeviceNumberIsPaddedToThreeDigitsUpTo999)
{
    // Device 7's file has an unpadded twin with another name: a driver that
    // looked for dev_7.ini would show that one.
    const struct {
        int iDevice;
        const char *title, *file, *twin;
    } cases[] = {
        { 7, "DEV_007 - mixtally - Vede Doriv Urere Dizodo", "dev_007.ini", "dev_7.ini" },
        { 999, "DEV_999 - mixtally - Vede Doriv Urere Dizodo", "dev_999.ini", nullptr },
    };
    const std::string dir = inst->Dir() + "/site/config/system/";
    for (const auto &c : cases) {
        SCOPED_TRACE(c.title);
        End();
        m_iDevice = c.iDevice;
        harness::WriteFile(dir + c.file, harness::DevFileFor(9, "[Device]\r\nName=padded\r\n"));
        const std::string twin = harness::DevFileFor(9, "[Device]\r\nName=unpadded\r\n");
        if (c.twin)
            harness::WriteFile(dir + c.twin, twin);
        ASSERT_NO_FATAL_FAILURE(Up());
        EXPECT_TRUE(harness::WaitWindow(c.title, 1000)) << "no window titled " << c.title;
        EXPECT_EQ("padded", harness::ControlText(Title(), IDC_NAME));
        EXPECT_NE(std::string::npos, harness::ReadFile(dir + c.file).find("DataBits=8"))
            << c.file << " must be the file completed";
        if (c.twin) {
            EXPECT_EQ(twin, harness::ReadFile(dir + c.twin)) << c.twin << " must be left alone";
        }
    }
}

TEST_F(Shell, ConfigurationDirectoryEndingInABackslash)
{
    // Only the older layout can name one: c:\zarn_config.ini, which this
    // test holds (lock zarn_config) and puts back as it was.
    FileRestore restore(std::string(getenv("WINEPREFIX")) + "/drive_c/zarn_config.ini");
    ASSERT_TRUE(harness::WriteFile(restore.path,
        "[Config]\r\nConfigPath=" + harness::WindowsPath(inst->Dir() + "/site/config/system") + "\\\r\n"
        "SystemPath=" + harness::WindowsPath(inst->Dir() + "/site/windows/lib") + "\r\n"));
    inst->OlderLayout();
    inst->DevFile(m_iDevice, harness::DevFileFor(9, "[Device]\r\nName=older layout\r\n"));
    ASSERT_NO_FATAL_FAILURE(Up());
    EXPECT_EQ("older layout", harness::ControlText(Title(), IDC_NAME));
    EXPECT_NE(std::string::npos, inst->DevFileText(m_iDevice).find("DataBits=8")) << "the device file is completed";
}

TEST_F(Shell, NamedDeviceIsShownAndItsFileLeftAlone)
{
    inst->DevFile(m_iDevice, harness::DevFileFor(9, "[Device]\r\nName=Studio 4 mixer\r\n"));
    Up();
    EXPECT_EQ("Studio 4 mixer", harness::ControlText(Title(), IDC_NAME));
    EXPECT_EQ(std::string::npos, inst->DevFileText(m_iDevice).find("Name=Default"));
}

TEST_F(Shell, TextAfterTheDeviceNumberIsIgnored)
{
    ASSERT_NO_FATAL_FAILURE(MixerAndInfodriver());
    ASSERT_NO_FATAL_FAILURE(StartDriver(driver, (std::to_string(m_iDevice) + "abc").c_str()));
    EXPECT_TRUE(info.WaitFor(Has("hooked"), 60000));
    EXPECT_TRUE(harness::WaitWindow(Title(), 30000));
    EXPECT_EQ(1, msWaitKind(sim, MSK_STARTUP, 1, 30000));
}

TEST_F(Shell, SecondDriverForTheDeviceEndsSilentlyAndRaisesTheFirst)
{
    Up();
    ASSERT_TRUE(harness::RunTool("winpeek.exe", { "show", Title(), "6" }, nullptr) == 0);   // SW_MINIMIZE
    ASSERT_TRUE(harness::Eventually([&] { return harness::WindowInfo(Title())["iconic"] == "1"; }));

    harness::Driver second;
    ASSERT_NO_FATAL_FAILURE(StartDriver(second));
    ASSERT_NO_FATAL_FAILURE(ExpectExit0(second, "the second driver did not end (a message box?)", 60000));
    EXPECT_EQ("0", harness::WindowInfo(Title())["iconic"]) << "the first driver must be restored";
    EXPECT_TRUE(driver.Running());
    EXPECT_EQ(1u, msCount(sim, MSK_STARTUP)) << "the second driver must not touch the line";
}

// The numbers other programs know the driver's commands (WM_COMMAND's
// wParam) and status fields by. Everything else takes them from
// driver/resource.h, the resource script and the code included: this table
// alone writes them out, and checks each against the running driver. (The
// debug list, 1001, is read by its number wherever a test reads it.)
TEST_F(Shell, CommandsAndControlsAnswerToTheirNumbers)
{
    Up();
    ASSERT_TRUE(WaitState("OK", 2));
    const struct {
        int iNumber, iId;
    } aControl[] = {{103, IDC_COM}, {104, IDC_NAME}, {105, IDC_NETTX}, {110, IDC_COMMS}, {111, IDC_ERRORS}};
    for (const auto &c : aControl) {
        EXPECT_TRUE(harness::Eventually([&] {
            std::string s = harness::ControlText(Title(), c.iNumber);
            return s != "<no control>" && s == harness::ControlText(Title(), c.iId);
        })) << "control " << c.iNumber;
    }
    auto Parsed = [&] { return DebugCount("Parse: ", true); };
    const std::string sClient = harness::WindowInfo(Title())["client"];
    const std::string sPid = harness::Resources(Title())["pid"];    // the About box is the driver's
    const struct {
        unsigned uNumber;
        std::function<bool()> fDone;
    } aCommand[] = {
        {1, [&] { return msCount(sim, MSK_MAINT1) == 1; }},
        {2, [&] { return msCount(sim, MSK_MAINT2) == 1; }},
        {3, [&] { return msCount(sim, MSK_STARTUP) == 2; }},
        {5, [&] { return Parsed() == 1; }},
        {4, [&] { return Parsed() == 2; }},
        {97, [&] { return harness::WindowInfo(Title())["client"] != sClient; }},
        {95, [&] { return harness::Resources("About")["pid"] == sPid && harness::Post("About", WM_COMMAND_MSG, 1); }},
        {96, [&] { return !driver.Running(); }},
    };
    for (const auto &c : aCommand) {
        ASSERT_TRUE(harness::Post(Title(), WM_COMMAND_MSG, c.uNumber)) << "command " << c.uNumber;
        EXPECT_TRUE(harness::Eventually(c.fDone)) << "command " << c.uNumber;
    }
}

TEST_F(Shell, CloseMessageFromInfodriverEndsDriverAndFreesPort)
{
    Up();
    ASSERT_EQ("ok", info.Cmd("close"));
    ExpectCleanExit();
    ExpectPortFreeForANewDriver();
}

TEST_F(Shell, ExitCommandAndCloseMessageToMainWindowEndDriver)
{
    for (unsigned msg : { WM_COMMAND_MSG, IDMSG_CLOSE_MSG, WM_CLOSE_MSG }) {
        SCOPED_TRACE(msg);
        if (!sim)
            Up();
        else {
            info.Events().clear();
            ASSERT_NO_FATAL_FAILURE(StartDriver(driver));
            ASSERT_TRUE(info.WaitFor(Has("hooked"), 60000));
            ASSERT_TRUE(harness::WaitWindow(Title(), 30000));
        }
        ASSERT_TRUE(harness::Post(Title(), msg, msg == WM_COMMAND_MSG ? IDM_EXIT : 0));
        ExpectCleanExit();
    }
}

}  // namespace
