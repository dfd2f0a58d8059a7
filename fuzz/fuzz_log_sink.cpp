// Trace sink for the fuzzers: every message is still formatted, so a bad
// argument (a string without its NUL) is caught, but nothing is written:
// millions of lines would only slow the run, and the machine-wide log file
// must not fill up while a developer has its directory switched on.
#include "velorin.h"

#include <cstdarg>
#include <cstdio>

void DbgMsg(const char* szMsgFormat, ...)
{
    char msgText[2048];
    va_list ap;
    va_start(ap, szMsgFormat);
    vsnprintf(msgText, sizeof msgText, szMsgFormat, ap);
    va_end(ap);
    // Keep the formatting from being optimised away.
    volatile char first = msgText[0];
    (void)first;
}
