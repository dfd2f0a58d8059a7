// quorin-printer-app: an IPP Everywhere printer application for the Velorin
// Quorin printers, printing through the rastertoQuorin filter.
#include <csignal>

#include "quorin_driver.h"
#include "system_setup.h"

int main(int argc, char* argv[])
{
    // A filter that ends early must show as a failed write, not end the app.
    signal(SIGPIPE, SIG_IGN);
    // PAPPL 1.3's web pages fail without a footer.
    return papplMainloop(argc, argv, QUORIN_APP_VERSION,
                         "Velorin Quorin printer application, printing through rastertoQuorin.", kQuorinDriverCount,
                         kQuorinDrivers, QuorinAutoAdd, QuorinDriver, nullptr, nullptr, CreateSystem, nullptr,
                         nullptr);
}
