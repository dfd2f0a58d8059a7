// The "quorin" driver: the printer's capabilities as PAPPL offers them over
// IPP, and the callbacks that print through the filter.
#ifndef QUORIN_APP_QUORIN_DRIVER_H
#define QUORIN_APP_QUORIN_DRIVER_H

#include <pappl/pappl.h>

extern pappl_pr_driver_t kQuorinDrivers[];
extern const int kQuorinDriverCount;

bool QuorinDriver(pappl_system_t* system, const char* driverName, const char* deviceUri, const char* deviceId,
                  pappl_pr_driver_data_t* data, ipp_t** attrs, void* cbdata);

// The driver for a printer found on USB or the network, by its IEEE-1284
// device ID; NULL when it is not this printer.
const char* QuorinAutoAdd(const char* deviceInfo, const char* deviceUri, const char* deviceId, void* cbdata);

// Called once a printer exists: what the driver data cannot say.
void QuorinPrinterCreated(pappl_printer_t* printer, void* cbdata);

// The words the web pages show for the printer's own settings.
void AddSettingNames(pappl_system_t* system);

// Puts every printer's darkness on one of its six steps: the web pages
// offer only those, and show none as chosen otherwise.
void KeepSettingsOnSteps(pappl_system_t* system);

#endif
