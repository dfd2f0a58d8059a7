#include "document_formats.h"

#include <cstring>
#include <fcntl.h>
#include <unistd.h>

const char kDriverFormat[] = "application/octet-stream";

const DocumentFormat kDocumentFormats[] = {
    {"application/pdf", DOC_PDF, "PDF"},
    {"application/postscript", DOC_POSTSCRIPT, "PostScript"},
    {"image/jpeg", DOC_JPEG, "JPEG"},
    {"image/png", DOC_PNG, "PNG"},
    {"image/pwg-raster", DOC_PWG_RASTER, "PWG raster"},
    {"image/urf", DOC_APPLE_RASTER, "Apple raster"},
};
const size_t kDocumentFormatCount = sizeof kDocumentFormats / sizeof kDocumentFormats[0];

namespace {
struct Magic {
    const char* bytes;
    size_t len;
    const char* mime;
};

const Magic kMagic[] = {
    {"%PDF-", 5, "application/pdf"},
    {"%!", 2, "application/postscript"},
    {"\xC5\xD0\xD3\xC6", 4, "application/postscript"}, // DOS EPS binary header
    {"\xFF\xD8\xFF", 3, "image/jpeg"},
    {"\x89PNG\r\n\x1A\n", 8, "image/png"},
    {"RaS2PwgR", 8, "image/pwg-raster"},
    {"UNIRAST", 8, "image/urf"}, // with its NUL
};
} // namespace

DocumentKind KindOfFormat(const char* mime)
{
    for (const DocumentFormat& f : kDocumentFormats)
        if (mime && strcasecmp(mime, f.mime) == 0)
            return f.kind;
    return DOC_UNKNOWN;
}

const char* SniffFormat(const unsigned char* data, size_t len)
{
    for (const Magic& m : kMagic)
        if (len >= m.len && memcmp(data, m.bytes, m.len) == 0)
            return m.mime;
    return nullptr;
}

std::string SniffFileFormat(const char* path)
{
    unsigned char head[16];
    int fd = open(path, O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        return "";
    ssize_t n = read(fd, head, sizeof head);
    close(fd);
    const char* mime = n > 0 ? SniffFormat(head, (size_t)n) : nullptr;
    return mime ? mime : "";
}
