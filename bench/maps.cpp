// maps: see maps.h.
#include "maps.h"
#include <string.h>
#include "mixsim.h"

const CASE aCases[CASE_COUNT] = {
    { "one_byte",      "(a) 1 map byte, 1 slot flips",      0x01, 0x03, 0x07, 0 },
    { "all_bytes",     "(b) 16 map bytes, 16 slots flip",   0x01, 0x03, 0x07, 1 },
    { "all_bytes_all", "(b') 16 map bytes, 128 slots flip", 0x55, 0xAA, 0x33, 1 },
    { "identical",     "(c) identical frame",               0x55, 0x55, 0x55, 1 },
};

void fnCaseMaps(const CASE &c, uint8_t abA[16], uint8_t abB[16], uint8_t abC[16])
{
    uint8_t *apb[3] = { abA, abB, abC };
    const uint8_t ab[3] = { c.bA, c.bB, c.bC };
    for (int i = 0; i < 3; i++)
        if (apb[i] != nullptr) {
            memset(apb[i], 0, 16);
            memset(apb[i], ab[i], c.fAllBytes ? 16 : 1);
        }
}

uint32_t fnLcgNext(uint32_t *pu)
{
    *pu = *pu * 1103515245u + 12345u;
    return *pu >> 16;
}

void fnChangeBytes(uint8_t abMap[16], uint32_t *pu)
{
    for (int n = fnLcgNext(pu) % 5 == 0 ? 2 : 1; n > 0; n--) {
        int x = (int)(fnLcgNext(pu) % 16);
        uint8_t b = (uint8_t)fnLcgNext(pu);
        abMap[x] = b == abMap[x] ? (uint8_t)~b : b;
    }
}

std::string fnMapSlots(const uint8_t abMap[16])
{
    std::string s(128, '0');
    for (int x = 0; x < 16; x++)
        for (int i = 0; i < 8; i++)
            if (abMap[x] & (1u << i))
                s[(size_t)(8 * x + i)] = '1';
    return s;
}

int fnDiffBits(const uint8_t abA[16], const uint8_t abB[16])
{
    int c = 0;
    for (int x = 0; x < 16; x++)
        c += __builtin_popcount((unsigned)(abA[x] ^ abB[x]));
    return c;
}

int fnDiffBytes(const uint8_t abA[16], const uint8_t abB[16])
{
    int c = 0;
    for (int x = 0; x < 16; x++)
        c += abA[x] != abB[x];
    return c;
}

// The publisher examines changed map bytes in ascending order, reading each
// of their eight slots in turn and writing right after a read that differs,
// so a latency (which ends at the last write) holds the reads up to that slot.
int fnReadsBeforeLastWrite(const uint8_t abA[16], const uint8_t abB[16])
{
    int cReads = 0, cAtLast = 0;
    for (int x = 0; x < 16; x++) {
        if (abA[x] == abB[x])
            continue;
        for (int i = 0; i < 8; i++) {
            cReads++;
            if ((abA[x] ^ abB[x]) & (1 << i))
                cAtLast = cReads;
        }
    }
    return cAtLast;
}

int fnFrameBytes(const uint8_t abMap[16])
{
    uint8_t ab[22];
    return (int)msEncodeTally(abMap, ab);
}

double fnWireMs(int cBytes)
{
    return cBytes * BENCH_BITS_PER_CHAR / BENCH_BAUD * 1000.0;
}

double fnLineMaxFps(int cBytes)
{
    return BENCH_BAUD / BENCH_BITS_PER_CHAR / cBytes;
}

void fnReplay(REPLAY *pr, const std::vector<harness::InfoEvent> &v, const std::string &sWant)
{
    for (; pr->iNext < v.size(); pr->iNext++) {
        const harness::InfoEvent &e = v[pr->iNext];
        if (e.kind != "W" || e.iSlot < 1 || e.iSlot > 128)
            continue;
        char c = e.text.empty() ? ' ' : e.text[0];
        char &cSlot = pr->sState[(size_t)e.iSlot - 1];
        pr->cWrites++;
        pr->cIdle += cSlot == c;
        cSlot = c;
        if (pr->sState != sWant)
            pr->llHeldUs = -1;
        else if (pr->llHeldUs < 0)
            pr->llHeldUs = e.tUs;
    }
}
