// A client of the app's printer that the tests drive from their own
// threads: jobs sent from memory, their ends awaited, cancels, and a
// client that trickles its document.
#ifndef QUORIN_APP_IPP_CLIENT_H
#define QUORIN_APP_IPP_CLIENT_H

#include <cups/cups.h>
#include <string>
#include <vector>

struct SentJob {
    ipp_status_t status = IPP_STATUS_ERROR_INTERNAL;
    int id = 0;
};

// Print-Job of document (format: document-format) as job jobName; attrs are
// "name=value" keyword or integer job attributes.
SentJob SendJob(int port, const std::string& document, const std::string& format, const std::string& jobName,
                const std::vector<std::string>& attrs = {});

struct EndedJob {
    std::string state; // job-state keyword; "" when the job did not end in time
    std::string message;
};

// Waits up to `seconds` for the job to be canceled, aborted or completed.
EndedJob WaitForJobEnd(int port, int jobId, int seconds);

// Waits up to `seconds` for the job to be printing.
bool WaitForJobState(int port, int jobId, const char* state, int seconds);

bool CancelJob(int port, int jobId);

// The server answers Get-Printer-Attributes within a few seconds.
bool PrinterAnswers(int port);

// Sends a Print-Job whose document arrives one byte every `gapMs`
// milliseconds, for at most `seconds` or until the server stops reading;
// hangUp: then resets the connection instead of waiting for the answer.
void TrickleJob(int port, const std::string& document, const std::string& format, const std::string& jobName,
                int gapMs, int seconds, bool hangUp = false);

// The id of the job of that name; 0 when there is none.
int JobIdByName(int port, const std::string& name);

#endif
