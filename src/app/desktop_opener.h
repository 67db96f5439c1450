// Hands a file, a folder or a web address to the program the desktop has for it, and finds out
// whether that worked. Where the desktop's opener is xdg-open, starting it says nothing: only its
// exit status does, so that is waited for, without holding the window up.
#pragma once

#include <functional>
#include <string>

// on_failure gets the reason in a few words ("no program for it is installed"); it runs on the
// UI thread, at once or once the opener has ended, and never when the target was shown.
void OpenWithDesktopProgram(const std::string& target, std::function<void(const std::string&)> on_failure);

// What xdg-open's exit status means for the user.
std::string DesktopOpenerFailure(int exit_status);
