// file: devices, which write the print data into files. A server that runs
// as root would otherwise create or append to any file a client names (a
// printer on file:///etc/..., a job named after a link planted in a shared
// folder), so they write only inside the folder the administrator named
// with -o file-device-directory, and without one not at all. Nothing is
// opened through a symbolic link or outside the folder.
#ifndef QUORIN_APP_FILE_DEVICE_H
#define QUORIN_APP_FILE_DEVICE_H

#include <string>

// The folder for file: devices; NULL or "" for none. False (with *why) when
// it is not a folder.
bool SetFileDeviceDirectory(const char* dir, std::string* why);

// True for every URI that is not a file: URI, and for a file: URI inside
// the folder; otherwise false with the reason in *why.
bool FileDeviceAllowed(const char* uri, std::string* why);

// The app's "file" scheme; before any of PAPPL's is added.
void AddFileScheme();

#endif
