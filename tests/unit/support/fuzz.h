// What the fuzz tests share: a seeded random source that gives the same
// stream from a seed everywhere, the seeds and counts the environment may
// replace (scripts/bench.sh --fuzz sets them), a stopwatch for the rates they
// print, and a note on stderr of where a crash happened, since a crash ends
// the program before GoogleTest can say which seed failed.
#pragma once
#include <windows.h>
#include <stdint.h>
#include <chrono>
#include <vector>

// splitmix64.
struct Rng {
    uint64_t s;
    uint64_t Next()
    {
        uint64_t z = (s += 0x9E3779B97F4A7C15ull);
        z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
        z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
        return z ^ (z >> 31);
    }
    unsigned Below(unsigned n) { return (unsigned)(Next() % n); }
    BYTE Byte() { return (BYTE)Next(); }
    bool Pct(unsigned p) { return Below(100) < p; }
};

// MIXTALLY_FUZZ_SEEDS: a comma list, or "random" (four seeds); unset or
// empty: vDefault.
std::vector<uint64_t> FuzzSeeds(const std::vector<uint64_t> &vDefault);
// The number in the environment variable pszVar; unset or empty: ullDefault.
uint64_t FuzzCount(const char *pszVar, uint64_t ullDefault);

struct Stopwatch {
    std::chrono::steady_clock::time_point t0 = std::chrono::steady_clock::now();
    double Seconds() const { return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count(); }
};

// While one lives, an access violation, a trap of the checked build, a stack
// overrun or an abort first writes "<pszWhat>: exception <code> at seed
// <seed>, <pszWhere><the last At>" to stderr.
class FuzzNote {
public:
    FuzzNote(const char *pszWhat, const char *pszWhere, uint64_t ullSeed);
    ~FuzzNote();
    FuzzNote(const FuzzNote &) = delete;
    FuzzNote &operator=(const FuzzNote &) = delete;
    static void At(uint64_t ullWhere);

private:
    PVOID pvHandler_;
};
