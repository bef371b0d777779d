// Tally decoding: expansion of the compressed map, the two log lines, and
// which slots get written (all at start-up, then only changed ones).
#include <gtest/gtest.h>
#include <string.h>
#include "fakes.h"
#include "driver/mixtally.h"
#include "driver/publish.h"

namespace {

class Tally : public ::testing::Test {
protected:
    void SetUp() override { fake::Reset(); }

    // Decodes a frame the way the link hands it over: at the start of a
    // zero-filled 257-byte buffer, length argument the count byte.
    static void Decode(const std::vector<BYTE> &frame)
    {
        BYTE ab[INBUF_SIZE] = {};
        memcpy(ab, frame.data(), frame.size());
        EXPECT_EQ(0, fnParseRxData(ab, ab[0]));
    }
    // ... and publishes it, as the link does once no byte waits.
    static void Parse(const std::vector<BYTE> &frame)
    {
        Decode(frame);
        fnPublishPending();
    }

    // Slots 1..128 that hold "1" in the store.
    static std::vector<int> LitSlots()
    {
        std::vector<int> lit;
        for (int s = 1; s <= 128; s++)
            if (fake::slots[s] == "1")
                lit.push_back(s);
        return lit;
    }
};

TEST_F(Tally, FirstTallyFrameWritesAll128SlotsInOrder)
{
    Parse({ 0x09, 0x24, 0x91, 0xFF, 0x01, 0x0B, 0xFF, 0x41, 0x11, 0x03 });

    ASSERT_EQ(128u, fake::writes.size());
    for (int i = 0; i < 128; i++) {
        EXPECT_EQ(i + 1, fake::writes[i].iSlot) << "write #" << i;
        EXPECT_EQ(201, fake::writes[i].iDevice) << "write #" << i;
    }
    EXPECT_EQ(0, fake::nSlotReads) << "a start-up publication writes without reading";
    EXPECT_EQ((std::vector<int>{ 1, 2, 9, 13, 25, 31, 65, 66, 67, 68, 69, 70, 71, 72 }), LitSlots());
    EXPECT_EQ(128u, uNetTX);
    EXPECT_EQ(0, fStartup);

    ASSERT_EQ(2u, fake::debugLines.size());
    EXPECT_EQ("Parse: 09 24 91 ff 01 0b ff 41 11 03 ", fake::debugLines[0]);
    EXPECT_EQ("Uncompressed data :03 11 00 41 00 00 00 00 ff 00 00 00 00 00 00 00 ", fake::debugLines[1]);
    const BYTE abMap[16] = { 0x03, 0x11, 0, 0x41, 0, 0, 0, 0, 0xFF, 0, 0, 0, 0, 0, 0, 0 };
    EXPECT_EQ(0, memcmp(abMap, bPreviousUncompressedData, 16));
}

TEST_F(Tally, ExpansionOfPresenceMask)
{
    const struct {
        const char *name;
        std::vector<BYTE> frame;
        const char *uncompressed;
        std::vector<int> lit;
    } cases[] = {
        { "mask 0: all clear", { 0x05, 0x24, 0x91, 0xFF, 0x00, 0x00 },
          "Uncompressed data :00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 ", {} },
        { "mask 8001: first byte is map byte 15", { 0x07, 0x24, 0x91, 0xFF, 0x80, 0x01, 0xAA, 0x55 },
          "Uncompressed data :55 00 00 00 00 00 00 00 00 00 00 00 00 00 00 aa ",
          { 1, 3, 5, 7, 122, 124, 126, 128 } },
        { "mask ffff with no data bytes reads the zero fill", { 0x05, 0x24, 0x91, 0xFF, 0xFF, 0xFF },
          "Uncompressed data :00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 00 ", {} },
        { "surplus data bytes are ignored",
          { 0x0A, 0x24, 0x91, 0xFF, 0x00, 0x07, 0x04, 0x02, 0x01, 0xEE, 0xDD },
          "Uncompressed data :01 02 04 00 00 00 00 00 00 00 00 00 00 00 00 00 ", { 1, 10, 19 } },
        { "all sixteen bytes carried",
          { 0x15, 0x24, 0x91, 0xFF, 0xFF, 0xFF, 0x80, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0x01 },
          "Uncompressed data :01 00 00 00 00 00 00 00 00 00 00 00 00 00 00 80 ", { 1, 128 } },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        fake::Reset();
        Parse(c.frame);
        ASSERT_EQ(2u, fake::debugLines.size());
        EXPECT_EQ(c.uncompressed, fake::debugLines[1]);
        EXPECT_EQ(128u, fake::writes.size());
        EXPECT_EQ(c.lit, LitSlots());
    }
}

TEST_F(Tally, OtherFramesAreOnlyLoggedAndEndStartup)
{
    const struct {
        std::vector<BYTE> frame;
        const char *log;
    } cases[] = {
        { { 0x04, 0x24, 0x91, 0xFF, 0x00 }, "Parse: 04 24 91 ff 00 " },
        { { 0x05, 0x24, 0x11, 0xFF, 0x00, 0x00 }, "Parse: 05 24 11 ff 00 00 " },
        { { 0x05, 0x25, 0x91, 0xFF, 0x00, 0x00 }, "Parse: 05 25 91 ff 00 00 " },
        { { 0x05, 0x24, 0x91, 0xFE, 0x00, 0x00 }, "Parse: 05 24 91 fe 00 00 " },
        { { 0x01, 0x84 }, "Parse: 01 84 " },
        { { 0x00 }, "Parse: 00 " },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.log);
        fake::Reset();
        Parse(c.frame);
        EXPECT_EQ(std::vector<std::string>{ c.log }, fake::debugLines);
        EXPECT_TRUE(fake::writes.empty());
        EXPECT_EQ(0, fStartup);
        for (int x = 0; x < 16; x++)
            EXPECT_EQ(0xFF, bPreviousUncompressedData[x]) << "map byte " << x;
    }
}

