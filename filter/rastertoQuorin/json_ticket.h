// JSON job ticket: a small file that names an authorisation code, a user,
// an account password, duplex settings and two addresses. Only '{', '}' and
// the double quote mean anything to the reader; see ParseJSONBuffer.
//
// The values are copied raw, exactly as the ticket spells them (control
// bytes, quotes and all): whoever puts one into printer text must clean it.
#ifndef QUORIN_JSON_TICKET_H
#define QUORIN_JSON_TICKET_H

#include <cstddef>

#include "velorin.h"

#define JSON_STR_COUNT 50  // strings kept from one ticket; later ones are ignored
#define JSON_STR_SIZE 128  // bytes per string and per output row, NUL included
#define JSON_KEY_COUNT 7   // rows filled in the output table

// Output rows, in table order.
enum JsonTicketRow {
    JSON_ROW_AUTHCODE = 0,
    JSON_ROW_USERNAME,
    JSON_ROW_ACCTPASS,
    JSON_ROW_DUPLEX,
    JSON_ROW_DUPLEXTYPE,
    JSON_ROW_NOTIFYURL,
    JSON_ROW_CHECKAUTHCODEURL,
};

// Reads the ticket file and fills the rows of outputJsonInfo (at least
// JSON_KEY_COUNT rows) whose keys occur; other rows are left alone. FALSE when
// the file cannot be read whole or holds no '}' after a '{'; the table is then
// untouched.
BOOL ParseJSON(char* szJsonFileName, char (*outputJsonInfo)[JSON_STR_SIZE]);

// The scan itself, over dataSize bytes that need not end in a NUL. Strings
// between quotes after the first '{' are taken in order up to the first '}';
// a string equal to a key (ignoring case) gives the next string as its value.
BOOL ParseJSONBuffer(const char* data, size_t dataSize, char (*outputJsonInfo)[JSON_STR_SIZE]);

#endif
