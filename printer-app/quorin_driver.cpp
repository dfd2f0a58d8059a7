#include "quorin_driver.h"

#include <cstring>
#include <string>

#include "document_formats.h"
#include "job_settings.h"
#include "media_tables.h"
#include "raster_bridge.h"

namespace {
const char kDeviceId[] = "MFG:Velorin;MDL:Quorin Series;CMD:PJL,VLGDI;";
// Nominal: clients only show it; the engine's rated speed is not known here.
const int kPagesPerMinute = 20;

void SetMedia(pappl_media_col_t* col, const char* sizeName, const char* source)
{
    pwg_media_t* pwg = pwgMediaForPWG(sizeName);
    memset(col, 0, sizeof *col);
    papplCopyString(col->size_name, sizeName, sizeof col->size_name);
    papplCopyString(col->source, source, sizeof col->source);
    papplCopyString(col->type, kMediaTypes[0].keyword, sizeof col->type);
    col->size_width = pwg ? pwg->width : 0;
    col->size_length = pwg ? pwg->length : 0;
    col->bottom_margin = col->left_margin = col->right_margin = col->top_margin = kMarginHmm;
}

// The engine has no panel or buzzer: the request goes to the log, where the
// web interface shows it.
void Identify(pappl_printer_t* printer, pappl_identify_actions_t, const char* message)
{
    papplLogPrinter(printer, PAPPL_LOGLEVEL_INFO, "Identify-Printer: %s", message ? message : "");
}

// Every document goes through the app's filters; PAPPL would send a
// document of the driver's own format to the printer as it is.
bool RefuseRawDocument(pappl_job_t* job, pappl_pr_options_t*, pappl_device_t*)
{
    papplJobSetMessage(job, "The document is in none of the formats the printer prints.");
    return false;
}

// IPP attributes PAPPL does not make from the driver data.
ipp_t* DriverAttributes(void)
{
    ipp_t* attrs = ippNew();
    for (const char* name : {kTonerSaveAttr, kNegativeAttr, kMirrorAttr}) {
        std::string base(name);
        ippAddBoolean(attrs, IPP_TAG_PRINTER, (base + "-default").c_str(), 0);
        ippAddBoolean(attrs, IPP_TAG_PRINTER, (base + "-supported").c_str(), 1);
    }
    ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-default", nullptr, "auto");
    ippAddString(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "print-rendering-intent-supported", nullptr, "auto");
    static const char* const overrides[] = {"document-number", "pages"};
    ippAddStrings(attrs, IPP_TAG_PRINTER, IPP_TAG_KEYWORD, "overrides-supported", 2, nullptr, overrides);
    ippAddBoolean(attrs, IPP_TAG_PRINTER, "preferred-attributes-supported", 0);
    return attrs;
}
} // namespace

pappl_pr_driver_t kQuorinDrivers[] = {
    {"quorin", "Velorin Quorin Series", kDeviceId, nullptr},
};
const int kQuorinDriverCount = 1;