TEST_F(Tally, LongestFrameLogsEveryByte)
{
    std::vector<BYTE> frame(256, 0xAB);
    frame[0] = 0xFF;
    Parse(frame);
    ASSERT_EQ(1u, fake::debugLines.size());
    EXPECT_EQ(775u, fake::debugLines[0].size());
    EXPECT_EQ("Parse: ff ab ", fake::debugLines[0].substr(0, 13));
    EXPECT_EQ("ab ab ", fake::debugLines[0].substr(769));
}

TEST_F(Tally, LaterFramesWriteOnlySlotsThatDiffer)
{
    Parse({ 0x06, 0x24, 0x91, 0xFF, 0x00, 0x01, 0x01 });   // byte 0 = 01, all else 0
    ASSERT_EQ(128u, fake::writes.size());

    // The same map again: no byte changed, nothing is read or written.
    fake::writes.clear();
    Parse({ 0x06, 0x24, 0x91, 0xFF, 0x00, 0x01, 0x01 });
    EXPECT_TRUE(fake::writes.empty());
    EXPECT_EQ(0, fake::nSlotReads);
    EXPECT_EQ(128u, uNetTX);

    // Byte 0 goes 01 -> 03 while the infodriver already shows slot 2 lit:
    // the eight slots are read, none differs, nothing is written or counted.
    fake::slots[2] = "1";
    Parse({ 0x06, 0x24, 0x91, 0xFF, 0x00, 0x01, 0x03 });
    EXPECT_EQ(8, fake::nSlotReads);
    EXPECT_TRUE(fake::writes.empty());
    EXPECT_EQ(128u, uNetTX);

    // Byte 0 clears and byte 5 gets bit 2: two bytes examined, three writes.
    Parse({ 0x06, 0x24, 0x91, 0xFF, 0x00, 0x20, 0x04 });
    EXPECT_EQ(24, fake::nSlotReads);
    EXPECT_EQ((std::vector<std::string>{ "1=0", "2=0", "43=1" }), fake::Written());
    EXPECT_EQ(131u, uNetTX);
}

TEST_F(Tally, FirstTallyFrameAfterAnotherFrameIsComparedWithStartupFill)
{
    Parse({ 0x01, 0x00 });       // any frame ends the start-up publication
    ASSERT_EQ(0, fStartup);
    fake::debugLines.clear();

    // Map bytes 0 and 1 are FF (equal to the fill: skipped), the rest 00.
    Parse({ 0x07, 0x24, 0x91, 0xFF, 0x00, 0x03, 0xFF, 0xFF });
    EXPECT_EQ(14 * 8, fake::nSlotReads);
    EXPECT_EQ(14u * 8, fake::writes.size());
    for (const fake::SlotWrite &w : fake::writes) {
        EXPECT_GT(w.iSlot, 16);
        EXPECT_EQ("0", w.text);
    }
    EXPECT_EQ(112u, uNetTX);
}

