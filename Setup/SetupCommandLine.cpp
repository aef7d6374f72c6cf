#include "SetupCommandLine.h"

#include <iterator>
#include <span>

#include "Texts.h"
#include "ZoLog.h"
#include "ZoPlatform.h"
#include "ZoSysUtils.h"

namespace {

enum class TProgram : uint8_t { Installer = 1, Uninstaller = 2, Both = 3 };

// A switch "/NAME" or "/NAME=VALUE": exactly one of the two members is set.
struct TSwitch {
    const char16_t* name;
    TProgram program;
    std::optional<WideString> TSetupCommandLine::*value;
    bool TSetupCommandLine::*flag;
};

const TSwitch kSwitches[] = {
    {u"/DIR", TProgram::Installer, &TSetupCommandLine::installDir, nullptr},
    {u"/LOG", TProgram::Both, &TSetupCommandLine::logPath, nullptr},
    {u"/NORUN", TProgram::Installer, nullptr, &TSetupCommandLine::noRun},
    {u"/NORESTART", TProgram::Installer, nullptr, &TSetupCommandLine::noRestart},
    {u"/LANG", TProgram::Both, &TSetupCommandLine::language, nullptr},
};

bool For(TProgram s, TProgram program)
{
    return (static_cast<uint8_t>(s) & static_cast<uint8_t>(program)) != 0;
}

std::optional<TRunMode> ModeSwitch(const WideString& arg, TProgram program)
{
    if (TextEquals(arg, u"/Silent")) return TRunMode::Silent;
    if (program == TProgram::Installer && TextEquals(arg, u"/Auto")) return TRunMode::Auto;
    return std::nullopt;
}

// Applies one deployment switch; false when the word is none of this program's,
// or repeats one already given.
bool ApplySwitch(const WideString& arg, TProgram program, TSetupCommandLine& line, std::span<bool> seen)
{
    const size_t eq = arg.find(u'=');
    const WideString name = arg.substr(0, eq);
    for (size_t i = 0; i < std::size(kSwitches); ++i) {
        const TSwitch& s = kSwitches[i];
        if (!For(s.program, program) || !TextEquals(name, s.name)) continue;
        if (seen[i]) return false;
        seen[i] = true;
        if (s.value) {
            if (eq == WideString::npos || eq + 1 == arg.size()) return false;
            line.*s.value = arg.substr(eq + 1);
        } else {
            if (eq != WideString::npos) return false;
            line.*s.flag = true;
        }
        return true;
    }
    return false;
}

TSetupCommandLine Parse(const std::vector<WideString>& args, TProgram program)
{
    TSetupCommandLine line;
    std::optional<TRunMode> mode;
    bool seen[std::size(kSwitches)] = {};
    for (const WideString& arg : args) {
        if (auto m = ModeSwitch(arg, program)) {
            if (mode) return {};
            mode = m;
        } else if (!ApplySwitch(arg, program, line, seen)) {
            return {};
        }
    }
    if (!mode) {
        // Switches without "/Silent" or "/Auto" install nothing unattended; a
        // language alone still speaks in the window.
        TSetupCommandLine window;
        if (args.size() == 1) window.language = line.language;
        return window;
    }
    line.mode = *mode;
    return line;
}

}  // namespace

TSetupCommandLine ParseSetupCommandLine(const std::vector<WideString>& args)
{
    return Parse(args, TProgram::Installer);
}

TSetupCommandLine ParseUninstallCommandLine(const std::vector<WideString>& args)
{
    return Parse(args, TProgram::Uninstaller);
}

std::vector<WideString> ProcessArguments()
{
    std::vector<WideString> args = SplitCommandLine(ZoPlatform::CommandLine());
    if (!args.empty()) args.erase(args.begin());
    return args;
}

void OpenRunLog(const TSetupCommandLine& line, const WideString& tempDir, const WideString& product,
                const WideString& role)
{
    if (line.logPath && RunLog().OpenAt(*line.logPath)) return;
    RunLog().Open(tempDir, product, role);
    if (line.logPath) LogAdd(TLogEntry::Error, Text(TTextId::LogFileNotCreated) + *line.logPath);
}
