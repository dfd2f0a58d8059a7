// The app's saved state (its printers, their settings and jobs): where it
// lives, how it is read back so that nothing in it can keep the app from
// starting, and how it is saved without stopping the main loop.
#ifndef QUORIN_APP_STATE_FILE_H
#define QUORIN_APP_STATE_FILE_H

#include <pappl/pappl.h>
#include <string>

// Where PAPPL's server keeps the state of the app named baseName.
std::string StateFilePath(const char* baseName);

// A copy of the state fit to load: lines PAPPL cannot read without a value
// are dropped, jobs it would choke on are repaired or dropped, and a job
// that was printing when the app stopped is queued again.
std::string SanitizeState(const std::string& state);

// Loads the state into the system and saves it from now on, on a thread of
// its own (PAPPL would save on its main loop); before the system runs.
void UseStateFile(pappl_system_t* system, const std::string& path);

// Saves once more if anything changed and stops saving: the system is about
// to go.
void FinishStateFile(pappl_system_t* system);

#endif
