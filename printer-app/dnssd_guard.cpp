#include "dnssd_guard.h"

#include <avahi-client/client.h>
#include <avahi-common/simple-watch.h>
#include <pappl/pappl.h>

namespace {
bool DaemonRunning()
{
    AvahiSimplePoll* poll = avahi_simple_poll_new();
    if (!poll)
        return false;
    int error = 0;
    AvahiClient* client =
        avahi_client_new(avahi_simple_poll_get(poll), (AvahiClientFlags)0, [](AvahiClient*, AvahiClientState, void*) {},
                         nullptr, &error);
    if (client)
        avahi_client_free(client);
    avahi_simple_poll_free(poll);
    return client != nullptr;
}

bool ListNothing(pappl_device_cb_t, void*, pappl_deverror_cb_t, void*)
{
    return false;
}

bool RefuseOpen(pappl_device_t* device, const char* uri, const char*)
{
    papplDeviceError(device, "Unable to find '%s': avahi-daemon is not running, so DNS-SD is not available.", uri);
    return false;
}

void CloseNothing(pappl_device_t*) {}

ssize_t NoData(pappl_device_t*, void*, size_t)
{
    return -1;
}

ssize_t NoWrite(pappl_device_t*, const void*, size_t)
{
    return -1;
}
} // namespace

bool DnsSdRunning()
{
    return DaemonRunning();
}

void AddDnsSdStandIn()
{
    papplDeviceAddScheme("dnssd", PAPPL_DEVTYPE_DNS_SD, ListNothing, RefuseOpen, CloseNothing, NoData, NoWrite,
                         nullptr, nullptr);
}
