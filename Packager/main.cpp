// zosetup-pack: the packaging tool's command line.
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <iostream>
#include <optional>
#include <string>
#include <vector>

#include "BuildProgress.h"
#include "Inspect.h"
#include "NewProject.h"
#include "PeResources.h"
#include "ProjectBuilder.h"
#include "ProjectCheck.h"
#include "WingetManifest.h"
#include "SetupFn.h"
#include "ZoPlatform.h"
#include "ZoStream.h"
#include "ZoSysUtils.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <unistd.h>
#endif

namespace {

// The tool's own locale, as a POSIX program reads it (LC_ALL, then
// LC_MESSAGES, then LANG); empty when none is set.
WideString ToolLocale()
{
    for (const char* name : {"LC_ALL", "LC_MESSAGES", "LANG"})
        if (WideString value = ZoPlatform::GetEnv(name); !value.empty()) return value;
    return WideString();
}

const char kUsage[] =
    "usage: zosetup-pack COMMAND ...\n"
    "\n"
    "commands:\n"
    "  build PROJECT.xml [-o DIR] [--arch x86|x64] [--stub PATH] [--uninstaller PATH] [--var NAME=VALUE]\n"
    "                   [-j N] [--quiet]\n"
    "                   build the full installer (and the online installer when the project's\n"
    "                   BuildMiniSetup is set) into DIR, by default the project's folder;\n"
    "                   the stub is the installer program zosetup.exe, by default the 32-bit\n"
    "                   one (--arch x64: the 64-bit one) beside this tool or in the build tree;\n"
    "                   Uninstall.exe of the same bitness (--uninstaller, found the same way)\n"
    "                   joins {app} unless the file list carries one; --var sets a project variable\n"
    "                   ({NAME} or NAME); -j: compressing threads (default: one per core)\n"
    "  inspect INSTALLER.exe [--script] [--extract DIR]\n"
    "                   show the mode, resources and contents of an installer; --script\n"
    "                   prints its setup script, --extract writes every product file below DIR\n"
    "  manifest INSTALLER.exe --id PUBLISHER.PRODUCT --url URL [-o DIR]\n"
    "                   write a winget manifest (schema 1.10.0: version, installer and\n"
    "                   default-locale files) for the installer into DIR, by default its folder\n"
    "  new PROJECT.xml  write a starting project (with an icon, an agreement and a files folder)\n"
    "  encode IN OUT    encode a file with the package codec (zlib level 9 + scrambling)\n"
    "  decode IN OUT    decode a file in the package codec, e.g. Uninstall.da1\n"
    "  --version        show the tool's version\n"
    "  --help           show this text\n";

class TUsageError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

bool StderrIsTerminal()
{
#ifdef _WIN32
    return _isatty(_fileno(stderr));
#else
    return isatty(fileno(stderr));
#endif
}

int Codec(bool encode, const WideString& in, const WideString& out)
{
    TMemoryStream data;
    data.LoadFromFile(in);
    if (encode)
        TSetupfn::EncodeStream(&data);
    else
        TSetupfn::DecodeStream(&data);
    // Write beside the target and rename, so a failure leaves nothing half-written.
    const WideString tmp = out + u".part";
    data.SaveToFile(tmp);
    std::error_code ec;
    std::filesystem::rename(std::filesystem::path(tmp), std::filesystem::path(out), ec);
    if (ec) {
        std::filesystem::remove(std::filesystem::path(tmp), ec);
        throw EInOutError(FormatText(u"Cannot write file \"%s\".", {out}));
    }
    return 0;
}

int Build(const std::vector<WideString>& args)
{
    TBuildOptions options;
    options.AddUninstaller = true;
    bool quiet = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const WideString& a = args[i];
        auto value = [&]() -> const WideString& {
            if (i + 1 >= args.size()) throw TUsageError("build: " + ToUtf8(a) + " needs a value");
            return args[++i];
        };
        if (a == u"-o" || a == u"--output")
            options.OutputDir = value();
        else if (a == u"--stub")
            options.StubFile = value();
        else if (a == u"--arch") {
            const WideString& v = value();
            if (TextEquals(v, u"x86"))
                options.Arch = TTargetArch::X86;
            else if (TextEquals(v, u"x64"))
                options.Arch = TTargetArch::X64;
            else
                throw TUsageError("build: --arch is x86 or x64");
        }
        else if (a == u"--uninstaller")
            options.UninstallerFile = value();
        else if (a == u"--var") {
            const WideString& v = value();
            size_t eq = v.find(u'=');
            if (eq == WideString::npos || eq == 0) throw TUsageError("build: --var needs NAME=VALUE, e.g. {BuildDir}=out");
            WideString name = v.substr(0, eq);
            if (name.front() != u'{') name = u"{" + name + u"}";
            options.Variables.emplace_back(name, v.substr(eq + 1));
        }
        else if (a == u"-j" || a == u"--threads") {
            auto n = TryStrToInt(value());
            if (!n || *n < 1 || *n > 256) throw TUsageError("build: -j needs a number of threads from 1 to 256");
            options.Threads = static_cast<unsigned>(*n);
        } else if (a == u"-q" || a == u"--quiet")
            quiet = true;
        else if (!a.empty() && a[0] == u'-')
            throw TUsageError("build: unknown option " + ToUtf8(a));
        else if (options.ProjectFile.empty())
            options.ProjectFile = a;
        else
            throw TUsageError("build: only one project file");
    }
    if (options.ProjectFile.empty()) throw TUsageError("build: which project file?");

