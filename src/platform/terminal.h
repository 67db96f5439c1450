// What a command-line program needs of the terminal it runs on.
#pragma once

#include <optional>
#include <string>

namespace platform {

// True when standard error is a terminal, where a live progress line can be redrawn in place.
bool StandardErrorIsTerminal();

// At the first interrupt (Ctrl-C) or termination request, calls on_stop, which must be safe in a
// signal handler; a second one ends the program at once. An interrupted write is restarted, so
// the write under way when the signal comes finishes instead of failing.
void ListenForInterruption(void (*on_stop)());

// Asks on the controlling terminal with prompt and reads one line without showing what is typed
// (a password); nullopt when there is no terminal or nothing could be read. Echo comes back
// however the read ends.
std::optional<std::string> ReadSecretFromTerminal(const std::string& prompt);

}  // namespace platform
