// Hostile device files: for every key, empty values, negative numbers, 2^31
// and beyond, text where a number belongs, 600 characters; parity letters
// that name none; Com 0, 257 and 9999; a device file that is a directory or
// cannot be read. Each start-up either runs with the meaning that
// driver/README.md gives (checked on the line's settings and the panel), or
// shows its box, or ends without one (Com 0), and ends with exit code 0;
// nothing but the device file's own keys is ever written.
#include "rig.h"
#include <fcntl.h>
#include <sys/stat.h>
#include <termios.h>
#include <map>
#include <set>
#include <sstream>

namespace {

const int kCom = 17, kDevice = 217;

// How a start-up must end. A run also says what the line must carry.
struct Outcome {
    const char *pszCaption;     // nullptr: it runs; "": it ends without a box
    std::string sText;          // box text, newlines as \n
    int fStop2, fXon, fRtsCts;  // the line's settings when it runs
    std::string sName;          // panel control 104 when it runs
};

const Outcome Runs = { nullptr, "", 0, 0, 0, "Hostile" };
Outcome RunsWith(int fStop2, int fXon, int fRtsCts, const std::string &sName = "Hostile")
{
    return { nullptr, "", fStop2, fXon, fRtsCts, sName };
}
Outcome Box(const char *pszCaption, const std::string &sText) { return { pszCaption, sText, 0, 0, 0, "" }; }
const Outcome EndsSilently = { "", "", 0, 0, 0, "" };

// The box of a port that does not open.
Outcome NoCom(const std::string &sPort)
{
    return Box("!! Error !!", "COM" + sPort + " does not exist\\nor is already in use\\nOh Dear!");
}

struct Case {
    const char *pszSection, *pszKey;
    std::string sValue;
    Outcome out;
    const char *pszAfter;       // the key's value afterwards; nullptr: as written
};

// Cases of one key: each value with the same outcome, the key afterwards as
// written or pszAfter.
void Add(std::vector<Case> *pv, const char *pszKey, const std::vector<std::string> &vsValue, const Outcome &out,
         const char *pszAfter = nullptr)
{
    for (const std::string &s : vsValue)
        pv->push_back({ strcmp(pszKey, "Name") == 0 ? "Device" : "Configuration", pszKey, s, out, pszAfter });
}

// Every hostile value of every key, and how its start-up ends.
std::vector<Case> HostileCases()
{
    const std::string s2p31 = "2147483648", sBeyond = "99999999999999999999";
    std::vector<Case> v;
    // Com: the port number; 0 (or text) names none and ends start-up
    // without a word, 1..256 are ports.
    Add(&v, "Com", { "" }, NoCom("1"), "1");
    for (const char *psz : { "-5", "257", "9999" })
        Add(&v, "Com", { psz }, NoCom(psz));
    Add(&v, "Com", { s2p31, sBeyond, std::string(600, '7') }, NoCom("2147483647"));
    Add(&v, "Com", { "abc", "0" }, EndsSilently);
    // Speed: one of the supported rates, nothing else; the port is opened
    // first, and refuses a negative one (what the port refuses fails the
    // open, whose box names the port).
    Add(&v, "Speed", { "", "1234", s2p31, sBeyond, "abc", std::string(600, '3') },
        Box("!! Error !!", "Invalid Baud Rate"));
    Add(&v, "Speed", { "-5" }, NoCom("17"));
    // DataBits: handed to the port as read (5..8 work); empty is the
    // default 8. No count is cut to fit the byte it goes in.
    Add(&v, "DataBits", { "" }, Runs, "8");
    Add(&v, "DataBits", { "-5", s2p31, sBeyond, "abc", std::string(600, '8'), "264" }, NoCom("17"));
    // StopBits: 2 is two, anything else one.
    Add(&v, "StopBits", { "" }, Runs, "1");
    Add(&v, "StopBits", { "-5", s2p31, sBeyond, "abc", std::string(600, '2') }, Runs);
    Add(&v, "StopBits", { "2" }, RunsWith(1, 0, 0));
    // Parity: the first letter, E M N O S in either case.
    Add(&v, "Parity", { "", "-5", s2p31, sBeyond, "abc", "X", "?", "z" }, Box("!! Error !!", "Invalid Parity"));
    Add(&v, "Parity", { "n" + std::string(599, 'x'), "e" }, Runs);
    // XOnXOff and Hardware: kept in the file (a value equal to the default
    // 0, text included, written back as 0), never applied to the line.
    for (const char *pszKey : { "XOnXOff", "Hardware" }) {
        Add(&v, pszKey, { "", "abc" }, Runs, "0");
        Add(&v, pszKey, { "1", "-5", s2p31, sBeyond, std::string(600, '1') }, Runs);
    }
    // Name: shown as read, at most 127 characters.
    for (const std::string &s : { std::string(), std::string("-5"), s2p31, std::string("abc") })
        Add(&v, "Name", { s }, RunsWith(0, 0, 0, s));
    Add(&v, "Name", { std::string(600, 'N') }, RunsWith(0, 0, 0, std::string(127, 'N')));
    return v;
}

// The keys a start-up may write, by section.
bool OwnKey(const std::string &sSection, const std::string &sKey)
{
    static const std::set<std::pair<std::string, std::string>> own = {
        { "Configuration", "Com" }, { "Configuration", "Speed" }, { "Configuration", "DataBits" },
        { "Configuration", "StopBits" }, { "Configuration", "Parity" }, { "Configuration", "XOnXOff" },
        { "Configuration", "Hardware" }, { "Device", "Name" } };
    return own.count({ sSection, sKey }) != 0;
}

typedef std::map<std::pair<std::string, std::string>, std::string> Ini;

Ini ParseIni(const std::string &sText)
{
    Ini ini;
    std::string sSection, l;
    std::istringstream is(sText);
    while (std::getline(is, l)) {
        if (!l.empty() && l.back() == '\r')
            l.pop_back();
        if (!l.empty() && l[0] == '[') {
            sSection = l.substr(1, l.find(']') - 1);
        } else if (l.find('=') != std::string::npos) {
            ini[{ sSection, l.substr(0, l.find('=')) }] = l.substr(l.find('=') + 1);
        }
    }
    return ini;
}

// Every file below dir with its contents, but the device file.
std::map<std::string, std::string> Snapshot(const std::string &sDir, const std::string &sSkip)
{
    std::map<std::string, std::string> m;
    for (const std::string &sRel : harness::FilesBelow(sDir)) {
        struct stat st;
        std::string sPath = sDir + "/" + sRel;
        if (sPath != sSkip && lstat(sPath.c_str(), &st) == 0)
            m[sPath] = S_ISREG(st.st_mode) ? harness::ReadFile(sPath) : "<not a file>";
    }
    return m;
}

std::string BaseFile(const char *pszSection, const char *pszKey, const std::string &sValue)
{
    static const char *const apszConfig[][2] = { { "Com", "17" }, { "Speed", "38400" }, { "DataBits", "8" },
                                                 { "StopBits", "1" }, { "Parity", "N" }, { "XOnXOff", "0" },
                                                 { "Hardware", "0" } };
    std::string s = "[Configuration]\r\n";
    for (const auto &kv : apszConfig)
        s += std::string(kv[0]) + "=" + (strcmp(pszSection, "Configuration") == 0 && strcmp(pszKey, kv[0]) == 0
                                             ? sValue : std::string(kv[1])) + "\r\n";
    s += "[Device]\r\nName=" + (strcmp(pszKey, "Name") == 0 ? sValue : std::string("Hostile")) + "\r\n";
    return s + "[Other]\r\nKeep=this\r\n";
}

// The line settings a start-up is checked by, as text.
std::string Settings(int iSpeed, int iSize, bool fStop2, bool fXon, bool fXoff, bool fRtsCts)
{
    char sz[128];
    snprintf(sz, sizeof sz, "speed %d, csize %d, two stop bits %d, xon/xoff %d/%d, rts/cts %d", iSpeed, iSize,
             fStop2, fXon, fXoff, fRtsCts);
    return sz;
}

class DevFile : public DriverRig {
protected:
    DevFile() : DriverRig(kCom, kDevice) {}

