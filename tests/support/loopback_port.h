// Ports on 127.0.0.1 for the private servers tests start (other work trees
// run theirs on the same machine at the same time).
#ifndef QUORIN_LOOPBACK_PORT_H
#define QUORIN_LOOPBACK_PORT_H

// A port nobody listens on right now; 0 when none could be had. It may be
// taken before the server binds it, so callers retry.
int FreeLoopbackPort();

// True when something accepts connections on the port.
bool AcceptsConnections(int port);

#endif
