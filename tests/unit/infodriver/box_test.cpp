// Message boxes: the failing hook's error box, and boxpress.exe, which the
// host-side tests use to read and press boxes unattended. Runs under the
// "msgbox" lock: boxes are found by caption.
#include <gtest/gtest.h>
#include "run_tests.h"
#include <string.h>

#include <string>

#include "support/child_proc.h"
#include "infodriver/exinfdrv.h"


namespace {

void fnIgnore(LPZARNMSG) {}

TEST(InfodriverHook, NoInfodriverShowsErrorBoxAndFails)
{
    HWND hMain = MakeWindow("hook box test", NULL, "STATIC", WS_OVERLAPPED, NULL, {0, 0, 10, 10});
    ASSERT_NE(nullptr, hMain);
    ASSERT_EQ(0, fnInitExtInfodriv(hMain, fnIgnore));

    BoxPresser box("Error");
    int iResult = fnCreateExtInfodriv(150);   // no infodriver runs for device 150
    box.Stop();

    EXPECT_EQ(1, iResult);
    ASSERT_TRUE(box.fFound) << "no message box captioned \"Error\" appeared";
    EXPECT_EQ("Cannot hook into (external) infodriver 150", box.sText);
    EXPECT_EQ(LoadIconA(NULL, (LPCSTR)IDI_HAND), box.hIcon) << "the box shows the error (hand) icon";
    EXPECT_EQ(nullptr, box.hOwner) << "the box has no owner";
    EXPECT_EQ(nullptr, fnGetHWND(150));
    DestroyWindow(hMain);
    fnCleanupExtInfodriv();
}

TEST(BoxPress, ReadsTextAndPressesOk)
{
    const std::string sCaption = "boxpress test " + std::to_string(GetCurrentProcessId());
    ChildProc box, press;
    ASSERT_TRUE(box.Start(ExeDir() + "\\infodriver_box_tests.exe",
                          "--child=msgbox \"" + sCaption + "\""))
        << box.Error();
    ASSERT_TRUE(press.Start(ExeDir() + "\\boxpress.exe", "\"" + sCaption + "\" 60000"))
        << press.Error();
    std::string sLine;
    ASSERT_TRUE(press.NextLine(&sLine, 60000)) << "boxpress printed nothing";
    EXPECT_EQ("text: first line\\nsecond line", sLine);
    EXPECT_EQ(0u, press.Stop(60000)) << "boxpress exit code";
    EXPECT_EQ((DWORD)IDOK, box.Stop(60000)) << "the box was closed with OK";
}

TEST(BoxPress, TimesOutWhenNoBoxAppears)
{
    ChildProc press;
    ASSERT_TRUE(press.Start(ExeDir() + "\\boxpress.exe", "\"no such box here\" 300"))
        << press.Error();
    std::string sLine;
    ASSERT_TRUE(press.NextLine(&sLine, 60000));
    EXPECT_EQ("timeout", sLine);
    EXPECT_EQ(2u, press.Stop(60000));
}

}  // namespace

int main(int argc, char **argv)
{
    // Child role for the boxpress test: show one box and exit with its answer.
    if (argc >= 3 && strcmp(argv[1], "--child=msgbox") == 0)
        return MessageBoxA(NULL, "first line\nsecond line", argv[2], MB_OK | MB_ICONINFORMATION);
    return fnRunTests(&argc, argv);
}
