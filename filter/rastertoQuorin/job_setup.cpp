#include "job_setup.h"

#include <cstdlib>
#include <strings.h>
#include <unistd.h>

#include "job_flags.h"
#include "job_info.h"

int str2Int(const char* string)
{
    // Wraps like the 32-bit accumulation it stands for, without signed overflow.
    uint32_t value = 0;
    for (const char* p = string; p && *p >= '0' && *p <= '9'; ++p)
        value = value * 10u + (uint32_t)(*p - '0');
    return (int)value;
}

unsigned long long getTotalSystemMemory(void)
{
    const char* forced = getenv("QUORIN_TEST_FREE_MEMORY");
    if (forced && *forced)
        return strtoull(forced, nullptr, 10);
    long pages = sysconf(_SC_AVPHYS_PAGES);
    long pageSize = sysconf(_SC_PAGESIZE);
    if (pages < 0 || pageSize < 0)
        return 0;
    return (unsigned long long)pages * (unsigned long long)pageSize;
}

int ComputeMaxThread(DWORD cupsWidth, DWORD cupsHeight, unsigned long long freeMemory)
{
    DWORD referSize = cupsWidth * cupsHeight * 2u;
    DbgMsg("main::referSize = %d", (int)referSize);
    DbgMsg("getTotalSystemMemory = %d", (int)freeMemory);
    // A zero-sized first page says nothing about memory: take one page at a time.
    unsigned long long quotient = referSize ? (freeMemory >> 1) / referSize : 0;
    DbgMsg("gMAX_THREAD = %d", (int)quotient);
    int slots = quotient < 1 ? 1 : quotient > MAX_JOB_SLOTS ? MAX_JOB_SLOTS : (int)quotient;
    DbgMsg("gMAX_THREAD = %d", slots);
    return slots;
}

void ScanJobOptions(int num_options, cups_option_t* options, int* numUP, BOOL* bCollate)
{
    for (int i = 0; i < num_options; ++i) {
        if (strcasecmp(options[i].name, "number-up") == 0)
            *numUP = str2Int(options[i].value);
        if (strcasecmp(options[i].name, "Collate") == 0 && strcasecmp(options[i].value, "true") == 0)
            *bCollate = TRUE;
    }
    DbgMsg("numUP = %d", *numUP);
    DbgMsg("bCollate = %d", *bCollate);
}

BOOL DriverDoesCollate(BOOL bCollate, unsigned numCopies)
{
    BOOL b = (bCollate && numCopies >= 2) ? TRUE : FALSE;
    DbgMsg("bDriverDoCollate = %d", b);
    return b;
}
