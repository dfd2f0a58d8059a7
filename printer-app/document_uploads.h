// Documents on their way in from clients. Each has a time limit: a client
// that trickles its document is cut off at the limit and its job ends with
// a reason. And the app's state is never saved while PAPPL gives up on a
// document that did not arrive (see library_workarounds.cpp).
#ifndef QUORIN_APP_DOCUMENT_UPLOADS_H
#define QUORIN_APP_DOCUMENT_UPLOADS_H

#include <cups/cups.h>

void SetDocumentTimeLimit(unsigned seconds);
unsigned DocumentTimeLimit();

// The document of job jobId of printer printerId is arriving on the
// connection, from now until EndUpload.
void BeginUpload(http_t* http, int printerId, int jobId);
void EndUpload(http_t* http);

// True when the job's document was cut off at the time limit.
bool UploadWasCut(int printerId, int jobId);

// The app is stopping: every document still arriving is cut off.
void CutAllUploads();

// Shared by the threads giving up on a document, exclusive for a save.
void LockAbandonedUpload();
void UnlockAbandonedUpload();
void LockStateSave();
void UnlockStateSave();

#endif
