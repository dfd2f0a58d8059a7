// Helper programs the app runs for a job (the filter, Ghostscript).
#ifndef QUORIN_APP_CHILD_PROCESS_H
#define QUORIN_APP_CHILD_PROCESS_H

#include <string>
#include <sys/types.h>
#include <vector>

// Starts program (a path, or a name looked up in PATH) with standard input,
// output and error on the given descriptors and no other descriptor of the
// app, in a process group of its own (its id is the pid), so that whatever
// it starts in turn ends with it. It is killed when the calling thread ends
// (the app included, killed or not). cpuSeconds > 0 limits its CPU time
// (RLIMIT_CPU). Returns the process id, or -1 with errno set.
pid_t SpawnChild(const std::string& program, const std::vector<std::string>& argv, int in, int out, int err,
                 unsigned cpuSeconds = 0);

#endif
