#include "filter_messages.h"

#include <cstdio>
#include <cstring>

namespace {
bool StripPrefix(const std::string& line, const char* prefix, std::string* text)
{
    size_t n = strlen(prefix);
    if (line.compare(0, n, prefix) != 0)
        return false;
    size_t start = line.find_first_not_of(' ', n);
    *text = start == std::string::npos ? std::string() : line.substr(start);
    return true;
}
} // namespace

FilterLineKind ReadFilterLine(const std::string& line, FilterReport* report, std::string* text)
{
    if (StripPrefix(line, "PAGE:", text)) {
        // "PAGE: n c": side n, printed c times.
        unsigned side = 0, copies = 0;
        char rest = 0;
        if (sscanf(text->c_str(), "%u %u %c", &side, &copies, &rest) == 2) {
            report->impressions += copies;
            report->side = side;
            report->copies = copies;
        }
        return FILTER_LINE_PAGE;
    }
    if (StripPrefix(line, "ERROR:", text)) {
        if (report->error.empty())
            report->error = *text;
        return FILTER_LINE_ERROR;
    }
    if (StripPrefix(line, "INFO:", text))
        return FILTER_LINE_INFO;
    if (StripPrefix(line, "DEBUG:", text))
        return FILTER_LINE_DEBUG;
    *text = line;
    return FILTER_LINE_OTHER;
}
