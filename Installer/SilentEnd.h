// How a run without a person ends early: one line on standard output, then the
// process ends with one exit code of the README's table. The install steps and
// the download both end a "/Silent" run this way, so it never waits for anyone.
#pragma once

#include <cstdlib>

#include "Texts.h"
#include "ZoLog.h"
#include "ZoSysUtils.h"
#include "ZoTypes.h"

class TSilentEnd {
public:
    virtual ~TSilentEnd() = default;

    // The line (its line breaks made blanks: one report, one line), then the end.
    [[noreturn]] void EndSilently(int exitCode, WideString line)
    {
        line = ReplaceText(line, u"\r\n", u" ", rfReplaceAll);
        for (char16_t& c : line)
            if (c == u'\r' || c == u'\n') c = u' ';
        LogAdd(TLogEntry::Error, line);
        WriteLine(line);
        // Where the whole story is.
        if (RunLog().IsOpen()) WriteLine(Text(TTextId::LogFileLine) + RunLog().Path());
        EndProcess(exitCode);
        std::_Exit(exitCode);  // not reached: EndProcess does not return
    }

    // Ends the process at once with the exit code, without tearing a window
    // down. Tests override it to observe the exit instead.
    [[noreturn]] virtual void EndProcess(int exitCode)
    {
        LogAdd(TLogEntry::Exit, IntToStr(exitCode));
        std::_Exit(exitCode);
    }

protected:
    // Where the line goes; tests record it.
    virtual void WriteLine(const WideString& line) { TZoSysfn::WriteConsoleLine(line); }
};
