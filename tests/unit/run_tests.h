// The body of every Windows test program's main: GoogleTest with the main
// thread's watcher started before the first test (see run_tests.cpp).
#pragma once

int fnRunTests(int *pArgc, char **argv);
