// rig: one running driver per test -- a private installation, the simulated
// mixer on COM<n>, the stand-in infodriver of the device and mixtally.exe,
// torn down in reverse order. Tests check only what crosses the boundaries:
// bytes on the line, slot writes, window texts, message boxes, exit codes.
#pragma once
#include <gtest/gtest.h>
#include <stdint.h>
#include <unistd.h>
#include <algorithm>
#include <memory>
#include <string>
#include <vector>
#include "driver/resource.h"
#include "harness.h"
#include "mixsim.h"

typedef std::function<bool(const std::vector<harness::InfoEvent> &)> EventPred;

// Window messages of the platform a test posts (no windows.h on the host).
const unsigned WM_COMMAND_MSG = 0x0111;

// A file of the Wine prefix that a test rewrites (c:\zarn_config.ini, say),
// put back as it was, or removed if it was not there, when the test ends.
struct FileRestore {
    explicit FileRestore(const std::string &sPath)
        : path(sPath), fHad(access(sPath.c_str(), F_OK) == 0), text(harness::ReadFile(sPath)) {}
    ~FileRestore()
    {
        if (fHad)
            harness::WriteFile(path, text);
        else
            unlink(path.c_str());
    }
    std::string path;
    bool fHad;
    std::string text;
};

class DriverRig : public ::testing::Test {
protected:
    DriverRig(int iCom, int iDevice) : m_iCom(iCom), m_iDevice(iDevice) {}

    void SetUp() override
    {
        std::string why;
        if (!harness::Ready(&why))
            GTEST_FAIL() << "rig not usable: " << why;
        inst.reset(new harness::Install());
        inst->DevFile(m_iDevice, harness::DevFileFor(m_iCom));
    }

    void TearDown() override { Down(); }

    // Ends a running driver the way the control system does (the
    // infodriver's close message) and waits for it, then takes the rest
    // down: a case that follows finds no window of this device left.
    void End()
    {
        if (driver.Running()) {
            EXPECT_EQ("ok", info.Cmd("close"));
            int iExit = -1;
            EXPECT_TRUE(driver.WaitExit(30000, &iExit)) << "the driver did not end on the close message";
        }
        Down();
    }

    // Driver, infodriver and mixer gone (a test may bring up another set).
    void Down()
    {
        driver.Kill();
        info.Stop();
        if (sim)
            msClose(sim);
        sim = nullptr;
    }

    // Mixer, infodriver, driver; returns once the driver has finished
    // starting: infodriver hooked, start-up command on the line (the last
    // step of start-up) and the window shown. Hooking comes before the port
    // is even opened, so a test that began at the hook could find the line,
    // the panel and the device file still untouched.
    void Up(int iAckMode = MSACK_NORMAL)
    {
        ASSERT_NO_FATAL_FAILURE(MixerAndInfodriver(iAckMode));
        ASSERT_NO_FATAL_FAILURE(StartDriver(driver));
        ASSERT_TRUE(info.WaitFor(Has("hooked"), 60000)) << "the driver never hooked its infodriver";
        ASSERT_EQ(1, msWaitKind(sim, MSK_STARTUP, 1, 60000)) << "no start-up command on the line";
        ASSERT_TRUE(harness::WaitWindow(Title(), 30000)) << "no window titled " << Title();
        ASSERT_TRUE(harness::Eventually([&] { return harness::WindowInfo(Title())["visible"] == "1"; }, 30000))
            << "the window was never shown";
    }

    // Up, and the link healthy (slot 4094 at 0).
    void UpHealthy()
    {
        ASSERT_NO_FATAL_FAILURE(Up(MSACK_NORMAL));
        ASSERT_TRUE(info.WaitFor(Wrote(4094, "0"))) << "the link never became healthy";
    }

    // The simulated mixer on the test's port and the stand-in infodriver.
    void MixerAndInfodriver(int iAckMode = MSACK_NORMAL)
    {
        char acErr[256] = "";
        sim = msOpen(m_iCom, nullptr, acErr, sizeof acErr);
        ASSERT_NE(nullptr, sim) << "mixer simulator on COM" << m_iCom << ": " << acErr;
        msSetAck(sim, iAckMode, 0);
        std::string why;
        ASSERT_TRUE(info.Start(m_iDevice, &why)) << why;
    }

    // mixtally.exe (or m_sExe) for this test's device, or with pszArgs instead.
    void StartDriver(harness::Driver &d, const char *pszArgs = nullptr)
    {
        std::string why, sArgs = pszArgs ? pszArgs : std::to_string(m_iDevice);
        if (m_sExe.empty()) {
            ASSERT_TRUE(d.Start(*inst, sArgs, &why)) << why;
        } else {
            ASSERT_TRUE(d.StartExe(m_sExe, *inst, sArgs, &why)) << why;
        }
    }
    // d ends in time, with exit code 0.
    static void ExpectExit0(harness::Driver &d, const std::string &sWhy = "the driver did not end within 30 s",
                            int timeoutMs = 30000)
    {
        int iExit = -1;
        ASSERT_TRUE(d.WaitExit(timeoutMs, &iExit)) << sWhy;
        EXPECT_EQ(0, iExit) << "exit code";
    }

