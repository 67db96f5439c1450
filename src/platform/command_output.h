// Running a command the user named and taking what it prints: how a login token is fetched from
// the user's own OAuth helper.
#pragma once

#include <string>

namespace platform {

// Runs command through the system's shell, its standard input and error left to the user; true
// with output set to the first line it printed (line end removed) when it exits with status 0.
// False with error set otherwise. At most 64 KiB are read.
bool FirstLineOfCommand(const std::string& command, std::string& output, std::string& error);

}  // namespace platform
