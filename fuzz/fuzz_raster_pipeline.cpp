// libFuzzer target: a raster stream from memory through the reader and the
// page steps of the pipeline (screen, negative, mirror, JBIG coding and the
// page record), band by band as the threads run them, on one thread.
#include <algorithm>
#include <cstdint>
#include <cstdlib>

#include "gray_bands.h"
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
    static BYTE gray[GRAY_BAND_BYTES];
    cups_page_header2_t h;
    for (int page = 0; page < kMaxPages && ReadRasterHeader(&in, ras, &h) == RASTER_HEADER_OK; ++page) {
        NormalizeJobHeader(&h);
        PagePlacement sheet = PlacePageOnSheet(&h);
        if ((unsigned long long)sheet.width * sheet.height > kMaxSheetPixels)
            break;
        InitJobSlot(&slot, (DWORD)page);
        slot.inras = ras;
        slot.inheader = h;
        PageReadError err;
        PageLineReader reader;
        if (!SetPageGeometry(&slot, &err))
            break;
        slot.linebyte = slot.page_width / 8;
        slot.lpbuf.store(static_cast<BYTE*>(malloc((size_t)slot.linebyte * slot.page_height)));
        if (!OpenPageLines(&slot, &reader, &err)) {
            free(slot.lpbuf.exchange(nullptr));
            break;
        }
        GrayBand band{BAND_LINES, &slot, 0, 0, gray, sizeof gray};
        const DWORD perBand = BandLines(slot.page_width);
        BOOL ok = TRUE;
        for (DWORD y = 0; ok && y < slot.page_height; y += perBand) {
            band.first = y;
            band.lines = std::min(perBand, slot.page_height - y);
            ok = ReadPageLines(&reader, gray, slot.page_width, band.lines, &err);
            band.kind = ok ? BAND_LINES : BAND_PAGE_DROPPED;
            ScreenBand(&band);
        }
        ClosePageLines(&reader);
        RunPageWorker(&slot);
        BYTE* record = slot.lpRecord;
        // A record always starts with its lead-in and fits its header's size.
        if (record && (record[0] != 0x1B || record[1] != 0x45 || slot.recordLen < PAGE_RECORD_PREFIX))
            abort();
        free(record);
        free(slot.lpbuf.exchange(nullptr));
        if (!ok)
            break;
    }
    cupsRasterClose(ras);
    return 0;
}
