// rig: one running driver per test -- a private installation, the simulated
// mixer on COM<n>, the stand-in infodriver of the device and mixtally.exe,
// torn down in reverse order. Tests check only what crosses the boundaries:
// bytes on the line, slot writes, window texts, message boxes, exit codes.
#pragma once
#include <gtest/gtest.h>
#include <stdint.h>
#include <unistd.h>
#include <memory>
#include <string>
#include <vector>
#include "harness.h"
#include "mixsim.h"

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

    void TearDown() override
    {
        driver.Kill();
        info.Stop();
        if (sim)
            msClose(sim);
        sim = nullptr;
    }

    // Mixer, infodriver, driver; returns once the driver hooked its
    // infodriver and its start-up has ended (its window is shown).
    void Up(int iAckMode = MSACK_NORMAL)
    {
        char acErr[256] = "";
        sim = msOpen(m_iCom, nullptr, acErr, sizeof acErr);
        ASSERT_NE(nullptr, sim) << "mixer simulator on COM" << m_iCom << ": " << acErr;
        msSetAck(sim, iAckMode, 0);
        std::string why;
        ASSERT_TRUE(info.Start(m_iDevice, &why)) << why;
        ASSERT_TRUE(driver.Start(*inst, std::to_string(m_iDevice), &why)) << why;
        ASSERT_TRUE(info.WaitFor(Has("hooked"), 60000)) << "the driver never hooked its infodriver";
        ASSERT_TRUE(harness::WaitWindow(Title(), 30000)) << "no window titled " << Title();
        // The window has its title from early in the start-up, but is shown
        // only when the start-up has ended: a test that acts on it before
        // (minimises it, counts the start-up command) races with the rest.
        ASSERT_TRUE(harness::Eventually([&] { return harness::WindowInfo(Title())["visible"] == "1"; }, 30000))
            << "the start-up did not end";
    }

    std::string Title() const { return harness::Title(m_iDevice); }

    static std::function<bool(const std::vector<harness::InfoEvent> &)> Has(const std::string &kind)
    {
        return [kind](const std::vector<harness::InfoEvent> &ev) {
            for (const harness::InfoEvent &e : ev)
                if (e.kind == kind)
                    return true;
            return false;
        };
    }
    // At least n writes of text to slot (n counted over all events so far).
    static std::function<bool(const std::vector<harness::InfoEvent> &)> Wrote(int iSlot, const std::string &text,
                                                                                 size_t n = 1)
    {
        return [=](const std::vector<harness::InfoEvent> &ev) {
            size_t c = 0;
            for (const harness::InfoEvent &e : ev)
                c += e.kind == "W" && e.iSlot == iSlot && e.text == text;
            return c >= n;
        };
    }
    static std::function<bool(const std::vector<harness::InfoEvent> &)> WriteCount(size_t n)
    {
        return [=](const std::vector<harness::InfoEvent> &ev) {
            size_t c = 0;
            for (const harness::InfoEvent &e : ev)
                c += e.kind == "W";
            return c >= n;
        };
    }

    void Send(const std::vector<uint8_t> &bytes)
    {
        ASSERT_EQ(0, msWrite(sim, bytes.data(), bytes.size(), nullptr)) << "pty write";
    }

    // Returns right after the mixer received and answered a new poll: the
    // next poll is a second away, and bytes sent now follow the answer on
    // the line (the simulator writes it a moment after counting the poll).
    void AfterPoll()
    {
        uint64_t n = msCount(sim, MSK_POLL);
        ASSERT_EQ(1, msWaitKind(sim, MSK_POLL, n + 1, 20000)) << "no poll within 20 s";
        ASSERT_EQ(1, msWaitAnswered(sim, 20000)) << "the poll was not answered within 20 s";
    }

    // Debug-list lines equal to text.
    size_t DebugCount(const std::string &text)
    {
        size_t n = 0;
        for (const std::string &l : harness::DebugLines(Title()))
            n += l == text;
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
            return harness::ControlText(Title(), 110, &s) == caption && s == iState;
        }, timeoutMs);
    }

    std::vector<MSMSG> Messages()
    {
        std::vector<MSMSG> v(4096);
        v.resize(msGetMessages(sim, 0, v.data(), v.size()));
        return v;
    }

    int m_iCom, m_iDevice;
    std::unique_ptr<harness::Install> inst;
    MIXSIM *sim = nullptr;
    harness::Infodrv info;
    harness::Driver driver;
};
