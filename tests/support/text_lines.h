// Lines of captured output: split, picked by their start, counted.
#ifndef QUORIN_TEXT_LINES_H
#define QUORIN_TEXT_LINES_H

#include <string>
#include <vector>

// Lines of a text (without line ends).
std::vector<std::string> SplitLines(const std::string& text);

std::vector<std::string> LinesStartingWith(const std::string& text, const std::string& prefix);
int CountLinesStartingWith(const std::string& text, const std::string& prefix);
// What follows the prefix on each of those lines.
std::vector<std::string> LineTails(const std::string& text, const std::string& prefix);

// Places in text where `what` starts.
size_t Occurrences(const std::string& text, const std::string& what);

// Lines joined with line ends, for messages.
std::string Joined(const std::vector<std::string>& lines);

// The last n characters, for messages about long logs.
std::string Tail(const std::string& text, size_t n);

#endif
