// Writes a decoded one-bit page (rows of width/8 bytes, MSB leftmost, 1 =
// black) as PBM or PNG, so a person can see what the printer would print.
#ifndef VLGDI_PAGE_FILES_H
#define VLGDI_PAGE_FILES_H

#include <cstdint>
#include <string>

bool WritePbmPage(const std::string& path, uint32_t width, uint32_t height, const uint8_t* bitmap,
                  std::string* why);
bool WritePngPage(const std::string& path, uint32_t width, uint32_t height, const uint8_t* bitmap,
                  std::string* why);

#endif
