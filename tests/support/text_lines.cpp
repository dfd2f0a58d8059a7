#include "text_lines.h"

std::vector<std::string> SplitLines(const std::string& text)
{
    std::vector<std::string> lines;
    size_t start = 0;
    while (start < text.size()) {
        size_t end = text.find('\n', start);
        if (end == std::string::npos)
            end = text.size();
        lines.push_back(text.substr(start, end - start));
        start = end + 1;
    }
    return lines;
}

std::vector<std::string> LinesStartingWith(const std::string& text, const std::string& prefix)
{
    std::vector<std::string> found;
    for (const std::string& line : SplitLines(text))
        if (line.rfind(prefix, 0) == 0)
            found.push_back(line);
    return found;
}

int CountLinesStartingWith(const std::string& text, const std::string& prefix)
{
    return (int)LinesStartingWith(text, prefix).size();
}

std::vector<std::string> LineTails(const std::string& text, const std::string& prefix)
{
    std::vector<std::string> tails;
    for (const std::string& line : LinesStartingWith(text, prefix))
        tails.push_back(line.substr(prefix.size()));
    return tails;
}

size_t Occurrences(const std::string& text, const std::string& what)
{
    size_t n = 0;
    for (size_t at = text.find(what); at != std::string::npos; at = text.find(what, at + 1))
        ++n;
    return n;
}

std::string Joined(const std::vector<std::string>& lines)
{
    std::string all;
    for (const std::string& l : lines)
        all += l + "\n";
    return all;
}

std::string Tail(const std::string& text, size_t n)
{
    return text.size() > n ? text.substr(text.size() - n) : text;
}
