// report: what mixbench prints and keeps -- the table's lines, the JSON
// document, failures and progress notes on stderr, and the statistics of a
// sample. Nothing here judges a figure: a failure is a measurement that
// could not be made, or slot writes that were lost or wrong.
#pragma once
#include <stddef.h>
#include <string>
#include <vector>

struct STATS {
    size_t n = 0;
    double p50 = 0, p99 = 0, max = 0, min = 0, mean = 0;
};

STATS fnStats(std::vector<double> v);
std::string fnJsonStats(const STATS &s);

std::string fnFmt(const char *pszFormat, ...) __attribute__((format(printf, 1, 2)));
// Says why on stderr and counts it: the run then ends with exit 1.
void fnFail(const char *pszFormat, ...) __attribute__((format(printf, 1, 2)));
int fnFailures(void);
void fnNote(const char *pszFormat, ...) __attribute__((format(printf, 1, 2)));

// One line of the table.
void fnOut(const std::string &sLine);
// One member of the JSON document; sValue is JSON already.
void fnJson(const char *pszKey, const std::string &sValue);
std::string fnJsonStr(const std::string &s);
// Adds "key": value (JSON already) to the members of an object being built.
void fnJsonAdd(std::string *psObject, const std::string &sKey, const std::string &sValue);
// Prints the table (and forgets it).
void fnPrintTable(void);
// Prints the table, writes the JSON as <dir>/<prefix>-<stamp>.json; the
// exit code of the run (1 after a failure).
int fnFinish(const std::string &sDir, const char *pszPrefix, const char *pszStamp);
