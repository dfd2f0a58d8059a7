// The device schemes printers are reached by. PAPPL adds its own only when
// no scheme is there yet, and the first scheme of a name wins: the app adds
// its "file" (and, without avahi-daemon, its "dnssd") first, then PAPPL's
// network and USB schemes; before PAPPL lists or opens a device.
#ifndef QUORIN_APP_DEVICE_SCHEMES_H
#define QUORIN_APP_DEVICE_SCHEMES_H

// dnssd: whether avahi-daemon runs.
void AddDeviceSchemes(bool dnssd);

#endif
