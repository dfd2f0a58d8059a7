// Work-arounds for faults of PAPPL 1.3 (Debian 12's libpappl1) in code
// paths the app cannot reach through PAPPL's interface: the app defines a
// few of PAPPL's internal functions, which the dynamic linker then binds
// PAPPL's own calls to, and calls PAPPL's after doing what PAPPL misses.
// Each one says which fault it avoids in library_workarounds.cpp.
#ifndef QUORIN_APP_LIBRARY_WORKAROUNDS_H
#define QUORIN_APP_LIBRARY_WORKAROUNDS_H

#include <pappl/pappl.h>

// True when every PAPPL function the work-arounds stand in for was found;
// otherwise logs which were not (PAPPL changed, and its faults are back).
bool CheckLibraryWorkarounds(pappl_system_t* system);

// Job threads of PAPPL's still running (processing a job or waiting their
// turn).
int JobThreadsRunning();

// fn runs when PAPPL deletes the system, before it does.
void BeforeSystemDelete(pappl_system_t* system, void (*fn)(pappl_system_t*));

// Printers are being read back from the saved state (their devices are
// taken as they are).
void LoadingState(bool loading);

#endif
