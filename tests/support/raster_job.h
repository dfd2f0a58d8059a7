// Raster jobs for the filter: numbered test pages written as the raster step
// would write them, and the filter run on them.
#ifndef QUORIN_RASTER_JOB_H
#define QUORIN_RASTER_JOB_H

#include <string>
#include <vector>

#include "filter_process.h"
#include "test_pages.h"

// Pages 1..count, each carrying its number as bars, with the header's settings.
std::vector<TestPage> NumberedPages(const cups_page_header2_t& h, unsigned count);

// Writes the pages to dir/job.ras; the path.
std::string WriteRasterJob(const std::string& dir, const std::vector<TestPage>& pages);

// The filter on the pages, written in a fresh folder named after tag.
ProcessResult RunFilterOnPages(const std::string& tag, const std::vector<TestPage>& pages,
                               const std::vector<std::string>& env = {});

#endif
