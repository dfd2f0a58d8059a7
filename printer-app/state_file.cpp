#include "state_file.h"

#include <condition_variable>
#include <cstdlib>
#include <fstream>
#include <mutex>
#include <set>
#include <sstream>
#include <thread>
#include <cerrno>
#include <cstring>
#include <sys/stat.h>
#include <unistd.h>

#include "document_formats.h"
#include "document_uploads.h"
#include "library_workarounds.h"

namespace {
// Never destroyed: the saving thread may wait on them until the process ends.
std::mutex& gLock = *new std::mutex;
std::condition_variable& gWake = *new std::condition_variable;
std::string gPath;
bool gPending = false, gFinished = false;
void (*gTidy)(pappl_system_t*) = nullptr;

void Save(pappl_system_t* system)
{
    LockStateSave();
    if (!gFinished)
        papplSystemSaveState(system, gPath.c_str());
    UnlockStateSave();
}

void Saver(pappl_system_t* system)
{
    std::unique_lock<std::mutex> lock(gLock);
    for (;;) {
        gWake.wait(lock, [] { return gPending || gFinished; });
        if (gFinished)
            return;
        gPending = false;
        lock.unlock();
        Save(system);
        lock.lock();
    }
}

bool QueueSave(pappl_system_t* system, void*)
{
    if (gTidy)
        gTidy(system);
    std::lock_guard<std::mutex> hold(gLock);
    gPending = true;
    gWake.notify_all();
    return true;
}

// PAPPL's state file quoting: name="value" with \ before \ and ".
std::string Quoted(const std::string& value)
{
    std::string out = "\"";
    for (char c : value) {
        if (c == '\\' || c == '"')
            out += '\\';
        out += c;
    }
    return out + "\"";
}

// A job line's options, repaired; empty when the job cannot be kept.
std::string SaneJob(const std::string& value, std::set<long>* ids)
{
    cups_option_t* options = nullptr;
    int n = cupsParseOptions(value.c_str(), 0, &options);
    const char* id = cupsGetOption("id", n, options);
    long number = id ? strtol(id, nullptr, 10) : 0;
    std::string line;
    if (number > 0 && ids->insert(number).second && cupsGetOption("name", n, options) &&
        cupsGetOption("username", n, options) && cupsGetOption("format", n, options)) {
        for (int i = 0; i < n; ++i) {
            std::string name = options[i].name, v = options[i].value;
            // A format no filter takes is recognised by content instead.
            if (name == "format" && KindOfFormat(v.c_str()) == DOC_UNKNOWN)
                v = kDriverFormat;
            if (name == "state") {
                long state = strtol(v.c_str(), nullptr, 10);
                if (state == IPP_JSTATE_PROCESSING || state == IPP_JSTATE_STOPPED)
                    state = IPP_JSTATE_PENDING; // printed again from the start
                if (state < IPP_JSTATE_PENDING || state > IPP_JSTATE_COMPLETED)
                    state = IPP_JSTATE_ABORTED;
                v = std::to_string(state);
            }
            line += " " + name + "=" + Quoted(v);
        }
    }
    cupsFreeOptions(n, options);
    return line;
}
} // namespace

std::string LegacyStateFilePath(const char* baseName)
{
    return getuid() == 0 && !getenv("SNAP_COMMON") ? "/var/lib/" + std::string(baseName) + ".state" : "";
}

std::string StateFilePath(const char* baseName, const char* directory)
{
    std::string base = baseName;
    // systemd's StateDirectory= may name several, separated by colons.
    std::string systemd = getenv("STATE_DIRECTORY") ? getenv("STATE_DIRECTORY") : "";
    systemd = systemd.substr(0, systemd.find(':'));
    if (directory && *directory)
        return std::string(directory) + "/" + base + ".state";
    if (!systemd.empty())
        return systemd + "/" + base + ".state";
    const char* snap = getenv("SNAP_COMMON");
    const char* config = getenv("XDG_CONFIG_HOME");
    const char* home = getenv("HOME");
    if (snap)
        return access(snap, X_OK) == 0 ? std::string(snap) + "/" + base + ".state" : "";
    if (getuid() == 0)
        return "/var/lib/" + base + ".state";
    if (config && access(config, X_OK) == 0)
        return std::string(config) + "/" + base + ".state";
    if (home)
        return std::string(home) + "/.config/" + base + ".state";
    return std::string(papplGetTempDir()) + "/" + base + std::to_string(getuid()) + ".state";
}

std::string SanitizeState(const std::string& state)
{
    std::istringstream in(state);
    std::string out, line;
    std::set<long> ids;
    while (std::getline(in, line)) {
        size_t start = line.find_first_not_of(" \t");
        if (start == std::string::npos || line[start] == '#')
            continue;
        line.erase(0, start);
        line.erase(line.find_last_not_of(" \t\r") + 1);
        size_t gap = line.find_first_of(" \t");
        std::string name = line.substr(0, gap);
        std::string value = gap == std::string::npos ? "" : line.substr(line.find_first_not_of(" \t", gap));
        if (name == "</Printer>") {
            out += line + "\n";
        } else if (name == "Job") {
            std::string job = SaneJob(value, &ids);
            if (!job.empty())
                out += "Job" + job + "\n";
        } else if (!value.empty() && value != ">") {
            out += line + "\n";
        }
    }
    return out;
}

void UseStateFile(pappl_system_t* system, const std::string& path, const std::string& legacyPath,
                  void (*tidy)(pappl_system_t*))
{
    gPath = path;
    gTidy = tidy;
    // A folder named for the state (not PAPPL's own places) is made when
    // missing, the server's alone.
    const std::string folder = path.substr(0, path.rfind('/'));
    if (!folder.empty() && access(folder.c_str(), F_OK) != 0 && mkdir(folder.c_str(), 0700) != 0)
        papplLog(system, PAPPL_LOGLEVEL_ERROR, "Unable to make the state folder '%s': %s", folder.c_str(),
                 strerror(errno));
    std::ifstream in(path, std::ios::binary);
    if (!in && !legacyPath.empty() && legacyPath != path)
        in.open(legacyPath, std::ios::binary);
    if (in) {
        std::ostringstream state;
        state << in.rdbuf();
        std::string sane = path + ".loading";
        std::ofstream(sane, std::ios::binary | std::ios::trunc) << SanitizeState(state.str());
        LoadingState(true);
        papplSystemLoadState(system, sane.c_str());
        LoadingState(false);
        unlink(sane.c_str());
    }
    if (tidy)
        tidy(system);
    papplSystemSetSaveCallback(system, QueueSave, nullptr);
    std::thread(Saver, system).detach();
}

void FinishStateFile(pappl_system_t* system)
{
    bool pending;
    {
        std::lock_guard<std::mutex> hold(gLock);
        pending = gPending;
        gPending = false;
    }
    if (pending)
        Save(system);
    std::lock_guard<std::mutex> hold(gLock);
    LockStateSave();
    gFinished = true;
    UnlockStateSave();
    gWake.notify_all();
}
