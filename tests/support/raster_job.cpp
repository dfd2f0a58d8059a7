#include "raster_job.h"

#include <gtest/gtest.h>

#include "files.h"

std::vector<TestPage> NumberedPages(const cups_page_header2_t& h, unsigned count)
{
    std::vector<TestPage> pages;
    for (unsigned k = 1; k <= count; ++k)
        pages.push_back(MakeNumberedPage(h, k));
    return pages;
}

std::string WriteRasterJob(const std::string& dir, const std::vector<TestPage>& pages)
{
    std::string path = dir + "/job.ras";
    EXPECT_TRUE(WriteRasterFile(path, pages)) << path;
    return path;
}

ProcessResult RunFilterOnPages(const std::string& tag, const std::vector<TestPage>& pages,
                               const std::vector<std::string>& env)
{
    return RunFilterOnFile(WriteRasterJob(MakeTempDir(tag), pages), "", env);
}