    std::optional<TBuildProgress> progress;
    if (!quiet) {
        progress.emplace(stderr, StderrIsTerminal());
        options.Progress = [&](uint64_t done, uint64_t total) { progress->Update(done, total); };
    }
    const auto start = std::chrono::steady_clock::now();
    TBuildResult r;
    try {
        r = TProjectBuilder::Build(options);
    } catch (...) {
        if (progress) progress->Stop();
        throw;
    }
    if (progress) progress->Stop();
    for (const WideString& w : r.Warnings)
        std::fprintf(stderr, "zosetup-pack: %s: warning: %s\n", ToUtf8(options.ProjectFile).c_str(), ToUtf8(w).c_str());
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    if (!quiet) {
        std::printf("built %s: %s, %s in, %s out, %.2f s, %s installer\n", ToUtf8(r.FullSetup).c_str(),
                    CountText(r.Files, "file", "files").c_str(), SizeText(r.BytesIn).c_str(),
                    SizeText(r.FullBytes).c_str(), seconds, ArchText(r.Arch));
        if (!r.OnlineSetup.empty())
            std::printf("built %s: online installer, %s\n", ToUtf8(r.OnlineSetup).c_str(), SizeText(r.OnlineBytes).c_str());
    }
    return 0;
}

int Inspect(const std::vector<WideString>& args)
{
    TInspectOptions options;
    for (size_t i = 0; i < args.size(); ++i) {
        if (args[i] == u"--script")
            options.Script = true;
        else if (args[i] == u"--extract") {
            if (i + 1 >= args.size()) throw TUsageError("inspect: --extract needs a folder");
            options.ExtractDir = args[++i];
        } else if (!args[i].empty() && args[i][0] == u'-')
            throw TUsageError("inspect: unknown option " + ToUtf8(args[i]));
        else if (options.File.empty())
            options.File = args[i];
        else
            throw TUsageError("inspect: only one file");
    }
    if (options.File.empty()) throw TUsageError("inspect: which installer?");
    try {
        InspectInstaller(options, std::cout);
    } catch (const Exception& e) {
        std::cout.flush();
        throw EPackageError(options.File + u": " + e.Message());
    }
    return 0;
}

