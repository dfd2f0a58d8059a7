#include "media_tables.h"

#include <cmath>
#include <cstring>
#include <cups/cups.h>

#include "page_record.h"

// In the order the web interface lists them; A4 is the default.
const AppPaperSize kPaperSizes[] = {
    {"iso_a4_210x297mm", ENG_ISO_A4},       {"na_letter_8.5x11in", ENG_LETTER},
    {"na_legal_8.5x14in", ENG_LEGAL},       {"na_ledger_11x17in", ENG_DLT},
    {"iso_a3_297x420mm", ENG_ISO_A3},       {"iso_a5_148x210mm", ENG_ISO_A5},
    {"iso_a6_105x148mm", ENG_ISO_A6},       {"jis_b4_257x364mm", ENG_JIS_B4},
    {"jis_b5_182x257mm", ENG_JIS_B5},       {"jis_b6_128x182mm", ENG_JIS_B6},
    {"na_foolscap_8.5x13in", ENG_FOOLSCAP}, {"jpn_hagaki_100x148mm", ENG_POSTCARD},
    {"na_invoice_5.5x8.5in", ENG_ST_LEF},   {"om_8k_267x390mm", ENG_8K},
    {"om_16k_195x267mm", ENG_16K},
};
const size_t kPaperSizeCount = sizeof kPaperSizes / sizeof kPaperSizes[0];

// cupsMediaType is the position of the code in the filter's media table.
const AppMediaType kMediaTypes[] = {
    {"stationery", ENG_MEDIA_PLAIN},
    {"cardstock", ENG_MEDIA_CARDSTOCK},
    {"stationery-heavyweight", ENG_MEDIA_THICK},
    {"laser", ENG_MEDIA_LASER},
    {"bond", ENG_MEDIA_BOND},
    {"transparency", ENG_MEDIA_TRANSPARENCY},
    {"stationery-lightweight", ENG_MEDIA_THIN},
    {"envelope", ENG_MEDIA_ENVELOPE},
    {"postcard", ENG_MEDIA_POSTCARD},
    {"auto", ENG_MEDIA_AUTO},
};
const size_t kMediaTypeCount = sizeof kMediaTypes / sizeof kMediaTypes[0];

bool PaperPoints(const char* pwgName, unsigned points[2])
{
    for (const AppPaperSize& size : kPaperSizes) {
        if (strcmp(size.pwgName, pwgName) != 0)
            continue;
        for (const PAPERFORMAT& f : PaperFormat)
            if (f.paper_type == size.paperCode) {
                points[0] = (unsigned)f.w;
                points[1] = (unsigned)f.h;
                return true;
            }
    }
    pwg_media_t* pwg = pwgMediaForPWG(pwgName);
    if (!pwg)
        return false;
    points[0] = (unsigned)lround(pwg->width * 72.0 / 2540.0);
    points[1] = (unsigned)lround(pwg->length * 72.0 / 2540.0);
    return true;
}

namespace {
bool Near(unsigned pixels, unsigned points, unsigned dpi)
{
    long expected = lround(points * (double)dpi / 72.0);
    return labs((long)pixels - expected) <= expected / 100 + 2;
}
} // namespace

bool PaperForPixels(unsigned width, unsigned height, unsigned dpi, unsigned points[2])
{
    for (const AppPaperSize& size : kPaperSizes) {
        unsigned p[2];
        if (dpi && PaperPoints(size.pwgName, p) && Near(width, p[0], dpi) && Near(height, p[1], dpi)) {
            points[0] = p[0];
            points[1] = p[1];
            return true;
        }
    }
    return false;
}

unsigned MediaTypeIndex(const char* keyword)
{
    short code = ENG_MEDIA_PLAIN;
    for (const AppMediaType& type : kMediaTypes)
        if (keyword && strcmp(type.keyword, keyword) == 0)
            code = type.mediaCode;
    for (unsigned i = 0; i < MEDIA_TYPE_COUNT; ++i)
        if (MediaType[i] == code)
            return i;
    return 0;
}

unsigned MediaPositionFor(const char* source)
{
    return source && strcmp(source, "tray-1") == 0 ? 1 : 250;
}
