#include "test_seams.h"

#ifdef QUORIN_TEST_SEAMS
#include <cstdlib>
#include <unistd.h>

BOOL TestFreeMemory(unsigned long long* bytes)
{
    const char* forced = getenv("QUORIN_TEST_FREE_MEMORY");
    if (!forced || !*forced)
        return FALSE;
    *bytes = strtoull(forced, nullptr, 10);
    return TRUE;
}

void TestHoldPage(DWORD pageNumber)
{
    static const long held = [] {
        const char* s = getenv("QUORIN_TEST_HOLD_PAGE");
        return s ? strtol(s, nullptr, 10) : 0L;
    }();
    if (held > 0 && (DWORD)held == pageNumber)
        sleep(1);
}
#else
BOOL TestFreeMemory(unsigned long long*)
{
    return FALSE;
}

void TestHoldPage(DWORD)
{
}
#endif
