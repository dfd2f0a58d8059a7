// How the server starts and stops. At its start: the control socket is made
// its owner's alone, jobs restored from the saved state are started, and
// SIGTERM and SIGINT become the app's. Stopping (a signal, or a
// Shutdown-System that its jobs would make wait too long) cancels every
// job, ends every child process and cuts off every document still
// arriving, so that PAPPL's main loop ends within seconds; should it not,
// the process ends anyway.
#ifndef QUORIN_APP_SERVER_LIFECYCLE_H
#define QUORIN_APP_SERVER_LIFECYCLE_H

#include <pappl/pappl.h>
#include <string>

// Where PAPPL's server for the app named baseName, run by uid, listens for
// the sub-commands.
std::string ControlSocketPath(const char* baseName, uid_t uid);

// Sets the system up for the above; before it runs.
void PrepareServerLifecycle(pappl_system_t* system, const char* baseName);

// Called when PAPPL deletes the server's system: every job thread is gone.
void FinishServerLifecycle(pappl_system_t* system);

#endif
