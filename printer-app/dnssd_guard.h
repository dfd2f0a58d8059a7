// DNS-SD without avahi-daemon. PAPPL 1.3 hands avahi a null client when the
// daemon is not running, and avahi aborts the process on it: listing
// devices (the `devices` sub-command, the web interface's Add Printer page,
// an IPP device query) or opening a dnssd: printer ends the app. Without
// the daemon the app goes on without DNS-SD: it announces nothing, lists no
// network printers found by it, and a dnssd: printer fails to open with a
// reason.
#ifndef QUORIN_APP_DNSSD_GUARD_H
#define QUORIN_APP_DNSSD_GUARD_H

// Whether avahi-daemon answers.
bool DnsSdRunning();

// The app's "dnssd" device scheme, which finds nothing; in place of PAPPL's
// (see device_schemes.h).
void AddDnsSdStandIn();

#endif
