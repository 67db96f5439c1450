// Which process this is, and whether another one still runs: files named after the process
// that made them are left alone while it lives and cleared away once it has gone.
#pragma once

#include <string>

namespace platform {

long CurrentProcessId();

// For pid > 0: false only when no process with this id exists; one that runs under another user (and may
// not be signalled by us) counts as running.
bool ProcessRunning(long pid);

// The name of this computer ("localhost" when it has none to give).
std::string HostName();

}  // namespace platform
