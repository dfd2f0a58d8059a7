// One filter for every document format: it checks that the document is
// there and arrived whole, recognises a document of unknown format by its
// content, and hands it to the step that prints its kind.
#ifndef QUORIN_APP_PRINT_DOCUMENT_H
#define QUORIN_APP_PRINT_DOCUMENT_H

#include <pappl/pappl.h>

// Registers the filter for each format of kDocumentFormats, and for
// documents whose format is known only from their content. Before the
// system runs.
void AddDocumentFilters(pappl_system_t* system);

// papplSystemSetMIMECallback's: the format of a document sent as
// application/octet-stream.
const char* DetectDocumentFormat(const unsigned char* header, size_t headersize, void* data);

#endif