    // The pty's settings as the driver left them (a pty shares one termios
    // between its two ends).
    bool LineSettings(struct termios *pt)
    {
        int fd = open(msSlaveName(sim), O_RDONLY | O_NOCTTY | O_NONBLOCK);
        if (fd < 0)
            return false;
        bool fOk = tcgetattr(fd, pt) == 0;
        close(fd);
        return fOk;
    }

    // Presses whichever box a start-up shows; its text.
    std::string AnyBox()
    {
        std::string sBox = harness::PressBox("!! Error !!", 1000);
        return sBox == "<timeout>" ? harness::PressBox("ERROR", 1000) : sBox;
    }

    // One start-up with the device file as it stands; the first broken
    // expectation, or "".
    std::string StartUp(const Outcome &out)
    {
        char acErr[256] = "";
        sim = msOpen(kCom, nullptr, acErr, sizeof acErr);
        if (sim == nullptr)
            return std::string("simulator: ") + acErr;
        info.Events().clear();
        std::string why, sFail;
        if (!driver.Start(*inst, std::to_string(kDevice), &why))
            return why;
        if (out.pszCaption != nullptr && *out.pszCaption == 0) {
            // A message box would hold the driver until pressed.
            int iExit;
            if (!driver.WaitExit(60000, &iExit)) {
                sFail = "did not end by itself (box: " + AnyBox() + ")";
            } else if (msCount(sim, MSK_STARTUP) != 0) {
                sFail = "a start-up that failed sent the start-up command";
            }
        } else if (out.pszCaption != nullptr) {
            std::string sText = harness::PressBox(out.pszCaption, 30000);
            if (sText != out.sText)
                sFail = "box '" + std::string(out.pszCaption) + "' said \"" + sText + "\", expected \"" +
                        out.sText + "\"";
            else if (msCount(sim, MSK_STARTUP) != 0)
                sFail = "a start-up that failed sent the start-up command";
        } else if (!info.WaitFor(Has("hooked"), 60000) || msWaitKind(sim, MSK_STARTUP, 1, 30000) != 1) {
            sFail = "did not run (box: " + AnyBox() + ")";
        } else {
            struct termios t;
            std::string sWant = Settings(B38400, CS8, out.fStop2, out.fXon, out.fXon, out.fRtsCts), sHave;
            if (!LineSettings(&t))
                sFail = "cannot read the line's settings";
            else if ((sHave = Settings(cfgetospeed(&t), t.c_cflag & CSIZE, t.c_cflag & CSTOPB, t.c_iflag & IXON,
                                       t.c_iflag & IXOFF, t.c_cflag & CRTSCTS)) != sWant)
                sFail = "line settings: " + sHave + ", expected " + sWant;
            else if (harness::ControlText(Title(), IDC_NAME) != out.sName)
                sFail = "panel name \"" + harness::ControlText(Title(), IDC_NAME) + "\", expected \"" + out.sName + "\"";
            else if (harness::ControlText(Title(), IDC_COM) != "17")
                sFail = "panel port \"" + harness::ControlText(Title(), IDC_COM) + "\", expected \"17\"";
            info.Cmd("close");
        }
        int iExit = -1;
        if (!driver.WaitExit(30000, &iExit))
            sFail += sFail.empty() ? "the driver did not end" : "; the driver did not end";
        else if (iExit != 0)
            sFail += "; exit code " + std::to_string(iExit);
        // Every start-up hooks its infodriver before it reads the device
        // file, and releases it however it ends; waiting for that also
        // leaves no line of this start-up to the next one.
        if (!info.WaitFor(Has("unhooked"), 30000))
            sFail += "; the infodriver was not released";
        driver.Kill();
        msClose(sim);
        sim = nullptr;
        return sFail;
    }

