#include "json_ticket.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <initializer_list>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const char* const kJsonKeys[JSON_KEY_COUNT] = {
    "AUTHCODE", "USERNAME", "ACCTPASS", "DUPLEX", "DUPLEXTYPE", "NOTIFYURL", "CHECKAUTHCODEURL",
};

// A ticket is a few short strings. The cap keeps a huge file from taking the
// memory, and the per-character trace from flooding the log.
const long kMaxTicketSize = 1L << 20;

// ASCII only: the keys are plain letters and the filter's locale must not
// change what matches.
char Upper(char c)
{
    return c >= 'a' && c <= 'z' ? (char)(c - 'a' + 'A') : c;
}

bool EqualsIgnoringCase(const char* a, const char* b)
{
    for (;; ++a, ++b) {
        if (Upper(*a) != Upper(*b))
            return false;
        if (*a == 0)
            return true;
    }
}

// The trace goes to the scheduler's log and maybe a shared file: the value
// after a key that names a password is never spelt out there.
bool NamesPassword(const char* key)
{
    for (const char* word : {"PASS", "PWD"}) {
        for (const char* at = key; *at; ++at) {
            size_t i = 0;
            while (word[i] && at[i] && Upper(at[i]) == word[i])
                ++i;
            if (!word[i])
                return true;
        }
    }
    return false;
}

const char* Shown(const char (*jsonStr)[JSON_STR_SIZE], int k)
{
    return k > 0 && NamesPassword(jsonStr[k - 1]) ? "********" : jsonStr[k];
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
                    DbgMsg("jsonStr[%d] = %s", k, Shown(jsonStr, k));
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
            DbgMsg("jsonStr[%d] = %s", j, Shown(jsonStr, j));
        }
    }
    return TRUE;
}

BOOL ParseJSON(char* szJsonFileName, char (*outputJsonInfo)[JSON_STR_SIZE])
{
    DWORD tick = GetTickCount();
    DbgMsg("ParseJSON In, szJsonFileName = %s", szJsonFileName ? szJsonFileName : "(null)");
    errno = 0;
    int fd = -1;
    // Without O_NONBLOCK, opening a FIFO waits for a writer that may never come.
    if (!szJsonFileName || !outputJsonInfo)
        errno = EINVAL;
    else
        fd = open(szJsonFileName, O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) {
        int err = errno;
        DbgMsg("Open file failed, errno = %d, %s", err, strerror(err));
        return Out(tick, FALSE);
    }
    // Reading through a link is harmless; what it leads to must be a plain
    // file: a FIFO or a device can block or never end.
    struct stat st;
    if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
        DbgMsg("ParseJSON::not a regular file");
        close(fd);
        return Out(tick, FALSE);
    }
    FILE* fp = fdopen(fd, "r");
    if (!fp) {
        int err = errno;
        DbgMsg("Open file failed, errno = %d, %s", err, strerror(err));
        close(fd);
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