bool QuorinDriver(pappl_system_t*, const char* driverName, const char*, const char*, pappl_pr_driver_data_t* d,
                  ipp_t** attrs, void*)
{
    if (strcmp(driverName, kQuorinDrivers[0].name) != 0)
        return false;
    d->identify_cb = Identify;
    // The format of the app's filters' output: PAPPL picks them over its own.
    d->format = kDriverFormat;
    d->printfile_cb = RefuseRawDocument;
    d->rstartjob_cb = BridgeStartJob;
    d->rstartpage_cb = BridgeStartPage;
    d->rwriteline_cb = BridgeWriteLine;
    d->rendpage_cb = BridgeEndPage;
    d->rendjob_cb = BridgeEndJob;

    papplCopyString(d->make_and_model, kQuorinDrivers[0].description, sizeof d->make_and_model);
    d->ppm = kPagesPerMinute;
    d->kind = PAPPL_KIND_DOCUMENT | PAPPL_KIND_ENVELOPE | PAPPL_KIND_POSTCARD;
    d->has_supplies = true;
    d->orient_default = IPP_ORIENT_PORTRAIT;
    d->identify_default = d->identify_supported = PAPPL_IDENTIFY_ACTIONS_DISPLAY;

    // Gray pages in; the filter screens them itself.
    d->color_supported = d->color_default = PAPPL_COLOR_MODE_MONOCHROME;
    d->raster_types = PAPPL_PWG_RASTER_TYPE_SGRAY_8;
    d->content_default = PAPPL_CONTENT_AUTO;
    d->quality_default = IPP_QUALITY_NORMAL;
    d->scaling_default = PAPPL_SCALING_AUTO;
    d->num_resolution = 1;
    d->x_resolution[0] = d->y_resolution[0] = 600;
    d->x_default = d->y_default = 600;

    // The filter orders each sheet's two sides; back sides are not turned.
    d->duplex = PAPPL_DUPLEX_NORMAL;
    d->sides_supported = PAPPL_SIDES_ONE_SIDED | PAPPL_SIDES_TWO_SIDED_LONG_EDGE | PAPPL_SIDES_TWO_SIDED_SHORT_EDGE;
    d->sides_default = PAPPL_SIDES_ONE_SIDED;

    d->left_right = d->bottom_top = kMarginHmm;
    d->num_media = (int)kPaperSizeCount;
    for (size_t i = 0; i < kPaperSizeCount; ++i)
        d->media[i] = kPaperSizes[i].pwgName;
    d->num_type = (int)kMediaTypeCount;
    for (size_t i = 0; i < kMediaTypeCount; ++i)
        d->type[i] = kMediaTypes[i].keyword;
    // PAPPL offers "auto" besides.
    d->num_source = 1;
    d->source[0] = "tray-1";
    SetMedia(&d->media_ready[0], kPaperSizes[0].pwgName, d->source[0]);
    SetMedia(&d->media_default, kPaperSizes[0].pwgName, "auto");

    // Six steps of print darkness, one per density (see job_settings.h).
    d->darkness_supported = kDensityLevels;
    d->darkness_configured = kDarknessConfigured;
    d->darkness_default = 0;

    d->num_vendor = 3;
    d->vendor[0] = kTonerSaveAttr;
    d->vendor[1] = kNegativeAttr;
    d->vendor[2] = kMirrorAttr;
    *attrs = DriverAttributes();
    return true;
}

const char* QuorinAutoAdd(const char*, const char*, const char* deviceId, void*)
{
    cups_option_t* pairs = nullptr;
    int n = papplDeviceParseID(deviceId, &pairs);
    const char* mfg = cupsGetOption("MFG", n, pairs);
    if (!mfg)
        mfg = cupsGetOption("MANUFACTURER", n, pairs);
    const char* cmd = cupsGetOption("CMD", n, pairs);
    if (!cmd)
        cmd = cupsGetOption("COMMAND SET", n, pairs);
    bool ours = mfg && strcmp(mfg, "Velorin") == 0 && cmd && strstr(cmd, "VLGDI");
    cupsFreeOptions(n, pairs);
    return ours ? kQuorinDrivers[0].name : nullptr;
}

void QuorinPrinterCreated(pappl_printer_t* printer, void*)
{
    // The printer does not report its toner; IPP clients still expect the supply.
    pappl_supply_t toner;
    memset(&toner, 0, sizeof toner);
    toner.color = PAPPL_SUPPLY_COLOR_BLACK;
    papplCopyString(toner.description, "Black Toner", sizeof toner.description);
    toner.is_consumed = true;
    toner.level = -1;
    toner.type = PAPPL_SUPPLY_TYPE_TONER_CARTRIDGE;
    papplPrinterSetSupplies(printer, 1, &toner);
}

namespace {
// One strings file per language PAPPL ships, for want of translations the
// same words in each: better than the attributes' keywords.
const char kSettingNames[] = "\"toner-save\" = \"Toner saving\";\n"
                             "\"negative-print\" = \"Negative printing\";\n"
                             "\"mirror-print\" = \"Mirror printing\";\n";
const char* const kLanguages[] = {"de", "en", "es", "fr", "it", "ja", "nb-NO", "pl", "tr"};

void PutDarknessOnStep(pappl_printer_t* printer, void*)
{
    pappl_pr_driver_data_t data;
    papplPrinterGetDriverData(printer, &data);
    int step = DarknessOnStep(data.darkness_configured);
    if (step == data.darkness_configured)
        return;
    data.darkness_configured = step;
    papplPrinterSetDriverDefaults(printer, &data, 0, nullptr);
}
} // namespace

void AddSettingNames(pappl_system_t* system)
{
    for (const char* language : kLanguages) {
        std::string path = std::string("/quorin-") + language + ".strings";
        papplSystemAddStringsData(system, path.c_str(), language, kSettingNames);
        // The words stay with the language. PAPPL would add one more
        // printer-strings-languages-supported to the printer's attributes on
        // every request while a strings file is among its resources.
        papplSystemRemoveResource(system, path.c_str());
    }
}

void KeepSettingsOnSteps(pappl_system_t* system)
{
    papplSystemIteratePrinters(system, PutDarknessOnStep, nullptr);
}
