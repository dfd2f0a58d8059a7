#include "json_ticket.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace {
const char* const kJsonKeys[JSON_KEY_COUNT] = {
    "AUTHCODE", "USERNAME", "ACCTPASS", "DUPLEX", "DUPLEXTYPE", "NOTIFYURL", "CHECKAUTHCODEURL",
};

// A ticket is a few short strings. The cap keeps a wrong path (a directory
// reports a size of 2^63 - 1) or a huge file from taking the memory, and the
// per-character trace from flooding the log.
const long kMaxTicketSize = 1L << 20;

// ASCII only: the keys are plain letters and the filter's locale must not
// change what matches.
bool EqualsIgnoringCase(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        unsigned char ca = (unsigned char)*a, cb = (unsigned char)*b;
        if (ca >= 'a' && ca <= 'z')
            ca = (unsigned char)(ca - 'a' + 'A');
        if (cb >= 'a' && cb <= 'z')
            cb = (unsigned char)(cb - 'a' + 'A');
        if (ca != cb)
            return false;
        if (ca == 0)
            return true;
    }
}

BOOL Out(DWORD tick, BOOL rc)
{
    DbgMsg("ParseJSON Out, Tick = %d, rc = %d", (int)(DWORD)(GetTickCount() - tick), (int)rc);
    return rc;
}
} // namespace

BOOL ParseJSONBuffer(const char* data, size_t dataSize, char (*outputJsonInfo)[JSON_STR_SIZE])
{
    if (!outputJsonInfo || (!data && dataSize))
        return FALSE;

    static_assert(JSON_STR_SIZE >= 2, "room for one character and its NUL");
    char jsonStr[JSON_STR_COUNT][JSON_STR_SIZE];
    memset(jsonStr, 0, sizeof jsonStr);

    bool started = false;
    bool ended = false;
    unsigned quotes = 0;
    int k = 0;
    size_t ignored = 0;
    size_t i = 0;
    while (i < dataSize) {
        DbgMsg("i = %d", (int)i);
        const char c = data[i];
        if (c == '{') {
            DbgMsg("JSON_START");
            started = true;
        } else if (c == '}' && started) {
            DbgMsg("JSON_END");
            ended = true;
            break;
        } else if (c == '"' && started) {
            ++quotes;
            if (quotes & 1) {
                // No escapes: the string ends at the next quote, or with the
                // data when the quote is missing.
                size_t start = i + 1, end = start;
                while (end < dataSize && data[end] != '"')
                    ++end;
                if (k < JSON_STR_COUNT) {
                    size_t len = end - start;
                    if (len > JSON_STR_SIZE - 1)
                        len = JSON_STR_SIZE - 1;
                    memcpy(jsonStr[k], data + start, len);
                    DbgMsg("jsonStr[%d] = %s", k, jsonStr[k]);
                    ++k;
                } else if (ignored++ == 0) {
                    DbgMsg("ParseJSON::more than %d strings, the rest are ignored", JSON_STR_COUNT);
                }
                // The closing quote is looked at again and counts as even.
                i = end;
                continue;
            }
        }
        ++i;
    }
    if (!ended)
        return FALSE;

    for (int j = 0; j < k; ++j) {
        for (int key = 0; key < JSON_KEY_COUNT; ++key) {
            if (!EqualsIgnoringCase(jsonStr[j], kJsonKeys[key]))
                continue;
            const char* value = j + 1 < k ? jsonStr[j + 1] : "";
            memcpy(outputJsonInfo[key], value, strlen(value) + 1);
            DbgMsg("jsonStr[%d] = %s", j, jsonStr[j]);
        }
    }
    return TRUE;
}

BOOL ParseJSON(char* szJsonFileName, char (*outputJsonInfo)[JSON_STR_SIZE])
{
    DWORD tick = GetTickCount();
    DbgMsg("ParseJSON In, szJsonFileName = %s", szJsonFileName ? szJsonFileName : "(null)");
    errno = 0;
    FILE* fp = nullptr;
    if (!szJsonFileName || !outputJsonInfo)
        errno = EINVAL;
    else
        fp = fopen(szJsonFileName, "r");
    if (!fp) {
        int err = errno;
        DbgMsg("Open file failed, errno = %d, %s", err, strerror(err));
        return Out(tick, FALSE);
    }

    long dataSize = -1;
    if (fseek(fp, 0, SEEK_END) == 0)
        dataSize = ftell(fp);
    DbgMsg("dataSize = %d", (int)dataSize);
    if (dataSize < 0 || dataSize > kMaxTicketSize || fseek(fp, 0, SEEK_SET) != 0) {
        DbgMsg("ParseJSON::not a ticket file of at most %ld bytes", kMaxTicketSize);
        fclose(fp);
        return Out(tick, FALSE);
    }
    // One spare byte so an empty file still gets a block.
    char* data = static_cast<char*>(malloc((size_t)dataSize + 1));
    if (!data) {
        fclose(fp);
        return Out(tick, FALSE);
    }
    size_t got = fread(data, 1, (size_t)dataSize, fp);
    if (got != (size_t)dataSize) {
        DbgMsg("fread failed, incorrect elements = %d", (int)got);
        fclose(fp);
        free(data);
        return Out(tick, FALSE);
    }
    fclose(fp);
    DbgMsg("Close file");

    BOOL rc = ParseJSONBuffer(data, (size_t)dataSize, outputJsonInfo);
    free(data);
    return Out(tick, rc);
}
