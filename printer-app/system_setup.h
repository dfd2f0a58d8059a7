// The printer application's system: where it listens, spools and logs, and
// what it prints with.
#ifndef QUORIN_APP_SYSTEM_SETUP_H
#define QUORIN_APP_SYSTEM_SETUP_H

#include <pappl/pappl.h>

// papplMainloop's system callback for the `server` sub-command. Takes the
// -o options server-name, server-hostname, server-port, listen-hostname,
// spool-directory, log-file, log-level, server-options, auth-service and
// private-server (set by PAPPL for the server its sub-commands start);
// others are ignored.
pappl_system_t* CreateSystem(int num_options, cups_option_t* options, void* data);

#endif
