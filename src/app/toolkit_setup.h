// How the toolkit is set up before it starts, and what of that the programs we start for the
// user must not inherit.
#pragma once

#include <wx/utils.h>

// Settings made in our own environment before the toolkit starts; a choice the user made there
// is left as it is:
// - scrollbars stay drawn rather than appear only when the pointer comes near (GTK's overlay
//   scrollbars), so that a window whose upper part scrolls looks like one;
// - the toolkit does not load OpenGL, which nothing in the window draws with: finding out which
//   visuals OpenGL could use loads the graphics driver (with the software one, a compiler
//   library of about 45 MiB), half of the window's memory.
void SetUpToolkitEnvironment();

// The environment for a program started on the user's behalf (a browser, a file manager): ours,
// without the settings made for this program alone.
wxEnvVariableHashMap EnvironmentForOtherPrograms();
