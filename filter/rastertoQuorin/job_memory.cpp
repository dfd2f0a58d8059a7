#include "job_memory.h"

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <sys/resource.h>
#include <unistd.h>

#include "gray_bands.h"
#include "job_info.h"
#include "test_seams.h"

namespace {
const unsigned long long kUnlimited = ~0ull;

std::atomic<unsigned long long> gBudget{kUnlimited};
std::atomic<unsigned long long> gAvailable{kUnlimited};
std::atomic<unsigned long long> gInFlight{0};

// First number in a file ("max" and unreadable files give kUnlimited).
unsigned long long ReadNumber(const std::string& path)
{
    FILE* f = fopen(path.c_str(), "re");
    if (!f)
        return kUnlimited;
    unsigned long long v = kUnlimited;
    if (fscanf(f, "%llu", &v) != 1)
        v = kUnlimited;
    fclose(f);
    return v;
}

// A named counter of a memory.stat file; 0 when absent.
unsigned long long ReadStat(const std::string& path, const char* key)
{
    FILE* f = fopen(path.c_str(), "re");
    if (!f)
        return 0;
    char name[64];
    unsigned long long v = 0, found = 0;
    while (fscanf(f, "%63s %llu", name, &v) == 2)
        if (strcmp(name, key) == 0)
            found = v;
    fclose(f);
    return found;
}

// Room in one cgroup directory and all its parents up to root.
unsigned long long Headroom(const std::string& root, std::string path, bool v2)
{
    const char* limitFile = v2 ? "/memory.max" : "/memory.limit_in_bytes";
    const char* usageFile = v2 ? "/memory.current" : "/memory.usage_in_bytes";
    const char* dropKey = v2 ? "inactive_file" : "total_inactive_file";
    unsigned long long room = kUnlimited;
    for (;;) {
        std::string dir = root + path;
        unsigned long long limit = ReadNumber(dir + limitFile);
        // v1 writes "no limit" as a huge page-aligned number.
        if (limit != kUnlimited && limit < (1ull << 60)) {
            unsigned long long used = ReadNumber(dir + usageFile);
            if (used == kUnlimited)
                used = 0;
            unsigned long long droppable = ReadStat(dir + "/memory.stat", dropKey);
            used = used > droppable ? used - droppable : 0;
            room = std::min(room, limit > used ? limit - used : 0);
        }
        if (path.empty() || path == "/")
            break;
        size_t slash = path.find_last_of('/');
        path = slash == std::string::npos || slash == 0 ? std::string() : path.substr(0, slash);
    }
    return room;
}

// What the process has mapped now: its whole address space and its data.
void MappedNow(unsigned long long* total, unsigned long long* data)
{
    *total = 0;
    *data = 0;
    FILE* f = fopen("/proc/self/statm", "re");
    if (!f)
        return;
    unsigned long long size = 0, rss, shared, text, lib, dat = 0;
    if (fscanf(f, "%llu %llu %llu %llu %llu %llu", &size, &rss, &shared, &text, &lib, &dat) == 6) {
        unsigned long long page = (unsigned long long)sysconf(_SC_PAGESIZE);
        *total = size * page;
        *data = dat * page;
    }
    fclose(f);
}

unsigned long long RlimitRoom(int resource, unsigned long long used)
{
    struct rlimit rl;
    if (getrlimit(resource, &rl) != 0 || rl.rlim_cur == RLIM_INFINITY)
        return kUnlimited;
    return rl.rlim_cur > used ? rl.rlim_cur - used : 0;
}
} // namespace

unsigned long long getTotalSystemMemory(void)
{
    unsigned long long forced;
    if (TestFreeMemory(&forced))
        return forced;
    long pages = sysconf(_SC_AVPHYS_PAGES);
    long pageSize = sysconf(_SC_PAGESIZE);
    if (pages < 0 || pageSize < 0)
        return 0;
    return (unsigned long long)pages * (unsigned long long)pageSize;
}

