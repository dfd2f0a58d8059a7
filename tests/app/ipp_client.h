// A client of the app's printer that the tests drive from their own
// threads: jobs sent from memory, their ends awaited, cancels, and a
// client that trickles its document.
#ifndef QUORIN_APP_IPP_CLIENT_H
#define QUORIN_APP_IPP_CLIENT_H

#include <cups/cups.h>
#include <functional>
#include <sys/types.h>
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

// A request to the printer (resource /ipp/print/Quorin) or, with system,
// to the system (/ipp/system), with the operation attributes every request
// carries; and its status once sent (HTTP refusals as IPP statuses).
ipp_t* NewRequest(int port, ipp_op_t op, bool system = false);
ipp_status_t StatusOf(int port, ipp_t* request, bool system = false);

// An integer attribute of the printer; -1 when it has none.
int PrinterInteger(int port, const char* name);

// Runs fn in a child process that is user uid (group gid, no others);
// false when fn returned false or the child could not become the user.
bool AsUser(uid_t uid, gid_t gid, const std::function<bool()>& fn);

#endif