int Manifest(const std::vector<WideString>& args)
{
    TManifestOptions options;
    for (size_t i = 0; i < args.size(); ++i) {
        const WideString& a = args[i];
        auto value = [&]() -> const WideString& {
            if (i + 1 >= args.size()) throw TUsageError("manifest: " + ToUtf8(a) + " needs a value");
            return args[++i];
        };
        if (a == u"--id")
            options.Identifier = value();
        else if (a == u"--url")
            options.Url = value();
        else if (a == u"-o" || a == u"--output")
            options.OutputDir = value();
        else if (!a.empty() && a[0] == u'-')
            throw TUsageError("manifest: unknown option " + ToUtf8(a));
        else if (options.Installer.empty())
            options.Installer = a;
        else
            throw TUsageError("manifest: only one installer");
    }
    if (options.Installer.empty() || options.Identifier.empty() || options.Url.empty())
        throw TUsageError("manifest needs INSTALLER.exe, --id PUBLISHER.PRODUCT and --url URL");
    try {
        for (const WideString& path : WriteWingetManifest(options)) std::printf("wrote %s\n", ToUtf8(path).c_str());
    } catch (const Exception& e) {
        throw EPackageError(options.Installer + u": " + e.Message());
    }
    return 0;
}

int Run(const std::vector<WideString>& args)
{
    if (!args.empty() && args[0] == u"--version") {
        std::printf("zosetup-pack %s\n", ZO_PACK_VERSION);
        return 0;
    }
    if (args.empty() || args[0] == u"--help" || args[0] == u"-h") {
        std::fputs(kUsage, args.empty() ? stderr : stdout);
        return args.empty() ? 2 : 0;
    }
    const WideString& command = args[0];
    const std::vector<WideString> rest(args.begin() + 1, args.end());
    try {
        if (command == u"build") return Build(rest);
        if (command == u"inspect") return Inspect(rest);
        if (command == u"manifest") return Manifest(rest);
        if (command == u"new" && rest.size() == 1) {
            WriteNewProject(rest[0], LanguageOfLocale(ToolLocale()));
            std::printf("wrote %s with icon.png, license.txt and files/ beside it\n", ToUtf8(rest[0]).c_str());
            return 0;
        }
        if ((command == u"encode" || command == u"decode") && rest.size() == 2)
            return Codec(command == u"encode", rest[0], rest[1]);
        throw TUsageError("unknown command or wrong arguments: " + ToUtf8(command));
    } catch (const EProjectError& e) {
        std::fprintf(stderr, "%s\n", e.what());  // FILE:LINE:COLUMN: as compilers write it, for editors to follow
        return 1;
    } catch (const TUsageError& e) {
        std::fprintf(stderr, "zosetup-pack: %s (see --help)\n", e.what());
        return 2;
    } catch (const EDecompressionError& e) {
        // zlib's bare "Error", or the decoder's own sentence (a ceiling passed).
        std::string why = e.Message() == u"Error" ? "not in the package codec's encoded form (damaged or foreign data)"
                                                 : e.what();
        std::fprintf(stderr, "zosetup-pack: %s: %s\n", ToUtf8(rest.empty() ? command : rest[0]).c_str(), why.c_str());
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zosetup-pack: %s\n", e.what());
        return 1;
    }
}

}  // namespace

#ifdef _WIN32
int wmain(int argc, wchar_t** argv)
{
    SetConsoleOutputCP(CP_UTF8);
    std::vector<WideString> args;
    for (int i = 1; i < argc; ++i) args.emplace_back(reinterpret_cast<const char16_t*>(argv[i]));
    return Run(args);
}
#else
int main(int argc, char** argv)
{
    SetOutOfMemoryText(TextIn(TLanguage::enUS, TTextId::OutOfMemory));  // the tool speaks English
    std::vector<WideString> args;
    for (int i = 1; i < argc; ++i) args.push_back(FromUtf8(argv[i]));
    return Run(args);
}
#endif