// Maps decoded while none is published (frames that waited together): only
// the newest is published, compared against the map published before it.
TEST_F(Tally, OnlyTheNewestMapIsPublishedAgainstThePublishedOne)
{
    const std::vector<BYTE> kByte0Is01 = { 0x06, 0x24, 0x91, 0xFF, 0x00, 0x01, 0x01 };
    const std::vector<BYTE> kByte0Is03 = { 0x06, 0x24, 0x91, 0xFF, 0x00, 0x01, 0x03 };
    const std::vector<BYTE> kBytes0And1Are01 = { 0x07, 0x24, 0x91, 0xFF, 0x00, 0x03, 0x01, 0x01 };
    const std::vector<BYTE> kAllClear = { 0x05, 0x24, 0x91, 0xFF, 0x00, 0x00 };
    const std::vector<BYTE> kTestFrame = { 0x09, 0x24, 0x91, 0xFF, 0x01, 0x0B, 0xFF, 0x41, 0x11, 0x03 };
    std::vector<std::string> vAllZero;
    for (int s = 1; s <= 128; s++)
        vAllZero.push_back(std::to_string(s) + "=0");
    const struct {
        const char *name;
        std::vector<std::vector<BYTE>> published;   // each published on its own first
        std::vector<std::vector<BYTE>> batch;       // decoded together, then one publication
        std::vector<std::string> written;           // "slot=text" of that publication
        int nReads;
    } cases[] = {
        { "a change undone by the next map writes nothing", { kByte0Is01 }, { kByte0Is03, kByte0Is01 }, {}, 0 },
        { "a slot set in a superseded map is set by the newest", { kByte0Is01 },
          { kBytes0And1Are01, kBytes0And1Are01 }, { "9=1" }, 8 },
        { "start-up's first map is written in full even when superseded", {}, { kTestFrame, kAllClear },
          vAllZero, 0 },
    };
    for (const auto &c : cases) {
        SCOPED_TRACE(c.name);
        fake::Reset();
        for (const auto &f : c.published)
            Parse(f);
        fake::writes.clear();
        fake::nSlotReads = 0;
        fake::debugLines.clear();
        for (const auto &f : c.batch)
            Decode(f);
        EXPECT_TRUE(fake::writes.empty()) << "nothing is published while frames are still read";
        fnPublishPending();
        EXPECT_EQ(c.written, fake::Written());
        EXPECT_EQ(c.nReads, fake::nSlotReads);
        ASSERT_EQ(2 * c.batch.size() + 1, fake::debugLines.size()) << "each frame's two lines, then the count";
        EXPECT_EQ("1 map superseded (1 in all)", fake::debugLines.back());
        EXPECT_EQ(1u, fnPublishSuperseded());
    }
}

TEST_F(Tally, SplitToSlotsCountsOnlyWritesThatHappen)
{
    fake::slots[9] = "1";
    fake::slots[10] = "0";
    fnSplitToSlotsBYTE(0x01, 201, 9, 1);      // slot 9 "1", 10..16 "0"
    EXPECT_EQ(6u, uNetTX) << "slots 9 and 10 already hold their texts";

    uNetTX = 0;
    fake::writes.clear();
    fnSplitToSlotsBYTE(0x80, 7, 121, 0);
    EXPECT_EQ((std::vector<std::string>{ "121=0", "122=0", "123=0", "124=0", "125=0", "126=0", "127=0", "128=1" }),
              fake::Written());
    EXPECT_EQ(8u, uNetTX);
    EXPECT_EQ(7, fake::writes[7].iDevice);

    // An infodriver that does not answer takes no write, checked or not.
    uNetTX = 0;
    fake::fSilent = true;
    fnSplitToSlotsBYTE(0x0F, 201, 1, 0);
    fnSplitToSlotsBYTE(0xF0, 201, 9, 1);
    EXPECT_EQ(0u, uNetTX);
}

}  // namespace
