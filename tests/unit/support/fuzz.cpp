#include "fuzz.h"

#include <signal.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>

std::vector<uint64_t> FuzzSeeds(const std::vector<uint64_t> &vDefault)
{
    const char *psz = getenv("MIXTALLY_FUZZ_SEEDS");
    if (psz == nullptr || *psz == 0)
        return vDefault;
    std::vector<uint64_t> v;
    if (strcmp(psz, "random") == 0) {
        LARGE_INTEGER li;
        QueryPerformanceCounter(&li);
        Rng r{ (uint64_t)li.QuadPart ^ ((uint64_t)GetCurrentProcessId() << 32) };
        for (int i = 0; i < 4; i++)
            v.push_back(r.Next() % 1000000000ull);
        return v;
    }
    for (const char *p = psz; *p;) {
        char *pEnd;
        v.push_back(strtoull(p, &pEnd, 0));
        p = *pEnd == ',' ? pEnd + 1 : pEnd + strlen(pEnd);
    }
    return v;
}

uint64_t FuzzCount(const char *pszVar, uint64_t ullDefault)
{
    const char *psz = getenv(pszVar);
    return psz != nullptr && *psz ? strtoull(psz, nullptr, 0) : ullDefault;
}

// The handler has no context of its own: one note lives at a time.
static const char *s_pszWhat = "", *s_pszWhere = "";
static volatile uint64_t s_ullSeed, s_ullWhere;
static volatile LONG s_fRunning;

static LONG CALLBACK CrashNoteHandler(PEXCEPTION_POINTERS p)
{
    DWORD dwCode = p->ExceptionRecord->ExceptionCode;
    if (s_fRunning && (dwCode == EXCEPTION_ACCESS_VIOLATION || dwCode == EXCEPTION_ILLEGAL_INSTRUCTION ||
                       dwCode == EXCEPTION_ARRAY_BOUNDS_EXCEEDED || dwCode == 0xC0000409 /* stack buffer overrun */)) {
        fprintf(stderr, "%s: exception %#lx at seed %llu, %s%llu\n", s_pszWhat, dwCode, s_ullSeed, s_pszWhere,
                s_ullWhere);
        fflush(stderr);
    }
    return EXCEPTION_CONTINUE_SEARCH;
}

static void AbortNote(int)
{
    fprintf(stderr, "%s: abort at seed %llu, %s%llu\n", s_pszWhat, s_ullSeed, s_pszWhere, s_ullWhere);
    fflush(stderr);
}

FuzzNote::FuzzNote(const char *pszWhat, const char *pszWhere, uint64_t ullSeed)
{
    s_pszWhat = pszWhat;
    s_pszWhere = pszWhere;
    s_ullSeed = ullSeed;
    s_ullWhere = 0;
    pvHandler_ = AddVectoredExceptionHandler(1, CrashNoteHandler);
    signal(SIGABRT, AbortNote);
    InterlockedExchange(&s_fRunning, 1);
}

FuzzNote::~FuzzNote()
{
    InterlockedExchange(&s_fRunning, 0);
    signal(SIGABRT, SIG_DFL);
    RemoveVectoredExceptionHandler(pvHandler_);
}

void FuzzNote::At(uint64_t ullWhere)
{
    s_ullWhere = ullWhere;
}
