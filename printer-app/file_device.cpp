#include "file_device.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <linux/openat2.h>
#include <mutex>
#include <pappl/pappl.h>
#include <sys/stat.h>
#include <sys/syscall.h>
#include <unistd.h>

namespace {
std::mutex gLock;
std::string gDir; // real path, no trailing slash; empty: no file: devices

const unsigned long long kConfined = RESOLVE_BENEATH | RESOLVE_NO_SYMLINKS | RESOLVE_NO_MAGICLINKS;

int OpenBeneath(int dirfd, const char* path, int flags, mode_t mode = 0)
{
    open_how how = {};
    how.flags = (unsigned long long)(flags | O_CLOEXEC | O_NOFOLLOW);
    how.mode = mode;
    how.resolve = kConfined;
    return (int)syscall(SYS_openat2, dirfd, path, &how, sizeof how);
}

// The path a file: URI names, without its options.
std::string UriPath(const char* uri)
{
    char scheme[32], user[256], host[256], resource[1024];
    int port;
    if (httpSeparateURI(HTTP_URI_CODING_ALL, uri, scheme, sizeof scheme, user, sizeof user, host, sizeof host, &port,
                        resource, sizeof resource) < HTTP_URI_STATUS_OK)
        return "";
    std::string path = resource;
    return path.substr(0, path.find('?'));
}

// The path below the folder ("." for the folder itself); empty when the
// path is not inside it.
std::string Below(const std::string& dir, const std::string& path)
{
    if (dir.empty() || path.compare(0, dir.size(), dir) != 0)
        return "";
    if (path.size() == dir.size() || path == dir + "/")
        return ".";
    if (path[dir.size()] != '/')
        return "";
    std::string rel = path.substr(dir.size() + 1);
    // A lexical check for the reason; the kernel enforces it at open.
    if (("/" + rel + "/").find("/../") != std::string::npos)
        return "";
    return rel;
}

std::string Extension(const char* uri)
{
    const char* options = strchr(uri, '?');
    if (options && !strncmp(options + 1, "ext=", 4) && !strchr(options, '/'))
        return options + 5;
    return "prn";
}

bool FileOpen(pappl_device_t* device, const char* uri, const char* name)
{
    std::string why;
    if (!FileDeviceAllowed(uri, &why)) {
        papplDeviceError(device, "%s", why.c_str());
        return false;
    }
    std::string dir;
    {
        std::lock_guard<std::mutex> hold(gLock);
        dir = gDir;
    }
    std::string rel = Below(dir, UriPath(uri)), target = rel;
    int top = open(dir.c_str(), O_PATH | O_DIRECTORY | O_CLOEXEC);
    int fd = -1;
    if (top >= 0) {
        int sub = OpenBeneath(top, rel.c_str(), O_PATH | O_DIRECTORY);
        if (sub >= 0) {
            // A folder: one file per job, named after it.
            std::string file = std::string(name ? name : "job") + "." + Extension(uri);
            for (char& c : file)
                if ((unsigned char)c < ' ' || c == 0x7f || (c & 0x80) || c == '/')
                    c = '_';
            target = file;
            fd = OpenBeneath(sub, file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666);
            close(sub);
        } else if (errno == ENOTDIR || errno == ENOENT) {
            fd = OpenBeneath(top, rel.c_str(), O_WRONLY | O_CREAT | O_APPEND, 0666);
        }
        close(top);
    }
    if (fd < 0) {
        papplDeviceError(device, "Unable to open '%s' in '%s': %s", target.c_str(), dir.c_str(),
                         errno == ELOOP ? "it is a symbolic link" : strerror(errno));
        return false;
    }
    papplDeviceSetData(device, new int(fd));
    return true;
}

void FileClose(pappl_device_t* device)
{
    int* fd = static_cast<int*>(papplDeviceGetData(device));
    if (!fd)
        return;
    close(*fd);
    delete fd;
    papplDeviceSetData(device, nullptr);
}

ssize_t FileWrite(pappl_device_t* device, const void* buffer, size_t bytes)
{
    int* fd = static_cast<int*>(papplDeviceGetData(device));
    if (!fd)
        return -1;
    const char* p = static_cast<const char*>(buffer);
    size_t done = 0;
    while (done < bytes) {
        ssize_t n = write(*fd, p + done, bytes - done);
        if (n < 0 && errno == EINTR)
            continue;
        if (n < 0) {
            papplDeviceError(device, "Unable to write print data: %s", strerror(errno));
            return -1;
        }
        done += (size_t)n;
    }
    return (ssize_t)bytes;
}

ssize_t FileRead(pappl_device_t*, void*, size_t)
{
    return -1;
}
} // namespace

bool SetFileDeviceDirectory(const char* dir, std::string* why)
{
    std::string real;
    if (dir && *dir) {
        char* resolved = realpath(dir, nullptr);
        struct stat st;
        if (!resolved || stat(resolved, &st) != 0 || !S_ISDIR(st.st_mode)) {
            *why = std::string("'") + dir + "' is not a folder" + (resolved ? "" : std::string(": ") + strerror(errno));
            free(resolved);
            return false;
        }
        real = resolved;
        free(resolved);
        if (real == "/")
            real.clear(); // the whole system is no folder of its own
    }
    std::lock_guard<std::mutex> hold(gLock);
    gDir = real;
    return true;
}

bool FileDeviceAllowed(const char* uri, std::string* why)
{
    if (!uri || strncmp(uri, "file:", 5) != 0)
        return true;
    std::lock_guard<std::mutex> hold(gLock);
    if (gDir.empty()) {
        *why = "file: devices are off: the administrator has named no folder for them (-o file-device-directory).";
        return false;
    }
    if (Below(gDir, UriPath(uri)).empty()) {
        *why = std::string("'") + uri + "' is outside the folder for file: devices, " + gDir + ".";
        return false;
    }
    return true;
}

void AddFileScheme()
{
    papplDeviceAddScheme("file", PAPPL_DEVTYPE_FILE, nullptr, FileOpen, FileClose, FileRead, FileWrite, nullptr,
                         nullptr);
}
