// The app's saved state (its printers, their settings and jobs): where it
// lives, how it is read back so that nothing in it can keep the app from
// starting, and how it is saved without stopping the main loop.
#ifndef QUORIN_APP_STATE_FILE_H
#define QUORIN_APP_STATE_FILE_H

#include <pappl/pappl.h>
#include <string>

// Where the server keeps the state of the app named baseName: in the folder
// named with -o state-directory, else in systemd's $STATE_DIRECTORY, else
// where PAPPL would keep it.
std::string StateFilePath(const char* baseName, const char* directory);

// Where PAPPL keeps it when run by root, which earlier versions used; read
// when the state file is not there yet.
std::string LegacyStateFilePath(const char* baseName);

// A copy of the state fit to load: lines PAPPL cannot read without a value
// are dropped, jobs it would choke on are repaired or dropped, and a job
// that was printing when the app stopped is queued again.
std::string SanitizeState(const std::string& state);

// Loads the state into the system (from legacyPath when path is not
// there) and saves it from now on, on a thread of its own (PAPPL would save
// on its main loop); before the system runs. tidy runs after the load and
// before each save, on the main loop.
void UseStateFile(pappl_system_t* system, const std::string& path, const std::string& legacyPath,
                  void (*tidy)(pappl_system_t*));

// Saves once more if anything changed and stops saving: the system is about
// to go.
void FinishStateFile(pappl_system_t* system);

#endif