    // The start-up ends as out says, and writes no file but the device file.
    void TryStartUp(const Outcome &out)
    {
        std::map<std::string, std::string> mBefore = Snapshot(inst->Dir(), inst->DevFilePath(kDevice));
        EXPECT_EQ("", StartUp(out));
        EXPECT_TRUE(mBefore == Snapshot(inst->Dir(), inst->DevFilePath(kDevice)))
            << "files other than the device file were written";
    }

    // The device file afterwards: the case's key as expected, every other key
    // as it was, nothing new but the start-up's own keys.
    void CheckKeys(const Case &c, const std::string &sBefore)
    {
        Ini iniBefore = ParseIni(sBefore), iniAfter = ParseIni(inst->DevFileText(kDevice));
        for (const auto &kv : iniAfter) {
            if (!OwnKey(kv.first.first, kv.first.second)) {
                EXPECT_TRUE(iniBefore.count(kv.first) && iniBefore[kv.first] == kv.second)
                    << "[" << kv.first.first << "] " << kv.first.second << " was written";
            }
        }
        for (const auto &kv : iniBefore) {
            EXPECT_TRUE(iniAfter.count(kv.first)) << "[" << kv.first.first << "] " << kv.first.second << " vanished";
            if (kv.first == std::make_pair(std::string(c.pszSection), std::string(c.pszKey))) {
                EXPECT_EQ(c.pszAfter ? std::string(c.pszAfter) : c.sValue, iniAfter[kv.first]) << "the key afterwards";
            } else if (iniAfter.count(kv.first)) {
                EXPECT_EQ(kv.second, iniAfter[kv.first]) << "[" << kv.first.first << "] " << kv.first.second;
            }
        }
    }
};

TEST_F(DevFile, EveryHostileStartUpRunsAsDocumentedOrShowsItsBox)
{
    std::string why;
    ASSERT_TRUE(info.Start(m_iDevice, &why)) << why;
    ASSERT_TRUE(harness::MapPort(1, "")) << "an empty Com means port 1, which must have no device here";

    int cCases = 0;
    for (const Case &c : HostileCases()) {
        std::string sCase = std::string(c.pszKey) + "=" + (c.sValue.size() > 24 ? c.sValue.substr(0, 8) + "... (" +
                                                           std::to_string(c.sValue.size()) + " characters)" : c.sValue);
        SCOPED_TRACE(sCase);
        std::string sBefore = BaseFile(c.pszSection, c.pszKey, c.sValue);
        inst->DevFile(kDevice, sBefore);
        TryStartUp(c.out);
        cCases++;
        CheckKeys(c, sBefore);
    }

    // The device file is a directory, or exists and cannot be read (as root,
    // who reads anything, a link that points at itself stands in for that).
    std::string sDev = inst->DevFilePath(kDevice);
    const Outcome Unreadable = Box("ERROR", "Cannot read the device file\\n" + harness::WindowsPath(sDev));
    for (int k = 0; k < 2; k++) {
        SCOPED_TRACE(k == 0 ? "a directory" : "unreadable");
        unlink(sDev.c_str());
        if (k == 0)
            ASSERT_EQ(0, mkdir(sDev.c_str(), 0755));
        else if (geteuid() == 0)
            ASSERT_EQ(0, symlink(sDev.c_str(), sDev.c_str()));
        else
            inst->DevFile(kDevice, BaseFile("Device", "Name", "Hostile")), chmod(sDev.c_str(), 0);
        TryStartUp(Unreadable);
        cCases++;
        struct stat st;
        EXPECT_EQ(0, lstat(sDev.c_str(), &st));
        EXPECT_TRUE(k == 0 ? S_ISDIR(st.st_mode) : geteuid() == 0 ? S_ISLNK(st.st_mode) : S_ISREG(st.st_mode))
            << "the device file was replaced";
        if (k == 0)
            rmdir(sDev.c_str());
        else
            unlink(sDev.c_str());
    }
    printf("hostile device files tried: %d\n", cCases);
}

}  // namespace
