// libFuzzer target: the ticket scan over arbitrary bytes. The input buffer
// has no NUL after it and the output table has exactly the seven rows, so
// AddressSanitizer sees any read or write past either.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "json_ticket.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    auto* rows = new char[JSON_KEY_COUNT][JSON_STR_SIZE];
    memset(rows, 0x7F, sizeof(char[JSON_KEY_COUNT][JSON_STR_SIZE]));
    BOOL rc = ParseJSONBuffer(reinterpret_cast<const char*>(data), size, rows);
    for (int r = 0; r < JSON_KEY_COUNT; ++r) {
        bool untouched = true;
        for (int b = 0; b < JSON_STR_SIZE; ++b)
            untouched = untouched && rows[r][b] == 0x7F;
        // A failed scan writes nothing; a written row always ends in a NUL.
        if (!rc && !untouched)
            abort();
        if (!untouched && memchr(rows[r], 0, JSON_STR_SIZE) == nullptr)
            abort();
    }
    delete[] rows;
    return 0;
}
