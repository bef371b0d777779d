// Splitting of revertive texts into _ZARNmsg records.
#include <gtest/gtest.h>
#include <string.h>
#include <string>

#include "infodriver/driver.h"

namespace {

struct SplitCase {
    const char *pszRevertive;
    int iResult;
    const char *pszType;    // nullptr: not checked
    int iDevice, iIndex, iInfo;   // -1: not checked
    const char *pszInfo;    // nullptr: not checked
    int iWorkstation;       // -1: not checked
};

const SplitCase aCases[] = {
    {"IW 12 'abc' 4095", 1, "IW", 12, 4095, 4095, "abc", 0},
    {"IW 12 'two words' 3 5", 1, "IW", 12, 3, 3, "two words", 5},
    {"IW 12 'abc'", 0, "IW", 12, -1, -1, "abc", 0},
    {"IW 12 '' 3", 0, "IW", 12, -1, -1, " 3", 0},
    {"IW 12 4095", 0, "IW", 12, -1, -1, "", 0},
    {"IW 0 'abc' 5", 0, "IW", 0, 5, 5, "abc", 0},
    {"XW 12 0 34", 1, "XW", 12, 34, 0, "", 0},
    {"XC 12 7 34 'hello' 2", 1, "XC", 12, 34, 7, "hello", 2},
    {"XC 12 7 34", 1, "XC", 12, 34, 7, "", 0},
    {"IWX 12 'a' 3", 1, "IW", 12, 3, 3, "a", 0},
    {"I 12 0 5", 1, "I", 12, 5, 0, "", 0},
    {"IW 65536 'a' 1", 0, "IW", 0, 1, 1, "a", 0},
    {"", 0, nullptr, 0, -1, 0, "", 0},
    {"    ", 0, nullptr, 0, -1, 0, "", 0},
    // Numbers: sign, leading blanks, trailing junk, 16-bit truncation, full workstation.
    {"XW 12 -1 7 70000", 1, "XW", 12, 7, 65535, "", 70000},
    {"XW 65548 1 65541", 1, "XW", 12, 5, 1, "", 0},
    {"XW 12 1 34abc", 1, "XW", 12, 34, 1, "", 0},
    {"XW 12 1 abc", 0, "XW", 12, 0, 1, "", 0},
    {"XW 12 1", 0, "XW", 12, -1, 1, "", 0},
    // A tab is part of a word, not a separator.
    {"XW\t12 0 34", 0, "XW", 0, -1, 34, "", 0},
    // A "C" type without quotes past the index: its text is empty.
    {"RC 3 9 8 'x y' -4", 1, "RC", 3, 8, 9, "x y", -4},
};

TEST(RevertiveSplit, TableOfLayouts)
{
    for (const SplitCase &c : aCases) {
        ZARNMSG r;
        memset(&r, 0x5A, sizeof r);
        int iResult = fnSplitMsg(c.pszRevertive, &r);
        SCOPED_TRACE(std::string("revertive \"") + c.pszRevertive + "\"");
        EXPECT_EQ(c.iResult, iResult) << "result";
        if (c.pszType) {
            EXPECT_STREQ(c.pszType, r.szMsgType) << "type";
        }
        EXPECT_EQ(c.iDevice, r.wDevice) << "device";
        if (c.iIndex >= 0) {
            EXPECT_EQ(c.iIndex, r.wIndex) << "index";
        }
        if (c.iInfo >= 0) {
            EXPECT_EQ(c.iInfo, r.wInfo) << "info";
        }
        if (c.pszInfo) {
            EXPECT_STREQ(c.pszInfo, r.szInfo) << "text";
        }
        if (c.iWorkstation >= 0) {
            EXPECT_EQ(c.iWorkstation, r.iWorkstation) << "workstation";
        }
    }
}

TEST(RevertiveSplit, InputIsNotModifiedAndSplitsRepeat)
{
    char acRev[] = "IW 12 'abc' 4095";
    ZARNMSG r;
    ASSERT_EQ(1, fnSplitMsg(acRev, &r));
    EXPECT_STREQ("IW 12 'abc' 4095", acRev);
    // The tokenizer's position must not leak from one split into the next.
    ASSERT_EQ(1, fnSplitMsg("XW 7 0 9", &r));
    EXPECT_EQ(7, r.wDevice);
    EXPECT_EQ(9, r.wIndex);
    ASSERT_EQ(0, fnSplitMsg("IW 5 'x'", &r));
    ASSERT_EQ(1, fnSplitMsg("XW 8 0 10", &r));
    EXPECT_EQ(10, r.wIndex);
}

// Revertives longer than the work buffer (285 characters) or texts longer than
// szInfo (271) are cut; nothing is written past either buffer.
TEST(RevertiveSplit, OverlongInputIsCutNeverOverrun)
{
    struct {
        ZARNMSG r;
        char acGuard[64];
    } s;
    memset(&s, 0x5A, sizeof s);

    std::string sLongText = "IW 12 '" + std::string(400, 'x') + "' 5";
    EXPECT_EQ(0, fnSplitMsg(sLongText.c_str(), &s.r)) << "the index lies beyond the cut";
    EXPECT_EQ(12, s.r.wDevice);
    EXPECT_EQ(271u, strlen(s.r.szInfo)) << "text cut to the field";
    EXPECT_EQ(0, s.r.iWorkstation);

    std::string sLongC = "XC 3 4 5 '" + std::string(600, 'y') + "' 6";
    memset(&s, 0x5A, sizeof s);
    EXPECT_EQ(1, fnSplitMsg(sLongC.c_str(), &s.r));
    EXPECT_EQ(271u, strlen(s.r.szInfo));
    EXPECT_EQ(0, s.r.iWorkstation);

    // A text that fits the field but not with the rest of the revertive.
    std::string sFits = "IW 12 '" + std::string(270, 'z') + "' 77";
    EXPECT_EQ(1, fnSplitMsg(sFits.c_str(), &s.r));
    EXPECT_EQ(270u, strlen(s.r.szInfo));
    EXPECT_EQ(77, s.r.wIndex);
    std::string sCut = "IW 12 '" + std::string(280, 'z') + "' 77";
    EXPECT_EQ(0, fnSplitMsg(sCut.c_str(), &s.r)) << "the index falls beyond 285 characters";

    for (char c : s.acGuard)
        ASSERT_EQ(0x5A, (unsigned char)c) << "bytes after the record were written";
}

}  // namespace
