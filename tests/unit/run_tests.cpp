// run_tests: see run_tests.h.
//
// On Windows a thread-safe GoogleTest starts a watcher thread the first time
// a thread uses its per-thread state (SCOPED_TRACE does, and any failure). A
// program that ended within a moment of that ended while the watcher was
// still starting, and wine32 then crashed in its signal handler: SIGSEGV
// after "PASSED". So the main thread's watcher is started before any test,
// and the tests begin once it has been through its thread start (a TLS
// callback counts thread starts). Our other threads never call GoogleTest,
// so no other watcher is ever started.
#include "run_tests.h"
#include <windows.h>
#include <gtest/gtest.h>

static volatile LONG lThreadsStarted;

static void NTAPI fnCountThreadStart(PVOID, DWORD dwReason, PVOID)
{
    if (dwReason == DLL_THREAD_ATTACH)
        InterlockedIncrement(&lThreadsStarted);
}

// The loader calls the program's TLS callbacks in each new thread, once the
// platform has set the thread up.
extern "C" __attribute__((section(".CRT$XLM"), used))
const PIMAGE_TLS_CALLBACK pfnCountThreadStart = fnCountThreadStart;

int fnRunTests(int *pArgc, char **argv)
{
    LONG lBefore = lThreadsStarted;
    {
        SCOPED_TRACE("the main thread's watcher starts here");
    }
    DWORD dwStart = GetTickCount();
    while (lThreadsStarted == lBefore && GetTickCount() - dwStart < 30000)
        Sleep(1);
    testing::InitGoogleTest(pArgc, argv);
    return RUN_ALL_TESTS();
}