unsigned long long CgroupMemoryHeadroom(const char* procCgroup, const char* cgroupRoot)
{
    FILE* f = fopen(procCgroup, "re");
    if (!f)
        return kUnlimited;
    std::string root = cgroupRoot;
    unsigned long long room = kUnlimited;
    char line[4096];
    while (fgets(line, sizeof line, f)) {
        line[strcspn(line, "\n")] = '\0';
        // "id:controllers:path"; v2 has id 0 and no controllers.
        char* c1 = strchr(line, ':');
        char* c2 = c1 ? strchr(c1 + 1, ':') : nullptr;
        if (!c2)
            continue;
        std::string controllers(c1 + 1, c2);
        std::string path = c2 + 1;
        if (controllers.empty()) {
            room = std::min(room, Headroom(root, path, true));
            room = std::min(room, Headroom(root + "/unified", path, true));
        } else if (("," + controllers + ",").find(",memory,") != std::string::npos) {
            room = std::min(room, Headroom(root + "/memory", path, false));
        }
    }
    fclose(f);
    return room;
}

unsigned long long ProcessMemoryHeadroom(void)
{
    unsigned long long total, data;
    MappedNow(&total, &data);
    unsigned long long room = std::min(RlimitRoom(RLIMIT_AS, total), RlimitRoom(RLIMIT_DATA, data));
    return std::min(room, CgroupMemoryHeadroom("/proc/self/cgroup", "/sys/fs/cgroup"));
}

unsigned long long AvailableJobMemory(void)
{
    unsigned long long freeMemory = getTotalSystemMemory();
    unsigned long long headroom = ProcessMemoryHeadroom();
    DbgMsg("getTotalSystemMemory = %llu", freeMemory);
    if (headroom != kUnlimited)
        DbgMsg("main::memory left within the process's limits = %llu", headroom);
    return std::min(freeMemory, headroom);
}

int ComputeMaxThread(DWORD cupsWidth, DWORD cupsHeight, unsigned long long freeMemory)
{
    unsigned long long referSize = PageReckoning(cupsWidth, cupsHeight);
    DbgMsg("main::referSize = %llu", referSize);
    // A zero-sized first page says nothing about memory: take one page at a time.
    unsigned long long quotient = referSize && cupsWidth && cupsHeight ? (freeMemory >> 1) / referSize : 0;
    DbgMsg("gMAX_THREAD = %llu", quotient);
    int slots = quotient < 1 ? 1 : quotient > MAX_JOB_SLOTS ? MAX_JOB_SLOTS : (int)quotient;
    DbgMsg("gMAX_THREAD = %d", slots);
    return slots;
}

int PagesInFlight(void)
{
    return PAGES_IN_FLIGHT;
}

unsigned long long PageReckoning(DWORD pageWidth, DWORD pageHeight)
{
    return ((unsigned long long)pageWidth + 7) / 8 * pageHeight * 2u + GrayRingBytes(pageWidth, pageHeight);
}

void SetPageBudget(unsigned long long available)
{
    unsigned long long bytes = available / 2;
    DbgMsg("main::memory budget of the pages in flight = %llu", bytes);
    gBudget.store(bytes, std::memory_order_release);
    gAvailable.store(available, std::memory_order_release);
}

BOOL PageFitsAlone(unsigned long long bytes)
{
    return bytes <= gAvailable.load(std::memory_order_acquire) ? TRUE : FALSE;
}

BOOL PageFitsBudget(unsigned long long bytes)
{
    unsigned long long inFlight = gInFlight.load(std::memory_order_acquire);
    unsigned long long budget = gBudget.load(std::memory_order_acquire);
    return (inFlight == 0 || (bytes <= budget && inFlight <= budget - bytes)) ? TRUE : FALSE;
}

void ReservePageBytes(unsigned long long bytes)
{
    gInFlight.fetch_add(bytes, std::memory_order_acq_rel);
}

void ReleasePageBytes(unsigned long long bytes)
{
    gInFlight.fetch_sub(bytes, std::memory_order_acq_rel);
}

unsigned long long PageBytesInFlight(void)
{
    return gInFlight.load(std::memory_order_acquire);
}
