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

int CountBars(const DecodedPage& page, unsigned cupsWidth, unsigned cupsHeight)
{
    unsigned x0 = cupsWidth / 16, x1 = x0 + cupsWidth / 2;
    int bars = 0;
    bool inBar = false;
    for (unsigned y = 0; y < cupsHeight && y < page.info.height; ++y) {
        bool full = true;
        for (unsigned x = x0; x < x1 && full; ++x)
            full = page.Black(x, y);
        if (full && !inBar)
            ++bars;
        inBar = full;
    }
    return bars;
}
