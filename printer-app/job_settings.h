// What a print job asks of the printer, and the CUPS raster page header that
// carries it to the filter in the fields the printer description sets.
#ifndef QUORIN_APP_JOB_SETTINGS_H
#define QUORIN_APP_JOB_SETTINGS_H

#include <pappl/pappl.h>

// The printer's own settings, offered as IPP attributes (boolean).
extern const char* const kTonerSaveAttr;
extern const char* const kNegativeAttr;
extern const char* const kMirrorAttr;

// Darkness as a printer keeps it (0-100): six steps of 20, one per density
// (100 the darkest, 1; 0 the lightest, 6), 60 the printer description's
// default density 3.
const int kDarknessConfigured = 60;
const int kDensityLevels = 6;

struct JobSettings {
    unsigned density = 3;         // 1 darkest to 6 lightest
    bool tonerSave = false;
    bool negative = false;
    bool mirror = false;
    unsigned mediaType = 0;       // cupsMediaType
    unsigned mediaPosition = 250; // 250: the printer picks the tray
    bool duplex = false;
    bool tumble = false;
    unsigned copies = 1;
    bool collate = false;         // the filter makes the collated copies
    bool photo = false;           // 8-bit gray pages, cupsInteger[3] 1: no edge reinforcement
    unsigned pageSize[2] = {595, 842}; // the job's media, in points
    unsigned resolution = 600;
};

// The density the six-step print darkness gives: the printer's configured
// darkness (0-100) moved by the job's print-darkness (-100 to 100).
unsigned DensityForDarkness(int configured, int requested);

// The step a configured darkness stands for, as the printer prints it.
int DarknessOnStep(int configured);

// documentHandling: the job's multiple-document-handling, NULL for the
// default (collated copies). printerDefaults: the printer's "<name>-default"
// attributes, for the printer's own settings the job does not name (PAPPL
// passes only the job's); may be NULL.
JobSettings SettingsForJob(const pappl_pr_options_t* options, const char* documentHandling,
                           ipp_t* printerDefaults);

// The header of a page of width x height pixels as the filter is to read it.
void FilterPageHeader(const JobSettings& settings, unsigned width, unsigned height, cups_page_header2_t* header);

// The filter's option argument.
const char* FilterOptionString(const JobSettings& settings);

#endif