    // After the driver ended: a new one opens the port, hooks the
    // infodriver, brings the link up and ends cleanly on the close message.
    void ExpectPortFreeForANewDriver()
    {
        info.Events().clear();
        uint64_t cStartups = msCount(sim, MSK_STARTUP);
        harness::Driver again;
        ASSERT_NO_FATAL_FAILURE(StartDriver(again));
        EXPECT_EQ(1, msWaitKind(sim, MSK_STARTUP, cStartups + 1, 60000)) << "a new driver could not use the port";
        EXPECT_TRUE(info.WaitFor(Has("hooked")));
        AfterPoll();
        EXPECT_TRUE(WaitState("OK", 2));
        ASSERT_EQ("ok", info.Cmd("close"));
        ExpectExit0(again);
    }

    std::string Title() const { return harness::Title(m_iDevice); }
    // The main window's left, top, width and height (zeros if unknown).
    std::vector<int> Rect() const
    {
        int l = 0, t = 0, r = 0, b = 0;
        sscanf(harness::WindowInfo(Title())["rect"].c_str(), "%d %d %d %d", &l, &t, &r, &b);
        return { l, t, r - l, b - t };
    }

    static EventPred Has(const std::string &kind)
    {
        return [kind](const std::vector<harness::InfoEvent> &ev) {
            return std::any_of(ev.begin(), ev.end(), [&](const harness::InfoEvent &e) { return e.kind == kind; });
        };
    }
    // At least n writes of text to slot (n counted over all events so far).
    static EventPred Wrote(int iSlot, const std::string &text, size_t n = 1)
    {
        return [=](const std::vector<harness::InfoEvent> &ev) {
            return (size_t)std::count_if(ev.begin(), ev.end(), [&](const harness::InfoEvent &e) {
                return e.kind == "W" && e.iSlot == iSlot && e.text == text;
            }) >= n;
        };
    }
    // At least n writes to any slot.
    static EventPred WriteCount(size_t n)
    {
        return [=](const std::vector<harness::InfoEvent> &ev) {
            auto fnWrite = [](const harness::InfoEvent &e) { return e.kind == "W"; };
            return (size_t)std::count_if(ev.begin(), ev.end(), fnWrite) >= n;
        };
    }

    // The stand-in's slots 1..128 by its dump ("" for empty); false when it
    // gave none.
    bool Slots(std::vector<std::string> *pv)
    {
        std::vector<std::string> lines;
        pv->assign(129, "");
        bool fOk = info.Cmd("dump 1 128", &lines) == "ok";
        for (const std::string &l : lines) {
            int n = 0;
            char ab[64] = "";
            if (sscanf(l.c_str(), "slot %d %63s", &n, ab) >= 1 && n >= 1 && n <= 128)
                (*pv)[n] = ab;
        }
        return fOk;
    }

    void Send(const std::vector<uint8_t> &bytes)
    {
        ASSERT_EQ(0, msWrite(sim, bytes.data(), bytes.size(), nullptr)) << "pty write";
    }

    // Returns right after the mixer received and answered a new poll: the
    // next poll is a second away, and what the test sends now follows the
    // answer on the line (the simulator counts a poll before it answers it;
    // an acknowledge sent after a test's count byte would be frame data).
    void AfterPoll()
    {
        uint64_t n = msCount(sim, MSK_POLL);
        ASSERT_EQ(1, msWaitKind(sim, MSK_POLL, n + 1, 20000)) << "no poll within 20 s";
        ASSERT_EQ(1, msWaitAnswered(sim, 20000)) << "the poll was not answered within 20 s";
    }

    // The debug list. It keeps at most 501 lines, dropping the oldest: once
    // full, a count of its lines can fall, so tests that count lines must
    // stay below that.
    std::vector<std::string> Debug()
    {
        std::vector<std::string> v = harness::DebugLines(Title());
        EXPECT_LT(v.size(), 501u) << "the debug list is full: counts of its lines are no longer exact";
        return v;
    }
    // Debug-list lines equal to text (with fPrefix: that start with it).
    size_t DebugCount(const std::string &text, bool fPrefix = false)
    {
        size_t n = 0;
        for (const std::string &l : Debug())
            n += fPrefix ? l.rfind(text, 0) == 0 : l == text;
        return n;
    }
    bool WaitDebug(const std::string &text, size_t n = 1, int timeoutMs = 20000)
    {
        return harness::Eventually([&] { return DebugCount(text) >= n; }, timeoutMs);
    }
    // Waits for the link state shown in control 110 (caption and colour).
    bool WaitState(const std::string &caption, int iState, int timeoutMs = 20000)
    {
        return harness::Eventually([&] {
            int s;
            return harness::ControlText(Title(), IDC_COMMS, &s) == caption && s == iState;
        }, timeoutMs);
    }

    std::vector<MSMSG> Messages()
    {
        std::vector<MSMSG> v(4096);
        v.resize(msGetMessages(sim, 0, v.data(), v.size()));
        return v;
    }

    int m_iCom, m_iDevice;
    std::string m_sExe;     // the program Up() starts; empty: the build's
    std::unique_ptr<harness::Install> inst;
    MIXSIM *sim = nullptr;
    harness::Infodrv info;
    harness::Driver driver;
};
