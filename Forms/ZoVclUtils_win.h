// Window-level operations shared by every window of the installer: the modal
// show over an owner, the information box, the folder picker and the
// double-buffered painting switch.
#pragma once

#include <windows.h>

#include "ZoForms_win.h"
#include "ZoTypes.h"

class TZoVclfn {
public:
    TZoVclfn() = delete;

    // Shows window modally over the top-level window of owner (a windowed
    // control), disabling that window only. Raises EAssertionFailed when owner
    // is not a window, EInvalidOperation "Cannot make a visible window modal"
    // when window is visible, disabled or already modal. The modal result.
    static int ShowModalOver(TCustomForm* window, HWND owner);
    // The one information box: information icon, OK, caption the application title.
    static void ShowInfo(HWND owner, const WideString& text);
    // The folder picker; on true, path is the chosen folder with a trailing backslash.
    static bool SelectDirectory(HWND parent, const WideString& caption, WideString& path);
    static void EnableDoubleBuffering(TCustomForm* form);
    // Schedules a full repaint of the form and every control.
    static void InvalidateAll(TCustomForm* form);
};

// The shell's folder browser.
class TZoPathDialog {
public:
    WideString Caption;  // the prompt shown in the picker
    WideString Path;     // in: initial selection (ignored unless an existing folder); out: the choice
    WideString Root;     // limits the tree; empty: the whole desktop

    bool Execute(HWND parent);
};
