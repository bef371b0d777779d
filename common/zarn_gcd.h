// zarn_gcd: where the control system keeps its configuration, system and
// temporary directories. The newer layout comes from KV_ROOT/KV_SYSTEM; the
// older one from "c:\zarn_config.ini", falling back to the Windows directory
// (which is then written back so that the file completes itself).
#pragma once
#include <windows.h>

void GetZARNConfigDirectory(char *acPath, int iLen);
void GetZARNSystemDirectory(char *acPath, int iLen);
void GetZARNTempDirectory(char *acPath, int iLen);
// iMaxLen limits the two values together, not counting the separator:
// acPath must hold iMaxLen + 2 bytes.
int  GetV4Directory(char *acPath, int iMaxLen);
// Where the profile calls find a file: a name without a directory lies in
// the Windows directory, not the current one. 0 when the path does not fit.
int  fnProfileFilePath(LPCSTR lpszFile, char *acPath, int iLen);
