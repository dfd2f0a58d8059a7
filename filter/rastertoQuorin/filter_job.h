// The filter's whole run, from the command line to the exit status.
#ifndef QUORIN_FILTER_JOB_H
#define QUORIN_FILTER_JOB_H

// Returns the process exit status.
int RunFilter(int argc, char** argv);

#endif
