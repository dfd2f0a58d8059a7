#include "decoded_job.h"

DecodedJob DecodeJob(const std::string& stream)
{
    DecodedJob job;
    ParseOptions opt;
    opt.onPage = [&job](const StreamPage& page, const uint8_t* bitmap) {
        DecodedPage p;
        p.info = page;
        p.bits.assign(bitmap, bitmap + (size_t)page.width / 8 * page.height);
        job.pages.push_back(std::move(p));
        return true;
    };
    job.ok = ParsePrinterStream(reinterpret_cast<const uint8_t*>(stream.data()), stream.size(), opt,
                                &job.report);
    return job;
}

int CountBars(const StreamPage& page, const uint8_t* bitmap, unsigned cupsWidth)
{
    const size_t stride = page.width / 8;
    const unsigned x0 = cupsWidth / 16, x1 = x0 + cupsWidth / 2;
    int bars = 0;
    bool inBar = false;
    for (unsigned y = 0; y < page.height; ++y) {
        bool full = true;
        for (unsigned x = x0; x < x1 && full; ++x)
            full = OneBitPixel(bitmap, stride, x, y);
        bars += full && !inBar;
        inBar = full;
    }
    return bars;
}

std::vector<int> PageOrder(const std::string& stream, unsigned cupsWidth, std::vector<std::string>* problems)
{
    std::vector<int> order;
    ParseOptions opt;
    opt.keepGoing = true;
    opt.onPage = [&](const StreamPage& pg, const uint8_t* bitmap) {
        order.push_back(CountBars(pg, bitmap, cupsWidth));
        return true;
    };
    StreamReport report;
    ParsePrinterStream(reinterpret_cast<const uint8_t*>(stream.data()), stream.size(), opt, &report);
    if (problems)
        *problems = report.problems;
    if (order.size() != report.pages.size())
        order.push_back(-1);
    return order;
}
