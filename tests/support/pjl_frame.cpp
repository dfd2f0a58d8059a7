#include "pjl_frame.h"

namespace {
const std::string kUel = "\x1b%-12345X";
const std::string kEnter = "@PJL ENTER LANGUAGE=VLGDI\r\n";

// The header block: from the start to the language switch.
std::string HeaderBlock(const std::string& stream)
{
    size_t end = stream.find(kEnter);
    return end == std::string::npos ? std::string() : stream.substr(0, end);
}
} // namespace

bool StartsWithCancelPrefix(const std::string& stream)
{
    return stream.compare(0, 2 + kUel.size(), "\x1b" "E" + kUel) == 0;
}

std::string PjlSetting(const std::string& stream, const std::string& name)
{
    std::string header = HeaderBlock(stream);
    std::string key = "\r\n@PJL SET " + name + "=";
    size_t at = header.find(key);
    if (at == std::string::npos)
        return "";
    at += key.size();
    return header.substr(at, header.find("\r\n", at) - at);
}

bool EntersVlgdi(const std::string& stream)
{
    return stream.find(kEnter) != std::string::npos;
}

bool EndsWithTrailer(const std::string& stream)
{
    const std::string tail = "@PJL               EOJ\r\n" + kUel;
    return stream.size() >= tail.size() && stream.compare(stream.size() - tail.size(), tail.size(), tail) == 0;
}
