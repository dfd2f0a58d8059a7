#include "device_schemes.h"

#include "dnssd_guard.h"
#include "file_device.h"

// Exported by libpappl1, not declared by its headers.
extern "C" void _papplDeviceAddNetworkSchemes(void);
extern "C" void _papplDeviceAddUSBScheme(void);

void AddDeviceSchemes(bool dnssd)
{
    if (!dnssd)
        AddDnsSdStandIn();
    AddFileScheme();
    _papplDeviceAddNetworkSchemes();
    _papplDeviceAddUSBScheme();
}
