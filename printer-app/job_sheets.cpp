#include "job_sheets.h"

#include <map>
#include <mutex>
#include <utility>

namespace {
using JobKey = std::pair<int, int>; // printer id, job id

// Never destroyed: PAPPL's client threads may ask until the process ends.
std::mutex& gLock = *new std::mutex;
std::map<JobKey, unsigned>& gSheets = *new std::map<JobKey, unsigned>;
// Far more than PAPPL keeps in its history.
const size_t kMaxJobs = 2000;

JobKey Key(pappl_job_t* job)
{
    return {papplPrinterGetID(papplJobGetPrinter(job)), papplJobGetID(job)};
}
} // namespace

void CountSide(pappl_job_t* job, unsigned page, unsigned copies, bool duplex)
{
    // The filter pairs sides 1-2, 3-4, ... of each copy of the document
    // onto one sheet; each copy of a side is printed on a sheet of its own.
    unsigned add = !duplex || page % 2 == 1 ? copies : 0;
    std::lock_guard<std::mutex> hold(gLock);
    gSheets[Key(job)] += add;
    while (gSheets.size() > kMaxJobs)
        gSheets.erase(gSheets.begin());
}

bool SheetsCompleted(pappl_job_t* job, unsigned* sheets)
{
    std::lock_guard<std::mutex> hold(gLock);
    auto it = gSheets.find(Key(job));
    if (it == gSheets.end())
        return false;
    *sheets = it->second;
    return true;
}
