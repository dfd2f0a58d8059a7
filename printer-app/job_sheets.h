// Sheets of paper a job has used, as job-media-sheets-completed tells them:
// from the sides the filter reports printed, a two-sided sheet counted at
// its front side whether or not its back carries a page.
#ifndef QUORIN_APP_JOB_SHEETS_H
#define QUORIN_APP_JOB_SHEETS_H

#include <pappl/pappl.h>

// The filter printed side `page` (its number in the document, 1 first)
// `copies` times.
void CountSide(pappl_job_t* job, unsigned page, unsigned copies, bool duplex);

// False when nothing of the job was printed since the server started.
bool SheetsCompleted(pappl_job_t* job, unsigned* sheets);

#endif
