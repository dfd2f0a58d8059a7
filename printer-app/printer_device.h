// Changing a printer's device: `modify -d NAME -v URI`, which PAPPL 1.3
// neither sends nor could carry out. The app's command line sends the new
// device as a Set-Printer-Attributes request of its own, and the server
// puts it in place of the old one.
#ifndef QUORIN_APP_PRINTER_DEVICE_H
#define QUORIN_APP_PRINTER_DEVICE_H

#include <pappl/pappl.h>
#include <string>

// The printer attribute that carries the device URI, as PAPPL names it.
extern const char kDeviceUriAttr[];

// The next job opens the new device; the change is saved with the state.
// False, with the reason, when PAPPL's printer record is not the one the
// app knows (another PAPPL).
bool ChangePrinterDevice(pappl_printer_t* printer, const char* uri, std::string* why);

// The command line's part, after PAPPL's own `modify`: sends the device
// named with -v to the printer named with -d (over the control socket) or
// -u (its URI). Returns the sub-command's exit status.
int SendDeviceChange(const char* baseName, const std::string& controlSocket, int argc, char* argv[]);

#endif
