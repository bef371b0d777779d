// report: see report.h.
#include "report.h"
#include <stdarg.h>
#include <stdio.h>
#include <sys/stat.h>
#include <algorithm>
#include <numeric>

static std::string sTable;         // the table being built
static std::string sJsonDoc;       // the JSON document's members
static int cFailures;

STATS fnStats(std::vector<double> v)
{
    STATS s;
    if (v.empty())
        return s;
    std::sort(v.begin(), v.end());
    s.n = v.size();
    s.p50 = v[v.size() / 2];
    s.p99 = v[(v.size() * 99) / 100];
    s.max = v.back();
    s.min = v.front();
    s.mean = std::accumulate(v.begin(), v.end(), 0.0) / (double)v.size();
    return s;
}

std::string fnJsonStats(const STATS &s)
{
    return fnFmt("{\"n\": %zu, \"p50\": %.4f, \"p99\": %.4f, \"max\": %.4f, \"min\": %.4f, \"mean\": %.4f}",
                 s.n, s.p50, s.p99, s.max, s.min, s.mean);
}

// Any length: a JSON member with a long ladder of paced runs is kilobytes.
std::string fnFmt(const char *pszFormat, ...)
{
    va_list ap, apAgain;
    va_start(ap, pszFormat);
    va_copy(apAgain, ap);
    std::string s((size_t)std::max(0, vsnprintf(nullptr, 0, pszFormat, ap)), '\0');
    va_end(ap);
    vsnprintf(&s[0], s.size() + 1, pszFormat, apAgain);
    va_end(apAgain);
    return s;
}

static void fnSay(const char *pszPrefix, const char *pszFormat, va_list ap)
{
    fputs(pszPrefix, stderr);
    vfprintf(stderr, pszFormat, ap);
    fputc('\n', stderr);
}

void fnFail(const char *pszFormat, ...)
{
    va_list ap;
    va_start(ap, pszFormat);
    fnSay("mixbench: ", pszFormat, ap);
    va_end(ap);
    cFailures++;
}

int fnFailures(void)
{
    return cFailures;
}

void fnNote(const char *pszFormat, ...)
{
    va_list ap;
    va_start(ap, pszFormat);
    fnSay("[bench] ", pszFormat, ap);
    va_end(ap);
}

void fnOut(const std::string &sLine)
{
    sTable += sLine + "\n";
}

void fnJson(const char *pszKey, const std::string &sValue)
{
    if (!sJsonDoc.empty())
        sJsonDoc += ",\n";
    sJsonDoc += "  \"" + std::string(pszKey) + "\": " + sValue;
}

void fnJsonAdd(std::string *psObject, const std::string &sKey, const std::string &sValue)
{
    *psObject += (psObject->empty() ? "\"" : ", \"") + sKey + "\": " + sValue;
}

std::string fnJsonStr(const std::string &s)
{
    std::string o = "\"";
    for (char c : s) {
        if (c == '"' || c == '\\')
            o += '\\';
        if ((unsigned char)c < 0x20)
            continue;
        o += c;
    }
    return o + "\"";
}

void fnPrintTable(void)
{
    fputs(sTable.c_str(), stdout);
    fflush(stdout);
    sTable.clear();
}

int fnFinish(const std::string &sDir, const char *pszPrefix, const char *pszStamp)
{
    fnJson("failures", std::to_string(cFailures));
    fnPrintTable();
    mkdir(sDir.c_str(), 0755);
    std::string sPath = sDir + "/" + pszPrefix + "-" + pszStamp + ".json";
    FILE *f = fopen(sPath.c_str(), "w");
    if (f == nullptr) {
        fnFail("cannot write %s", sPath.c_str());
    } else {
        fprintf(f, "{\n%s\n}\n", sJsonDoc.c_str());
        fclose(f);
        printf("figures written to %s\n", sPath.c_str());
    }
    if (cFailures)
        printf("%d measurement(s) failed or lost data (see above)\n", cFailures);
    return cFailures ? 1 : 0;
}
