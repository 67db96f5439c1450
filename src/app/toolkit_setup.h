// How the toolkit is set up before it starts, and what of that the programs we start for the
// user must not inherit.
#pragma once

#include <wx/utils.h>

// Scrollbars stay drawn rather than appear only when the pointer comes near (GTK's overlay
// scrollbars), so that a window whose upper part scrolls looks like one. Called before the
// toolkit starts; a choice the user made in the environment is left as it is.
void KeepScrollbarsInView();

// The environment for a program started on the user's behalf (a browser, a file manager): ours,
// without the settings made for this program alone.
wxEnvVariableHashMap EnvironmentForOtherPrograms();
