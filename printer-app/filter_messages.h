// The lines the filter writes on standard error, as the scheduler reads them.
#ifndef QUORIN_APP_FILTER_MESSAGES_H
#define QUORIN_APP_FILTER_MESSAGES_H

#include <string>

enum FilterLineKind { FILTER_LINE_PAGE, FILTER_LINE_ERROR, FILTER_LINE_INFO, FILTER_LINE_DEBUG, FILTER_LINE_OTHER };

struct FilterReport {
    unsigned impressions = 0; // sides the printer prints, copies included
    unsigned side = 0, copies = 0; // the last PAGE: line's
    std::string error;        // the first ERROR: sentence
};

// Reads one line (without its newline) into the report. *text receives the
// line without its prefix.
FilterLineKind ReadFilterLine(const std::string& line, FilterReport* report, std::string* text);

#endif
