// Asking the product's running programs to close before its files are written
// or removed: the choices a person has, the time they are given, and the
// texts the installer and the uninstaller show or log about it.
#pragma once

#include "ZoTypes.h"

// What the running-programs dialog answers. First asked: Close or Cancel;
// asked again about programs that did not close: Wait, End or Cancel.
enum class TCloseChoice { Close, Wait, End, Cancel };

// How long the programs asked to close are waited for, in all, before they
// are named again (window) or ended (no one there).
inline constexpr unsigned kProgramCloseWaitMs = 15000;

// Every text shown or logged about it, in the program's language (the
// language tables give them: CloseProgramsTexts()).
struct TCloseProgramsTexts {
    WideString Caption;
    WideString Running;
    WideString StillRunning;
    WideString CloseAndContinue;
    WideString Cancel;
    WideString Wait;
    WideString End;
    WideString Closing;
    // Log lines; %s: the program as listed.
    WideString Asked;
    WideString EndedNotClosed;
    WideString Cancelled;
    // Appended to the copy-failure window's reason; %s: the programs.
    WideString Holders;
    WideString ListSeparator;
};
