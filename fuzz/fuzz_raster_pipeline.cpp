// libFuzzer target: a raster stream from memory through the reader and the
// page steps of the pipeline (screen, negative, mirror, JBIG coding and the
// page record), as the threads run them, one page after the other.
#include <cstdint>
#include <cstdlib>

#include "job_setup.h"
#include "job_status.h"
#include "page_pipeline.h"
#include "page_placement.h"
#include "page_record.h"
#include "printer_stream.h"
#include "raster_input.h"
#include "raster_reader.h"

namespace {
// Pages the reader would take but that only make a run slow.
const unsigned long long kMaxSheetPixels = 1ull << 22;
const int kMaxPages = 4;
} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    ResetJobStatus();
    RasterInput in;
    RasterInputFromMemory(&in, data, size);
    RasterOpenResult opened;
    cups_raster_t* ras = OpenRasterInput(&in, &opened);
    if (!ras)
        return 0;
    static JobInfo slot;
    cups_page_header2_t h;
    for (int page = 0; page < kMaxPages && ReadRasterHeader(&in, ras, &h) == RASTER_HEADER_OK; ++page) {
        NormalizeJobHeader(&h);
        PagePlacement sheet = PlacePageOnSheet(&h);
        if ((unsigned long long)sheet.width * sheet.height > kMaxSheetPixels)
            break;
        InitJobSlot(&slot, (DWORD)page);
        slot.inras = ras;
        slot.inheader = h;
        if (!GetCUPSPageData(&slot))
            break;
        slot.linebyteLeft = slot.page_width - h.cupsWidth;
        ProcessPageImage(&slot);
        DWORD len = 0;
        BYTE* record = PageIsOneBit(&slot) ? BuildPageRecord(&slot, &len) : nullptr;
        // A record always starts with its lead-in and fits its header's size.
        if (record && (record[0] != 0x1B || record[1] != 0x45 || len < PAGE_RECORD_PREFIX))
            abort();
        free(record);
        free(slot.lpbuf.exchange(nullptr));
    }
    cupsRasterClose(ras);
    return 0;
}
