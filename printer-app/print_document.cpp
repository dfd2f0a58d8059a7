#include "print_document.h"

#include <string>

#include "document_formats.h"
#include "document_uploads.h"
#include "ghostscript_filter.h"
#include "image_filter.h"
#include "job_watchdog.h"
#include "raster_document.h"

namespace {
bool PrintKind(pappl_job_t* job, pappl_device_t* device, DocumentKind kind)
{
    switch (kind) {
    case DOC_PDF:
        return PrintPdf(job, device);
    case DOC_POSTSCRIPT:
        return PrintPostScript(job, device);
    case DOC_JPEG:
        return PrintJpeg(job, device);
    case DOC_PNG:
        return PrintPng(job, device);
    case DOC_PWG_RASTER:
    case DOC_APPLE_RASTER:
        return PrintRasterDocument(job, device);
    default:
        papplJobSetMessage(job, "The document is in none of the formats the printer prints (%s).",
                           "PDF, PostScript, JPEG, PNG, PWG or Apple raster");
        papplJobSetReasons(job, PAPPL_JREASON_DOCUMENT_FORMAT_ERROR, PAPPL_JREASON_NONE);
        return false;
    }
}

bool PrintDocument(pappl_job_t* job, pappl_device_t* device, void* data)
{
    // A job cancelled before it started may have lost its document already.
    const char* file = papplJobGetFilename(job);
    if (!file)
        return papplJobIsCanceled(job);
    if (UploadWasCut(papplPrinterGetID(papplJobGetPrinter(job)), papplJobGetID(job))) {
        papplJobSetMessage(job, "The document did not arrive within %u seconds.", DocumentTimeLimit());
        return false;
    }
    DocumentKind kind = static_cast<const DocumentFormat*>(data)->kind;
    if (kind == DOC_UNKNOWN)
        kind = KindOfFormat(SniffFileFormat(file).c_str());
    // Not recognised: a damaged document of the format its client named.
    if (kind == DOC_UNKNOWN)
        kind = KindOfFormat(ippGetString(papplJobGetAttribute(job, "document-format-supplied"), 0, nullptr));
    JobWatch watch(job);
    return PrintKind(job, device, kind);
}

const DocumentFormat kByContent = {kDriverFormat, DOC_UNKNOWN, "unknown"};
} // namespace

void AddDocumentFilters(pappl_system_t* system)
{
    for (size_t i = 0; i < kDocumentFormatCount; ++i)
        papplSystemAddMIMEFilter(system, kDocumentFormats[i].mime, kDriverFormat, PrintDocument,
                                 const_cast<DocumentFormat*>(&kDocumentFormats[i]));
    papplSystemAddMIMEFilter(system, kDriverFormat, kDriverFormat, PrintDocument,
                             const_cast<DocumentFormat*>(&kByContent));
}

const char* DetectDocumentFormat(const unsigned char* header, size_t headersize, void*)
{
    return SniffFormat(header, headersize);
}
