// The PJL frame of a captured printer stream: cancel prefix, job header
// settings and trailer.
#ifndef QUORIN_PJL_FRAME_H
#define QUORIN_PJL_FRAME_H

#include <string>

// Printer reset and UEL that open every job.
bool StartsWithCancelPrefix(const std::string& stream);

// The value of "@PJL SET name=value" in the job header, up to the first
// "@PJL ENTER LANGUAGE=VLGDI"; empty when the header lacks it.
std::string PjlSetting(const std::string& stream, const std::string& name);

// True when the header switches the printer to VLGDI.
bool EntersVlgdi(const std::string& stream);

// True when the stream ends with the end-of-job block and a UEL.
bool EndsWithTrailer(const std::string& stream);

#endif
