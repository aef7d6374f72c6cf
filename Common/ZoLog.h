// The run's log: every installer and uninstaller run leaves a UTF-8 text file
// in the temporary folder saying what it did (its steps, the files it wrote,
// the registry values, the programs it ended and ran, its errors and its exit
// code), one time-stamped line each. Lines are written through at once, so a
// run that dies leaves its account behind. A log that cannot be created costs
// the run nothing: adding to it then does nothing.
#pragma once

#include "ZoStream.h"
#include "ZoSysUtils.h"

enum class TLogEntry { Step, File, Folder, Registry, Shortcut, Ended, Run, Note, Error, Exit };

class TZoLog {
public:
    // "PRODUCT ROLE YYYYMMDD-HHMMSS.log"; characters a file name cannot hold
    // become "_", and an empty product is "zosetup".
    static WideString FileName(const WideString& product, const WideString& role, const TCalendarTime& time);
    // One line without its end: "YYYY-MM-DD HH:MM:SS.mmm KIND  text"; the
    // text's own line breaks become blanks, so every entry is one line.
    static WideString Line(TLogEntry kind, const WideString& text, const TCalendarTime& time);

    // Creates a new log in folder, never reusing a file: a second run in the
    // same second gets " (2)" and so on. False when none can be made.
    bool Open(const WideString& folder, const WideString& product, const WideString& role);
    // The log at the path a deployment tool named: its folder made, an earlier
    // file of that name replaced by a new one. False when it cannot be made.
    bool OpenAt(const WideString& path);
    bool IsOpen() const { return file_ != nullptr; }
    // The log's full path; empty while none is open.
    const WideString& Path() const { return path_; }
    void Add(TLogEntry kind, const WideString& text);
    void Close();

private:
    // The run's file is open: the mark, and its path kept.
    bool Begin(const WideString& path);

    UniqueFile file_;
    WideString path_;
};

// The process's one log, opened by the program's entry and added to by its steps.
TZoLog& RunLog();
inline void LogAdd(TLogEntry kind, const WideString& text) { RunLog().Add(kind, text); }
