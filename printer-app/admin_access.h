// Who administers the server: adds, changes and deletes printers, changes
// their defaults, stops it, over IPP or on the web pages. The administrator
// is root, the user the server runs as, and the members of the admin group
// (-o admin-group). A local client is known by the owner of its socket: the
// control socket is the server user's alone, and for a loopback connection
// the kernel tells who owns the client's end. Anyone else must log in with
// HTTP Basic as such a user, through PAM (-o auth-service), over TLS unless
// on loopback; without an auth service they are refused.
#ifndef QUORIN_APP_ADMIN_ACCESS_H
#define QUORIN_APP_ADMIN_ACCESS_H

#include <pappl/pappl.h>
#include <sys/types.h>

// adminGroup: the group named with -o admin-group, or NULL.
void SetUpAdminAccess(pappl_system_t* system, const char* adminGroup);

// The owner of the client's end of a loopback TCP connection; false when
// the connection is not on loopback or its owner cannot be found.
bool LoopbackPeerUid(int fd, uid_t* uid);

// True for root, the server's user and the admin group's members.
bool IsAdministrator(uid_t uid);

enum AdminVerdict {
    ADMIN_ALLOWED,
    ADMIN_LOGIN,   // PAPPL checks a login (PAM, then the admin group)
    ADMIN_REFUSED, // forbidden
};

// Whether the client may make an administrative request.
AdminVerdict AdminRequestVerdict(pappl_client_t* client);

#endif
