// Starting this program again with the administrator's rights, for an
// installer (or its uninstaller) whose manifest asks for none but whose work
// this time is the machine's: an installation for every user, or the removal
// of one.
//
// The copy is started through the shell with the "runas" verb, which shows
// the consent prompt (or asks for an administrator's password), and is waited
// for; its exit code is ours. A copy that still lacks the rights (the prompt
// is off and the user is no administrator) finds the mark this process left
// in the environment it inherits and does not try again.
#pragma once

#include "Elevation.h"
#include "ZoFnRef.h"
#include "ZoTypes.h"

// The process's token is the full administrator's one (or the system's).
bool ProcessIsElevated();
// This process was started by RunElevated and must not start another copy.
bool StartedForElevation();

struct TElevatedRun {
    bool Started = false;  // false: refused at the prompt, or could not start
    bool Refused = false;  // the user said no at the prompt (ERROR_CANCELLED)
    int ExitCode = 0;      // the copy's, when it started
};

// Runs this program's own file with the given parameters, elevated, and
// waits for it to end. owner (a window handle, or null) owns the prompt, so it
// comes to the front instead of flashing in the taskbar; started runs once
// the copy runs (the caller's window steps aside then).
TElevatedRun RunElevated(const WideString& parameters, void* owner = nullptr,
                         TFnRef<void()> started = {});
