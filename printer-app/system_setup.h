// The printer application's system: where it listens, spools and logs, and
// what it prints with.
#ifndef QUORIN_APP_SYSTEM_SETUP_H
#define QUORIN_APP_SYSTEM_SETUP_H

#include <pappl/pappl.h>

// What main tells the system callback.
struct AppContext {
    const char* baseName = "";  // the program's name, as PAPPL names its files
    bool server = false;        // the `server` sub-command, not a look at the drivers
    bool dnssd = true;          // avahi-daemon runs
};

// papplMainloop's system callback (data: the AppContext). Takes the -o
// options server-name, server-hostname, server-port, listen-hostname,
// spool-directory, log-file, log-level, max-log-size (bytes, or with k or
// m), server-options, auth-service (PAM service for logins), admin-group,
// file-device-directory (the folder file: devices may write in),
// state-directory (else $STATE_DIRECTORY), private-server (set by PAPPL for
// the server its sub-commands start), job-timeout (seconds a job may print
// for) and document-timeout (seconds a document may take to arrive); others
// are ignored.
pappl_system_t* CreateSystem(int num_options, cups_option_t* options, void* data);

#endif
