// The document formats the printer takes, and a document's format as its
// first bytes show it.
#ifndef QUORIN_APP_DOCUMENT_FORMATS_H
#define QUORIN_APP_DOCUMENT_FORMATS_H

#include <cstddef>
#include <string>

// The format the driver's filters produce. PAPPL never lists it among the
// formats clients may send, and a document still unrecognised when it is
// printed is recognised then by its content.
extern const char kDriverFormat[];

enum DocumentKind { DOC_UNKNOWN, DOC_PDF, DOC_POSTSCRIPT, DOC_JPEG, DOC_PNG, DOC_PWG_RASTER, DOC_APPLE_RASTER };

struct DocumentFormat {
    const char* mime;
    DocumentKind kind;
    const char* name; // for messages
};
extern const DocumentFormat kDocumentFormats[];
extern const size_t kDocumentFormatCount;

// The kind of a MIME media type the printer prints; DOC_UNKNOWN otherwise.
DocumentKind KindOfFormat(const char* mime);

// The MIME media type a document's first bytes show; NULL when it is none
// of the printer's formats.
const char* SniffFormat(const unsigned char* data, size_t len);

// The same for a file; "" when it cannot be read or is none of them.
std::string SniffFileFormat(const char* path);

#endif
