// The release zip as scripts/dist.sh makes it (CPack on the i686 build),
// made afresh into a private folder: the product only, named with the
// version of the program's own resource, and the program, unpacked into a
// fresh folder, running the link against the simulator and the stand-in.
#include "rig.h"
#include <ftw.h>
#include <stdlib.h>
#include <sys/stat.h>

namespace {

const std::string kTop = "mixtally-" MIXTALLY_VERSION "-win32";

int RemoveOne(const char *path, const struct stat *, int, struct FTW *) { return remove(path); }

std::string Quote(const std::string &s) { return "'" + s + "'"; }

class Dist : public DriverRig {
protected:
    Dist() : DriverRig(16, 1) {}

    void SetUp() override
    {
        DriverRig::SetUp();
        char tmpl[] = "/tmp/mixtally-dist.XXXXXX";
        ASSERT_NE(nullptr, mkdtemp(tmpl));
        m_dir = tmpl;
        std::string cmd = Quote(MIXTALLY_CPACK) + " --config " + Quote(MIXTALLY_I686_BUILD "/CPackConfig.cmake") +
                          " -B " + Quote(m_dir + "/out") + " >" + Quote(m_dir + "/cpack.log") + " 2>&1";
        ASSERT_EQ(0, system(cmd.c_str())) << "cpack failed:\n" << harness::ReadFile(m_dir + "/cpack.log");
        m_zip = m_dir + "/out/" + kTop + ".zip";
        ASSERT_EQ(0, access(m_zip.c_str(), R_OK)) << m_zip << " not made";
        ASSERT_EQ(0, mkdir((m_dir + "/unpacked").c_str(), 0755));
        cmd = "cd " + Quote(m_dir + "/unpacked") + " && " + Quote(MIXTALLY_CMAKE) + " -E tar xf " + Quote(m_zip);
        ASSERT_EQ(0, system(cmd.c_str())) << "the zip did not unpack";
        m_unpacked = m_dir + "/unpacked/" + kTop;
    }
    void TearDown() override
    {
        DriverRig::TearDown();
        if (m_dir.rfind("/tmp/mixtally-dist.", 0) == 0)
            nftw(m_dir.c_str(), RemoveOne, 16, FTW_DEPTH | FTW_PHYS);
    }

    std::string m_dir, m_zip, m_unpacked;
};

TEST_F(Dist, ZipHoldsTheProgramTheSampleDeviceFileAndTheText)
{
    EXPECT_EQ((std::vector<std::string>{ kTop + "/README.txt", kTop + "/dev_001.ini", kTop + "/mixtally.exe" }),
              harness::FilesBelow(m_dir + "/unpacked")) << "the product only: no stand-in libraries or programs";

    std::vector<std::string> lines;
    EXPECT_EQ(0, harness::RunTool("winpeek.exe", { "ver", harness::WindowsPath(m_unpacked + "/mixtally.exe") },
                                  &lines));
    EXPECT_EQ((std::vector<std::string>{ "FileVersion " MIXTALLY_VERSION }), lines)
        << "the zip's name carries the program's own version";

    // Every key at its default, each after a comment line of its own.
    const std::string ini = harness::ReadFile(m_unpacked + "/dev_001.ini");
    for (const char *key : { "[Configuration]", "Com=1", "Speed=38400", "DataBits=8", "StopBits=1", "Parity=O",
                             "XOnXOff=0", "Hardware=0", "[Device]", "Name=Default" }) {
        size_t at = ini.find(std::string("\r\n") + key + "\r\n");
        ASSERT_NE(std::string::npos, at) << key << " (CRLF lines) missing from:\n" << ini;
        if (key[0] != '[') {
            size_t bol = ini.rfind("\r\n", at - 1);
            bol = bol == std::string::npos ? 0 : bol + 2;
            EXPECT_EQ(';', ini[bol]) << "no comment line before " << key;
        }
    }

    // The driver's install and usage text, plain: no Markdown marks.
    const std::string text = harness::ReadFile(m_unpacked + "/README.txt");
    for (const char *part : { "mixtally.exe - the tally driver\r\n===", "Installing beside a control system",
                              "Command line\r\n---", "    Where: configuration directory" })
        EXPECT_NE(std::string::npos, text.find(part)) << part << " missing from README.txt";
    for (const char *mark : { "`", "## ", "|---" })
        EXPECT_EQ(std::string::npos, text.find(mark)) << "Markdown left in README.txt: " << mark;
}

TEST_F(Dist, UnpackedProgramRunsTheLink)
{
    const char *arch = getenv("MIXTALLY_ARCH");
    if (!arch || std::string(arch) != "i686")
        GTEST_SKIP() << "this machine runs no 32-bit code (tests run x86_64 / wine64)";
    // The sample, on this test's port; a pty refuses parity.
    std::string ini = harness::ReadFile(m_unpacked + "/dev_001.ini");
    for (auto r : { std::make_pair("\r\nCom=1\r\n", "\r\nCom=16\r\n"), std::make_pair("\r\nParity=O\r\n", "\r\nParity=N\r\n") }) {
        size_t at = ini.find(r.first);
        ASSERT_NE(std::string::npos, at) << r.first;
        ini.replace(at, strlen(r.first), r.second);
    }
    inst->DevFile(m_iDevice, ini);
    // BWCC32.DLL is the platform's: the stand-in sits in the current
    // directory, on the DLL search path, not in the unpacked folder.
    ASSERT_TRUE(harness::WriteFile(inst->Dir() + "/BWCC32.dll", harness::ReadFile(harness::WinBin("BWCC32.dll"))));
    m_sExe = m_unpacked + "/mixtally.exe";
    ASSERT_NO_FATAL_FAILURE(Up());
    EXPECT_TRUE(WaitState("OK", 2)) << "the link must come up";
    EXPECT_TRUE(info.WaitFor(Wrote(4094, "0")));
    EXPECT_EQ(3u, harness::FilesBelow(m_dir + "/unpacked").size()) << "the program writes nothing beside itself";
}

}  // namespace
