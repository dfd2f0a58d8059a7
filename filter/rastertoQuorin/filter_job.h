// The state of one print job as the entry point owns it, and the steps that
// take it from the command line to the exit status.
#ifndef QUORIN_FILTER_JOB_H
#define QUORIN_FILTER_JOB_H

#include <cups/cups.h>
#include <cups/ppd.h>

#include "job_info.h"

struct FilterJob {
    int argc;
    char** argv;
    int fd;
    cups_raster_t* inras;
    ppd_file_t* ppd;
    int num_options;
    cups_option_t* options;
    char jobID[JOB_ID_SIZE];
    int numUP;
    BOOL bCollate;
    BOOL bDriverDoCollate;
    BOOL bDuplex;
    DWORD nCopies;
    cups_page_header2_t inheader;
    cups_page_header2_t inheader_bak;
    DWORD page;
    DWORD FlushPage;
    JobInfo lpJob[MAX_JOB_SLOTS];
    pthread_t id;
    BOOL jbigStarted;
    DWORD referSize;
    // Set when the job stopped early (unreadable page, thread failure).
    BOOL failed;
};

// The whole filter run: returns the process exit status.
int RunFilter(int argc, char** argv);

#endif
