// Trace lines: always to standard error (read by the scheduler), and to a log
// file while its folder exists and only trusted users can write in it.
#include "velorin.h"

#include <atomic>
#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {
const size_t kMsgSize = 2048;
const size_t kTimeSize = 260;
const char kLogName[] = VL_LOG_NAME;
const char kOldName[] = VL_LOG_NAME ".old";

std::atomic<bool> gRefusalTold{false};

// Why the folder or file is not used: said once per process, not per message.
void RefuseFileLog(const char* format, ...) __attribute__((format(printf, 1, 2)));
void RefuseFileLog(const char* format, ...)
{
    if (gRefusalTold.exchange(true, std::memory_order_acq_rel))
        return;
    char why[512];
    va_list ap;
    va_start(ap, format);
    vsnprintf(why, sizeof why, format, ap);
    va_end(ap);
    BlankControlBytes(why);
    fprintf(stderr, "DEBUG: DbgMsg::file log off, %s ---------->\n", why);
}

// Root and the filter's own user are the only owners trusted: anyone else
// could read the jobs' details or swap the file for a link.
bool TrustedOwner(uid_t uid, bool rootToo)
{
    return uid == geteuid() || (rootToo && uid == 0);
}

// Any local user can create a folder of that name in /tmp: use it only when
// it is a real directory of a trusted owner that nobody else may write in.
// Returns the folder's descriptor, or -1 (silently when it does not exist).
int OpenLogFolder(void)
{
    // O_PATH needs no read right on the folder; with O_NOFOLLOW a link is
    // opened as itself, so fstat sees it.
    int dir = open(VL_LOG_DIR, O_PATH | O_NOFOLLOW | O_CLOEXEC);
    if (dir < 0) {
        if (errno != ENOENT)
            RefuseFileLog("%s: %s", VL_LOG_DIR, strerror(errno));
        return -1;
    }
    struct stat st;
    if (fstat(dir, &st) != 0)
        RefuseFileLog("%s: %s", VL_LOG_DIR, strerror(errno));
    else if (S_ISLNK(st.st_mode))
        RefuseFileLog("%s is a symbolic link", VL_LOG_DIR);
    else if (!S_ISDIR(st.st_mode))
        RefuseFileLog("%s is not a directory", VL_LOG_DIR);
    else if (!TrustedOwner(st.st_uid, true))
        RefuseFileLog("%s is owned by uid %u, not by root or uid %u", VL_LOG_DIR, (unsigned)st.st_uid,
                      (unsigned)geteuid());
    else if (st.st_mode & (S_IWGRP | S_IWOTH))
        RefuseFileLog("%s is writable by group or others (mode %04o)", VL_LOG_DIR,
                      (unsigned)(st.st_mode & 07777));
    else
        return dir;
    close(dir);
    return -1;
}

// Opens the log in the checked folder, never through a link and never a
// FIFO or device (O_NONBLOCK: a FIFO would hold the job). *size receives its
// size. Only the filter's own user may own it.
int OpenLogFile(int dir, off_t* size)
{
    int fd = openat(dir, kLogName, O_WRONLY | O_APPEND | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0600);
    if (fd < 0) {
        // ELOOP and ENXIO say little to an administrator: name what is there.
        int err = errno;
        struct stat there;
        bool seen = fstatat(dir, kLogName, &there, AT_SYMLINK_NOFOLLOW) == 0;
        if (seen && S_ISLNK(there.st_mode))
            RefuseFileLog("%s is a symbolic link", VL_LOG_FILE);
        else if (seen && !S_ISREG(there.st_mode))
            RefuseFileLog("%s is not a regular file", VL_LOG_FILE);
        else
            RefuseFileLog("%s: %s", VL_LOG_FILE, strerror(err));
        return -1;
    }
    struct stat st;
    if (fstat(fd, &st) != 0)
        RefuseFileLog("%s: %s", VL_LOG_FILE, strerror(errno));
    else if (!S_ISREG(st.st_mode))
        RefuseFileLog("%s is not a regular file", VL_LOG_FILE);
    else if (!TrustedOwner(st.st_uid, false))
        RefuseFileLog("%s is owned by uid %u, not by uid %u", VL_LOG_FILE, (unsigned)st.st_uid,
                      (unsigned)geteuid());
    // Job titles, user names and options are in it.
    else if (st.st_mode & (S_IRWXG | S_IRWXO))
        RefuseFileLog("%s is open to group or others (mode %04o)", VL_LOG_FILE, (unsigned)(st.st_mode & 07777));
    else {
        *size = st.st_size;
        return fd;
    }
    close(fd);
    return -1;
}

// Past the bound the file is moved aside to the one .old file. Several
// filters may pass the bound at once: each in turn moves the file only while
// the name still refers to it, so a file is moved once and a fresh one is
// never moved over the old. A writer that opened the file before the move
// still lands its line in .old. The turn is waited for: a writer that gave
// up while another was held up on the lock would let the file grow on. Only
// the filter's own user can open the file, so nobody else can hold it.
void BoundLogFile(int dir, int fd)
{
    int locked;
    while ((locked = flock(fd, LOCK_EX)) != 0 && errno == EINTR) {
    }
    if (locked != 0)
        return;
    struct stat mine, named;
    if (fstat(fd, &mine) == 0 && mine.st_size >= (off_t)VL_LOG_MAX_SIZE &&
        fstatat(dir, kLogName, &named, AT_SYMLINK_NOFOLLOW) == 0 && named.st_dev == mine.st_dev &&
        named.st_ino == mine.st_ino) {
        // In root's folder this user cannot rename: start the file over.
        if (renameat(dir, kLogName, dir, kOldName) != 0) {
            int rc = ftruncate(fd, 0);
            (void)rc;
        }
    }
    flock(fd, LOCK_UN);
}

void AppendToLogFile(const char* stamp, const char* text)
{
    int dir = OpenLogFolder();
    if (dir < 0)
        return;
    off_t size = 0;
    int fd = OpenLogFile(dir, &size);
    if (fd >= 0) {
        char line[kTimeSize + kMsgSize];
        int n = snprintf(line, sizeof line, "%s%s", stamp, text);
        if (n > 0) {
            size_t len = (size_t)n < sizeof line ? (size_t)n : sizeof line - 1;
            // One write per line keeps lines of concurrent writers whole.
            ssize_t w = write(fd, line, len);
            if (w > 0 && size + w >= (off_t)VL_LOG_MAX_SIZE)
                BoundLogFile(dir, fd);
        }
        close(fd);
    }
    close(dir);
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
