// What a command-line program needs of the terminal it runs on.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace platform {

// The program's arguments after its name, as UTF-8 text: on Windows taken from the wide command
// line, so any name typed or passed comes through whole; elsewhere argv as it is.
std::vector<std::string> CommandLineArguments(int argc, char** argv);

// Lets UTF-8 text written to standard output and standard error show right on a Windows
// console; nothing to do elsewhere. The bytes written to a pipe or a file are never changed.
void UseUtf8Console();

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
