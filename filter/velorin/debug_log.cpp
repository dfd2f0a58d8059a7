// Trace lines: always to standard error (read by the scheduler), and to a log
// file while its directory exists.
#include "velorin.h"

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <unistd.h>

namespace {
const size_t kMsgSize = 2048;
const size_t kTimeSize = 260;

// The scheduler acts on lines that start with STATE:, ATTR:, PAGE:, ...: no
// byte of a message may start a new line there.
void BlankControlBytes(char* text)
{
    for (unsigned char* p = reinterpret_cast<unsigned char*>(text); *p; ++p) {
        if (*p < 0x20 || *p == 0x7F)
            *p = ' ';
    }
}

void AppendToLogFile(const char* stamp, const char* text)
{
    if (access(VL_LOG_DIR, F_OK) != 0)
        return;
    // The directory lives in /tmp, where anyone may plant a link named like the log.
    int fd = open(VL_LOG_FILE, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0)
        return;
    char line[kTimeSize + kMsgSize];
    int n = snprintf(line, sizeof line, "%s%s", stamp, text);
    if (n > 0) {
        size_t len = (size_t)n < sizeof line ? (size_t)n : sizeof line - 1;
        // One write per line keeps lines of concurrent threads whole.
        ssize_t w = write(fd, line, len);
        (void)w;
    }
    close(fd);
}
} // namespace

void DbgMsg(const char* szMsgFormat, ...)
{
    int savedErrno = errno;
    char msgTime[kTimeSize];
    char msgText[kMsgSize];
    memset(msgTime, 0, sizeof msgTime);
    memset(msgText, 0, sizeof msgText);

    va_list ap;
    va_start(ap, szMsgFormat);
    // Leave room for the line feed added below.
    vsnprintf(msgText, kMsgSize - 1, szMsgFormat, ap);
    va_end(ap);
    BlankControlBytes(msgText);

    fprintf(stderr, "DEBUG: %s ---------->\n", msgText);

    time_t now = time(nullptr);
    struct tm lt;
    localtime_r(&now, &lt);
    snprintf(msgTime, sizeof msgTime, "[%04d/%02d/%02d %02d:%02d:%02d] ", lt.tm_year + 1900,
             lt.tm_mon + 1, lt.tm_mday, lt.tm_hour, lt.tm_min, lt.tm_sec);
    size_t len = strlen(msgText);
    msgText[len] = '\n';

    AppendToLogFile(msgTime, msgText);
    errno = savedErrno;
}
