// Raster header fields as the integers the stream carried.
#ifndef QUORIN_HEADER_FIELDS_H
#define QUORIN_HEADER_FIELDS_H

#include <cstring>

// The enum-typed fields (Duplex, Tumble, Collate, cupsColorSpace, ...) may
// hold any 32-bit value in a stream; loading one as its enum type is
// undefined outside the enum's values, so they are read as integers. A
// non-zero cups_bool_t field is "on".
template <typename T>
inline unsigned HeaderValue(const T& field)
{
    static_assert(sizeof(T) == sizeof(unsigned), "a 32-bit header field");
    unsigned v;
    memcpy(&v, &field, sizeof v);
    return v;
}

#endif
