// Port table results that need no line: bad indexes, no table, a port
// number outside 1..256 and a COM port with no device behind it.
#include <windows.h>
#include <gtest/gtest.h>
#include <stdlib.h>
#include <algorithm>
#include <string>
#include "comms/comms.h"

namespace {

TEST(CommsNoDevice, BadIndexAndNoTableGiveTheirCodes)
{
    ASSERT_EQ((HGLOBAL)0, hGPortInfo) << "no port may be open in this process";
    const INT_PTR aIdx[] = {-5, -1, 0, 5, 255, 256, 300};
    for (INT_PTR i : aIdx) {
        DCB dcb = {};
        COMSTAT cs;
        BYTE b[4] = {1, 2, 3, 4};
        memset(&cs, 0x5A, sizeof(cs));
        SCOPED_TRACE("index " + std::to_string((long long)i));
        EXPECT_EQ(0, GetCommState32(i, &dcb));
        EXPECT_EQ(0, SetCommState32(i, &dcb));
        EXPECT_EQ(0, FlushComm(i, PURGE_RXCLEAR));
        EXPECT_EQ(0, ConfigCommDialog(i, NULL));
        EXPECT_EQ(0xFFFFFFFFul, (unsigned long)GetCommError(i, &cs));
        EXPECT_EQ(0, EnableCommNotification(i, NULL, 1));
        EXPECT_EQ(0, ReadComm(i, b, 4));
        EXPECT_EQ(0u, GetCommDropped32(i));
        // Range first, then the table: a bad index says -2 even with no table.
        EXPECT_EQ(i < 0 || i > 255 ? -2 : -3, WriteComm(i, b, 4));
        CommBreak32(i, 1);
        CommBreak32(i, 0);
        CloseComm32(i);
    }
    EXPECT_EQ((HGLOBAL)0, hGPortInfo);
}

TEST(CommsNoDevice, PortNumberOutOfRangeAllocatesNoTable)
{
    const UINT aPort[] = {0, 257, 1000};
    for (UINT p : aPort) {
        EXPECT_EQ(-1, (int)OpenComm32(p, 38400, 8, ONESTOPBIT, NOPARITY)) << "port " << p;
        EXPECT_EQ((HGLOBAL)0, hGPortInfo) << "port " << p;
    }
}

// COM6 is mapped by the prefix to $MIXTALLY_PORTS/com6; with nothing there
// Wine still opens a stub, but every comm call fails: the open must fail
// cleanly and leave no table behind.
TEST(CommsNoDevice, MissingDeviceFailsAndLeavesNoTable)
{
    const char *pszPorts = getenv("MIXTALLY_PORTS");
    if (pszPorts != NULL) {
        std::string s = std::string("Z:") + pszPorts + "\\com6";
        std::replace(s.begin(), s.end(), '/', '\\');
        DeleteFileA(s.c_str());
    }
    EXPECT_EQ(-1, (int)OpenComm32(6, 38400, 8, ONESTOPBIT, NOPARITY));
    EXPECT_EQ((HGLOBAL)0, hGPortInfo);
    CloseComm32(-1);
    EXPECT_EQ((HGLOBAL)0, hGPortInfo);
}

}  // namespace
