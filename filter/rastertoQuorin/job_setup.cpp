#include "job_setup.h"

#include <algorithm>
#include <cstdlib>
#include <strings.h>
#include <unistd.h>

#include "job_info.h"

int str2Int(const char* string)
{
    // Wraps like the 32-bit accumulation it stands for, without signed overflow.
    uint32_t value = 0;
    for (const char* p = string; p && *p >= '0' && *p <= '9'; ++p)
        value = value * 10u + (uint32_t)(*p - '0');
    return (int)value;
}

namespace {
// -1 when the value says nothing about collation.
int CollateValue(const char* name, const char* value)
{
    if (strcasecmp(name, "Collate") == 0) {
        if (strcasecmp(value, "true") == 0)
            return 1;
        if (strcasecmp(value, "false") == 0)
            return 0;
    } else if (strcasecmp(name, "multiple-document-handling") == 0) {
        if (strcasecmp(value, "separate-documents-collated-copies") == 0)
            return 1;
        if (strcasecmp(value, "separate-documents-uncollated-copies") == 0)
            return 0;
    }
    return -1;
}
} // namespace

void ScanJobOptions(int num_options, cups_option_t* options, int* numUP, BOOL* bCollate, BOOL* bCollateGiven)
{
    // The driver's own option is the more specific request: it wins.
    int byCollate = -1, byHandling = -1;
    for (int i = 0; i < num_options; ++i) {
        if (strcasecmp(options[i].name, "number-up") == 0)
            *numUP = str2Int(options[i].value);
        int v = CollateValue(options[i].name, options[i].value);
        if (v >= 0)
            (strcasecmp(options[i].name, "Collate") == 0 ? byCollate : byHandling) = v;
    }
    int collate = byCollate >= 0 ? byCollate : byHandling;
    if (collate >= 0)
        *bCollate = collate ? TRUE : FALSE;
    if (bCollateGiven)
        *bCollateGiven = collate >= 0 ? TRUE : FALSE;
    DbgMsg("numUP = %d", *numUP);
    DbgMsg("bCollate = %d", *bCollate);
}

BOOL DriverDoesCollate(BOOL bCollate, unsigned numCopies)
{
    BOOL b = (bCollate && numCopies >= 2) ? TRUE : FALSE;
    DbgMsg("bDriverDoCollate = %d", b);
    return b;
}

DWORD JobCopies(unsigned headerCopies, const char* argvCopies)
{
    if (headerCopies > 1)
        return headerCopies;
    unsigned long long fromArgument = 0;
    for (const char* p = argvCopies; p && *p >= '0' && *p <= '9'; ++p)
        fromArgument = std::min(fromArgument * 10u + (unsigned)(*p - '0'), 0xFFFFFFFFull);
    return fromArgument > 1 ? (DWORD)fromArgument : 1;
}

BOOL PrinterResolution(const cups_page_header2_t* h)
{
    const unsigned x = h->HWResolution[0], y = h->HWResolution[1];
    return x == y && (x == 600 || x == 1200) ? TRUE : FALSE;
}

void NormalizeJobHeader(cups_page_header2_t* h)
{
    const unsigned kDefaultDensity = 3, kLightest = 6;
    unsigned density = h->cupsCompression;
    // 0 is unset; the screen takes values that do not fit a signed int as
    // unset too, and anything lighter than 6 as 6.
    if (density == 0 || density > 0x7FFFFFFFu)
        density = kDefaultDensity;
    else if (density > kLightest)
        density = kLightest;
    if (density != h->cupsCompression) {
        DbgMsg("main::density %u taken as %u", h->cupsCompression, density);
        h->cupsCompression = density;
    }
}
