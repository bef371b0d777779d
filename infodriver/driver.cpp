// DRIVER: splitting of the infodriver's revertive texts into _ZARNmsg records.
//
// A revertive is "<type> <fields...>" where the type's two letters choose the
// layout (IW: device 'text' index [ws]; ?C: device info index 'text' [ws];
// otherwise: device info index [ws]). Words are cut strtok-style, each step
// with its own delimiter set, so that a quoted text may hold blanks.
#include "infodriver/driver.h"

#include <string.h>

#define REV_WORK_LEN   286   // work copy of the revertive, 285 characters at most
#define REV_INFO_LEN   272   // szInfo, 271 characters at most

// Tokenizer state: the work copy and the position in it. Window thread only;
// a split makes no call that could start another split before it ends.
static char acWork[REV_WORK_LEN];
static char *pcNext;

// Returns the next word delimited by any character of lpszDelim, or NULL when
// only delimiters (or nothing) remain; from then on every step finds no word.
static char *fnNextWord(LPCSTR lpszDelim)
{
    if (pcNext == NULL)
        return NULL;
    pcNext += strspn(pcNext, lpszDelim);
    if (*pcNext == '\0') {
        pcNext = NULL;
        return NULL;
    }
    char *pcWord = pcNext;
    pcNext += strcspn(pcNext, lpszDelim);
    if (*pcNext != '\0')
        *pcNext++ = '\0';   // the delimiter that ends the word is consumed
    else
        pcNext = NULL;
    return pcWord;
}

// A decimal number as the C library's atoi reads it (white space, sign,
// digits), but with defined wrap-around instead of undefined overflow.
static long fnNumber(const char *pc)
{
    unsigned long ulValue = 0;
    int fNegative = 0;

    while (*pc == ' ' || *pc == '\t' || *pc == '\n' || *pc == '\v' || *pc == '\f' || *pc == '\r')
        pc++;
    if (*pc == '+' || *pc == '-')
        fNegative = (*pc++ == '-');
    while (*pc >= '0' && *pc <= '9')
        ulValue = ulValue * 10u + (unsigned long)(*pc++ - '0');
    if (fNegative)
        ulValue = 0u - ulValue;
    return (long)(int)(unsigned int)ulValue;
}

// Copies a quoted text into szInfo, cut to what the field holds.
static void fnSetInfo(LPZARNMSG Rev, const char *pcWord)
{
    if (pcWord == NULL) {
        Rev->szInfo[0] = '\0';
        return;
    }
    size_t cch = strlen(pcWord);
    if (cch > REV_INFO_LEN - 1)
        cch = REV_INFO_LEN - 1;
    memcpy(Rev->szInfo, pcWord, cch);
    Rev->szInfo[cch] = '\0';
}

int fnSplitMsg(LPCSTR lpszRevertive, LPZARNMSG Rev)
{
    char *pcWord;
    int fTextLayout;

    if (Rev == NULL)
        return 0;
    Rev->wDevice = 0;
    Rev->wInfo = 0;
    Rev->szInfo[0] = '\0';
    Rev->iWorkstation = 0;
    if (lpszRevertive == NULL)
        return 0;

    // A revertive too long for the work copy is cut, never written past it.
    size_t cch = strnlen(lpszRevertive, REV_WORK_LEN - 1);
    memcpy(acWork, lpszRevertive, cch);
    acWork[cch] = '\0';
    pcNext = acWork;

    if ((pcWord = fnNextWord(" ")) == NULL)
        return 0;
    Rev->szMsgType[0] = pcWord[0];
    Rev->szMsgType[1] = pcWord[1];   // the terminator of a one-letter type
    Rev->szMsgType[2] = '\0';

    if (strcmp(Rev->szMsgType, "IW") == 0) {
        if ((pcWord = fnNextWord("'")) == NULL)
            return 0;
        Rev->wDevice = (WORD)fnNumber(pcWord);
        fnSetInfo(Rev, fnNextWord("'"));
        if ((pcWord = fnNextWord(" ")) == NULL)
            return 0;
        Rev->wIndex = (WORD)fnNumber(pcWord);
        Rev->wInfo = Rev->wIndex;
    } else {
        fTextLayout = (Rev->szMsgType[0] != '\0' && Rev->szMsgType[1] == 'C');
        if ((pcWord = fnNextWord(" ")) == NULL)
            return 0;
        Rev->wDevice = (WORD)fnNumber(pcWord);
        if ((pcWord = fnNextWord(" ")) == NULL)
            return 0;
        Rev->wInfo = (WORD)fnNumber(pcWord);
        if ((pcWord = fnNextWord(fTextLayout ? "'" : " ")) == NULL)
            return 0;
        Rev->wIndex = (WORD)fnNumber(pcWord);
        if (fTextLayout)
            fnSetInfo(Rev, fnNextWord("'"));
    }
    if ((pcWord = fnNextWord(" ")) != NULL)
        Rev->iWorkstation = (int)fnNumber(pcWord);

    return (Rev->wDevice != 0 && Rev->wIndex != 0) ? 1 : 0;
}
