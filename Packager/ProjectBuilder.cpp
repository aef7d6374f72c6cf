#include "ProjectBuilder.h"

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <set>
#include <system_error>
#include <thread>

#include "AppManifest.h"
#include "NameGuid.h"
#include "PackageDigest.h"
#include "PackageWriter.h"
#include "ProjectCheck.h"
#include "PeIcon.h"
#include "PeResources.h"
#include "PeVersion.h"
#include "SetupFn.h"
#include "ZoPlatform.h"
#include "ZoSysUtils.h"

namespace fs = std::filesystem;

namespace {

// Project paths are written Windows-style; on Linux the separators turn round.
fs::path ToPath(WideString text)
{
#ifndef _WIN32
    std::replace(text.begin(), text.end(), u'\\', u'/');
#endif
    return fs::path(text);
}

WideString FromPath(const fs::path& p) { return p.u16string(); }

[[noreturn]] void Fail(const WideString& file, const WideString& what)
{
    throw EPackageError(file.empty() ? what : file + u": " + what);
}

TBytes ReadWholeFile(const fs::path& file, const char16_t* what)
{
    try {
        TMemoryStream data;
        data.LoadFromFile(FromPath(file));
        return std::move(data.Bytes());
    } catch (const Exception& e) {
        Fail(FromPath(file), FormatText(u"cannot read the %s: %s", {what, e.Message()}));
    }
}

TBytes Encoded(TBytes plain)
{
    TMemoryStream s{std::move(plain)};
    TSetupfn::EncodeStream(&s);
    return std::move(s.Bytes());
}

TBytes EncodedScript(const TSetupScript& script, const WideString& project)
{
    TMemoryStream s;
    script.SaveToStream(s);
    // The installer and the uninstaller decode no script past this ceiling.
    if (static_cast<uint64_t>(s.Size()) > TSetupfn::kMaxDecodedBytes)
        Fail(project, FormatText(u"the setup script would be %s MiB, more than the %s MiB an installer reads",
                                 {IntToStr(s.Size() >> 20), IntToStr(int64_t{TSetupfn::kMaxDecodedBytes >> 20})}));
    TSetupfn::EncodeStream(&s);
    return std::move(s.Bytes());
}

bool HasWildcard(const WideString& mask) { return mask.find_first_of(u"*?") != WideString::npos; }

std::vector<WideString> SplitMasks(const WideString& masks)
{
    std::vector<WideString> list;
    size_t start = 0;
    for (;;) {
        size_t end = masks.find(u';', start);
        WideString m = Trim(masks.substr(start, end == WideString::npos ? WideString::npos : end - start));
        if (!m.empty()) list.push_back(m);
        if (end == WideString::npos) break;
        start = end + 1;
    }
    if (list.empty()) list.push_back(u"*");
    return list;
}

// "{app}\\bin" + "x.dll" -> "{APP}\BIN\X.DLL": the key that two entries must not share.
WideString DestinationKey(const WideString& destDir, const WideString& name)
{
    WideString key = WideUpperCase(WithTrailingBackslash(destDir) + name);
    return ReplaceText(key, u"\\\\", u"\\", rfReplaceAll);
}

TDateTime ModificationTime(const fs::path& file)
{
    auto stamp = fs::last_write_time(file);
    auto sys = std::chrono::file_clock::to_sys(stamp);
    return UnixTimeToLocalDateTime(std::chrono::duration_cast<std::chrono::seconds>(sys.time_since_epoch()).count());
}

// Projects come from Windows, where names match in any letter case.
fs::path FindIgnoringCase(const fs::path& dir, const WideString& name)
{
    std::error_code ec;
    for (fs::directory_iterator it(dir, ec), end; !ec && it != end; it.increment(ec))
        if (TextEquals(FromPath(it->path().filename()), name) && it->is_regular_file(ec)) return it->path();
    return {};
}

struct TFound {
    WideString relative;  // below the entry's source folder, with backslashes
    fs::path file;
};

// The real files one file entry names, sorted by their path below the source folder.
std::vector<TFound> ResolveEntry(const TSetupFile& entry, const fs::path& projectDir)
{
    const fs::path sourceDir = projectDir / ToPath(entry.SourcePath);
    std::map<WideString, TFound> found;  // by upper-case relative path: sorted, no doubles
    for (const WideString& mask : SplitMasks(entry.SourceMask)) {
        size_t cut = mask.find_last_of(u"\\/");
        WideString sub = cut == WideString::npos ? u"" : mask.substr(0, cut + 1);
        WideString pattern = cut == WideString::npos ? mask : mask.substr(cut + 1);
        std::replace(sub.begin(), sub.end(), u'/', u'\\');
        const fs::path dir = sub.empty() ? sourceDir : sourceDir / ToPath(sub);
        if (!HasWildcard(pattern)) {
            fs::path file = dir / ToPath(pattern);
            std::error_code ec;
            if (!fs::is_regular_file(file, ec)) file = FindIgnoringCase(dir, pattern);
            if (file.empty()) Fail(FromPath(dir / ToPath(pattern)), u"missing source file");
            found[WideUpperCase(sub + pattern)] = {sub + pattern, file};
            continue;
        }
        std::error_code ec;
        if (!fs::is_directory(dir, ec)) Fail(FromPath(dir), u"missing source folder");
        size_t matched = 0;
        auto visit = [&](const fs::directory_entry& e) {
            std::error_code ignored;
            if (!e.is_regular_file(ignored)) return;
            WideString name = FromPath(e.path().filename());
            if (!MatchesMask(name, pattern)) return;
            WideString rel = FromPath(e.path().lexically_relative(dir));
            std::replace(rel.begin(), rel.end(), u'/', u'\\');
            rel = sub + rel;
            found[WideUpperCase(rel)] = {rel, e.path()};
            ++matched;
        };
        try {
            if (entry.IncludeSubPath)
                for (const auto& e : fs::recursive_directory_iterator(dir)) visit(e);
            else
                for (const auto& e : fs::directory_iterator(dir)) visit(e);
        } catch (const fs::filesystem_error& e) {
            Fail(FromPath(dir), u"cannot list the source folder: " + FromUtf8(e.code().message()));
        }
        if (matched == 0) Fail(FromPath(dir), FormatText(u"the mask \"%s\" matches no file", {mask}));
    }
    std::vector<TFound> list;
    for (auto& [key, f] : found) list.push_back(std::move(f));
    return list;
}

fs::path ToolFolder()
{
    WideString self = ZoPlatform::ModuleFileName();
    return self.empty() ? fs::path() : ToPath(self).parent_path();
}

// Version numbers of the installer's version resource from "major.minor.release.build".
std::array<uint16_t, 4> VersionWords(const TSetupBaseInfo& info)
{
    TVersionNumbers v = info.DecodeVersion();
    auto word = [](int32_t n) { return static_cast<uint16_t>(std::clamp<int32_t>(n, 0, 0xFFFF)); };
    return {word(v.Major), word(v.Minor), word(v.Release), word(v.Build)};
}

TBytes VersionResource(const TSetupBaseInfo& info, const WideString& fileName)
{
    TVersionInfo v;
    v.FileVersion = v.ProductVersion = VersionWords(info);
    const WideString product = info.ProductName.empty() ? info.AppTitle : info.ProductName;
    const WideString description = info.InstallFileDescription.empty() ? product : info.InstallFileDescription;
    auto add = [&](const char16_t* name, const WideString& text) {
        if (!text.empty()) v.Strings.emplace_back(name, text);
    };
    add(u"CompanyName", info.CompanyName);
    add(u"FileDescription", description);
    add(u"FileVersion", info.Version);
    add(u"LegalCopyright", info.LegalCopyright);
    add(u"OriginalFilename", fileName);
    add(u"ProductName", product);
    add(u"ProductVersion", info.Version);
    return BuildVersionResource(v);
}

// The installer's version resource carries these texts, in 16-bit lengths:
// too long, and it would be a damaged one. The file name stands at its longest.
void CheckVersionTexts(const TProjectDocument& doc, const TSetupBaseInfo& info)
{
    try {
        VersionResource(info, WideString(255, u'x'));
    } catch (const EPeFormatError&) {
        const WideString none;
        const std::pair<const char*, const WideString*> texts[] = {
            {"AppTitle", info.ProductName.empty() ? &info.AppTitle : &none}, {"ProductName", &info.ProductName},
            {"InstallFileDescription", &info.InstallFileDescription}, {"CompanyName", &info.CompanyName},
            {"LegalCopyright", &info.LegalCopyright}, {"Version", &info.Version}};
        const auto longest = std::max_element(std::begin(texts), std::end(texts), [](const auto& a, const auto& b) {
            return a.second->size() < b.second->size();
        });
        doc.Fail(doc.Element("BaseInfo"), longest->first,
                 FormatText(u"%s is %s characters long: the installer's version resource, which carries it, holds "
                            u"at most 65,535 bytes in all",
                            {FromUtf8(longest->first), IntToStr(static_cast<int64_t>(longest->second->size()))}));
    }
}

// An output written under a temporary name and renamed when everything is
// done, so a failed build leaves no half installer behind.
class TPendingOutput {
public:
    explicit TPendingOutput(fs::path target) : target_(std::move(target)), temp_(target_)
    {
        temp_ += ".part";
    }
    ~TPendingOutput()
    {
        std::error_code ec;
        if (!committed_) fs::remove(temp_, ec);
    }
    TPendingOutput(const TPendingOutput&) = delete;
    TPendingOutput& operator=(const TPendingOutput&) = delete;

    WideString Temp() const { return FromPath(temp_); }
    void Commit()
    {
        std::error_code ec;
        fs::rename(temp_, target_, ec);
        if (ec) {  // some systems will not rename over an existing file
            std::error_code ignored;
            fs::remove(target_, ignored);
            fs::rename(temp_, target_, ec);
        }
        if (ec) Fail(FromPath(target_), u"cannot write the installer: " + FromUtf8(ec.message()));
        committed_ = true;
    }

private:
    fs::path target_, temp_;
    bool committed_ = false;
};

// The places a program of the tool's kit is looked for, in order.
std::vector<WideString> KitCandidates(const char* folder, const char* name, const WideString& toolFolder)
{
    std::vector<WideString> list;
    fs::path tool = toolFolder.empty() ? ToolFolder() : ToPath(toolFolder);
    if (tool.empty()) return list;
    list.push_back(FromPath(tool / name));
    for (const char* arch : {"x86", "x64"}) list.push_back(FromPath(tool / arch / name));
    // Installed (make install, the release archive): PREFIX/bin and PREFIX/share/zosetup/x86.
    for (const char* arch : {"x86", "x64"})
        list.push_back(FromPath((tool / ".." / "share" / "zosetup" / arch / name).lexically_normal()));
    // Copied beside the build trees' folders: win32/ (32-bit), win64/ and win/ (64-bit), as built or flattened.
    for (const char* build : {"win32", "win64", "win"}) {
        list.push_back(FromPath(tool / build / name));
        list.push_back(FromPath(tool / build / folder / name));
    }
    list.push_back(FromPath((tool / ".." / folder / name).lexically_normal()));
    for (const char* build : {"win32", "win64", "win"})
        list.push_back(FromPath((tool / ".." / ".." / build / folder / name).lexically_normal()));
    return list;
}

// The first candidate of the wanted bitness (Default: any); empty when none is.
WideString FirstOfArch(const std::vector<WideString>& candidates, TTargetArch arch)
{
    for (const WideString& c : candidates) {
        std::error_code ec;
        if (!fs::is_regular_file(ToPath(c), ec)) continue;
        if (arch == TTargetArch::Default || TProjectBuilder::ArchOf(c) == arch) return c;
    }
    return WideString();
}

// Adds {app}\Uninstall.exe to the file list unless an entry installs it
// already; the registered uninstall command names it. True when it was added
// (the last entry and the last source).
bool AddUninstaller(TSetupScript& script, std::vector<WideString>& sources, const TBuildOptions& options,
                    TTargetArch arch)
{
    TSetupFileList& files = *script.FileList;
    WideString destDir = u"{app}";
    for (const TSetupFile* f : files)
        if (DestinationKey(f->DestDir, u"") == u"{APP}\\") {
            destDir = f->DestDir;  // the install folder as the project writes it
            break;
        }
    const WideString key = DestinationKey(destDir, u"Uninstall.exe");
    for (const TSetupFile* f : files)
        if (DestinationKey(f->DestDir, f->SourceMask) == key) return false;

    // The uninstaller must be able to open the registration the installer
    // writes, so it comes with the stub's bitness.
    WideString file = options.UninstallerFile;
    if (file.empty()) file = FirstOfArch(TProjectBuilder::UninstallerCandidates(options.ToolFolder), arch);
    if (file.empty())
        Fail(options.ProjectFile, FormatText(u"the file list carries no Uninstall.exe and no %s one was found beside "
                                             u"the tool or in the build tree; give one with --uninstaller or add it "
                                             u"to the file list", {FromUtf8(ArchText(arch))}));
    std::error_code ec;
    uintmax_t size = fs::file_size(ToPath(file), ec);
    if (ec || !fs::is_regular_file(ToPath(file), ec)) Fail(file, u"cannot read the uninstaller");
    if (size > 0x7FFFFFFF) Fail(file, u"the file reaches 2 GiB; an installer cannot carry it");
    TSetupFile* entry = files.Add();
    entry->DestDir = destDir;
    entry->SourceMask = u"Uninstall.exe";
    entry->FileBytes = static_cast<int32_t>(size);
    entry->LastWriteDate = ModificationTime(ToPath(file));
    entry->ResID = NameBasedGuid(script.BaseInfo->GUID, key);
    sources.push_back(file);
    return true;
}

// The stub given, or the first one found of the wanted bitness (32-bit unless
// told otherwise); a given stub must be a program of the bitness asked for.
WideString ChooseStub(const TBuildOptions& options)
{
    if (!options.StubFile.empty()) {
        const TTargetArch arch = TProjectBuilder::ArchOf(options.StubFile);
        if (options.Arch != TTargetArch::Default && arch != TTargetArch::Default && arch != options.Arch)
            Fail(options.StubFile, FormatText(u"the stub is a %s program, but %s was asked for",
                                              {FromUtf8(ArchText(arch)), FromUtf8(ArchText(options.Arch))}));
        return options.StubFile;
    }
    const TTargetArch arch = options.Arch == TTargetArch::Default ? TTargetArch::X86 : options.Arch;
    WideString stub = FirstOfArch(TProjectBuilder::StubCandidates(options.ToolFolder), arch);
    if (stub.empty())
        Fail(u"", FormatText(u"no %s installer stub zosetup.exe found beside the tool or in the build tree; give one "
                             u"with --stub", {FromUtf8(ArchText(arch))}));
    return stub;
}

uint64_t FileSizeOf(const WideString& file)
{
    std::error_code ec;
    auto n = fs::file_size(ToPath(file), ec);
    return ec ? 0 : n;
}

// BaseInfo's values as variables, for the names the project does not define
// itself: the title and the rest are then written once.
void AddBaseInfoVariables(TSetupScript& script)
{
    const TSetupBaseInfo& i = *script.BaseInfo;
    const std::pair<const char16_t*, const WideString*> derived[] = {
        {u"{AppTitle}", &i.AppTitle},          {u"{Version}", &i.Version},
        {u"{GUID}", &i.GUID},                  {u"{Copyright}", &i.LegalCopyright},
        {u"{CompanyName}", &i.CompanyName},    {u"{CompanyUrl}", &i.CompanyUrl},
        {u"{DefaultFolder}", &i.DefInstallPath}};
    for (const auto& [name, value] : derived)
        if (!script.VarList->FindVar(name)) script.VarList->GetOrAddVar(name)->VarValue = *value;
}

WideString VariableNames(const TSetupVarList& vars)
{
    WideString list;
    for (const TSetupVar* v : vars) list += (list.empty() ? u"" : u", ") + v->VarName;
    return list;
}

// Programs to run and shortcut targets in the install folder that no file entry installs.
std::vector<WideString> MissingTargets(const TSetupScript& script)
{
    std::set<WideString> installed;
    for (const TSetupFile* f : *script.FileList) installed.insert(DestinationKey(f->DestDir, f->SourceMask));
    std::vector<WideString> warnings;
    auto check = [&](const WideString& target, const char16_t* what) {
        const WideString key = DestinationKey(u"", target).substr(1);  // no leading separator
        if (key.starts_with(u"{APP}\\") && !installed.count(key))
            warnings.push_back(FormatText(u"%s %s, which the package does not install", {what, target}));
    };
    for (const TSetupRun* r : *script.RunList) check(r->FileName, u"RunList starts");
    for (const TSetupShortCut* s : *script.ShortCutList) check(s->DstFile, u"a shortcut leads to");
    return warnings;
}

// Packed files reached through a link (the file itself, or a folder on its way
// down from the project's folder) that leads outside the project: the package
// would carry whatever the link's owner points it at.
std::vector<WideString> LinksLeavingProject(const std::vector<WideString>& sources, const fs::path& projectDir)
{
    std::vector<WideString> warnings;
    std::error_code ec;
    const fs::path base = fs::absolute(projectDir.empty() ? fs::path(".") : projectDir, ec).lexically_normal();
    const fs::path root = fs::canonical(base, ec);
    if (ec) return warnings;
    auto below = [](const fs::path& path, const fs::path& folder) {
        auto [f, p] = std::mismatch(folder.begin(), folder.end(), path.begin(), path.end());
        return f == folder.end() || (f->empty() && std::next(f) == folder.end());  // "dir/" ends in an empty part
    };
    for (const WideString& source : sources) {
        const fs::path file = fs::absolute(ToPath(source), ec).lexically_normal();
        bool link = fs::is_symlink(file, ec);
        for (fs::path p = file.parent_path(); !link && p != base && below(p, base); p = p.parent_path())
            link = fs::is_symlink(p, ec);
        if (!link) continue;
        const fs::path target = fs::canonical(file, ec);
        if (!ec && !below(target, root))
            warnings.push_back(FormatText(u"%s is a link to %s, outside the project", {source, FromPath(target)}));
    }
    return warnings;
}

}  // namespace

bool IsUsableResourceName(const WideString& name)
{
    if (name.empty() || name.size() > 255) return false;
    for (char16_t c : name)
        if (c <= u' ' || c > u'~') return false;
    // "#123" would be read as the number 123.
    return !(name[0] == u'#' && name.size() > 1 && name[1] >= u'0' && name[1] <= u'9');
}

bool MatchesMask(const WideString& name, const WideString& mask)
{
    if (mask == u"*.*" || mask == u"*") return true;
    const WideString n = WideUpperCase(name), m = WideUpperCase(mask);
    // Greedy match with one backtrack point at the last star.
    size_t i = 0, j = 0, star = WideString::npos, mark = 0;
    while (i < n.size()) {
        if (j < m.size() && (m[j] == u'?' || m[j] == n[i])) {
            ++i;
            ++j;
        } else if (j < m.size() && m[j] == u'*') {
            star = j++;
            mark = i;
        } else if (star != WideString::npos) {
            j = star + 1;
            i = ++mark;
        } else {
            return false;
        }
    }
    while (j < m.size() && m[j] == u'*') ++j;
    return j == m.size();
}

const char* ArchText(TTargetArch arch)
{
    switch (arch) {
    case TTargetArch::X86: return "32-bit x86";
    case TTargetArch::X64: return "64-bit x64";
    default: return "unknown bitness";
    }
}

std::vector<WideString> TProjectBuilder::StubCandidates(const WideString& toolFolder)
{
    return KitCandidates("Installer", "zosetup.exe", toolFolder);
}

std::vector<WideString> TProjectBuilder::UninstallerCandidates(const WideString& toolFolder)
{
    return KitCandidates("Uninstaller", "Uninstall.exe", toolFolder);
}

TTargetArch TProjectBuilder::ArchOf(const WideString& file)
{
    try {
        TPeImage pe = TPeImage::FromFile(file);
        if (pe.Machine() == 0x14C && !pe.Is64()) return TTargetArch::X86;
        if (pe.Machine() == 0x8664 && pe.Is64()) return TTargetArch::X64;
    } catch (const Exception&) {
        // not a program we know
    }
    return TTargetArch::Default;
}

std::unique_ptr<TSetupScript> TProjectBuilder::LoadProject(
    const WideString& projectFile, std::vector<WideString>* files,
    const std::vector<std::pair<WideString, WideString>>& variables)
{
    const TProjectDocument doc(projectFile);
    auto script = std::make_unique<TSetupScript>();
    TSetupBaseInfo& info = *script->BaseInfo;
    // A GUID the project does not carry would change on every build, and with
    // it the product's identity and every resource name. Variables are the
    // project's own and those its BaseInfo gives, never made-up defaults.
    info.GUID.clear();
    script->VarList->Clear();
    doc.LoadInto(*script);
    const TXmlNode* base = doc.Element("BaseInfo");
    if (Trim(info.GUID).empty())
        doc.Fail(base, "GUID", u"the project has no GUID in BaseInfo; give it one (zosetup-pack new writes a project with one)");
    if (Trim(info.AppTitle).empty())
        doc.Fail(base, "AppTitle", u"AppTitle is empty: the installer shows it as its title and names the start-menu folder after it");
    AddBaseInfoVariables(*script);
    for (const auto& [name, value] : variables) {
        TSetupVar* v = script->VarList->FindVar(name);
        if (!v) doc.Fail(doc.Element("VarList"), nullptr, FormatText(u"--var %s: the project has no variable %s (it has %s)",
                                                                      {name, name, VariableNames(*script->VarList)}));
        v->VarValue = value;
        v->Checked = true;
        // The version is one thing: the product, its version resource, the
        // registry values and the file names that use {Version} all take it.
        if (TextEquals(name, u"{Version}")) info.Version = value;
    }
    if (WideString problem = VersionProblem(info.Version); !problem.empty()) {
        for (const auto& [name, value] : variables)
            if (TextEquals(name, u"{Version}"))
                throw EPackageError(FormatText(u"--var Version=%s: \"%s\" %s", {value, value, problem}));
        doc.Fail(base, "Version", FormatText(u"Version \"%s\" %s", {info.Version, problem}));
    }

    const TSetupVarList& vars = *script->VarList;
    for (TSetupFile* f : *script->FileList) f->ExpandVariables(vars);
    for (TSetupReg* r : *script->RegList) r->ExpandVariables(vars);
    for (TSetupShortCut* s : *script->ShortCutList) s->ExpandVariables(vars);
    for (TSetupRun* r : *script->RunList) r->ExpandVariables(vars);
    for (TSetupSwiper* s : *script->SwiperList) s->ExpandVariables(vars);
    CheckProjectValues(doc, *script);
    CheckVersionTexts(doc, info);

    // One entry per real file.
    const fs::path projectDir = ToPath(projectFile).parent_path();
    const std::vector<const TXmlNode*> entries = doc.Items("FileList");
    TSetupFileList expanded;
    std::map<WideString, WideString> destinations;  // key -> source, to find two entries writing one file
    for (int e = 0; e < script->FileList->Count(); ++e) {
        const TSetupFile* entry = script->FileList->Items(e);
        for (TFound& f : ResolveEntry(*entry, projectDir)) {
            const WideString source = FromPath(f.file);
            if (WideString problem = InstallPathProblem(f.relative); !problem.empty())
                doc.Fail(entries[static_cast<size_t>(e)], "SourceMask",
                         FormatText(u"the file %s cannot be installed: %s", {source, problem}));
            const WideString key = DestinationKey(entry->DestDir, f.relative);
            auto [it, fresh] = destinations.emplace(key, source);
            if (!fresh)
                Fail(source, FormatText(u"installs to the same place as %s (%s)",
                                        {it->second, WithTrailingBackslash(entry->DestDir) + f.relative}));
            std::error_code ec;
            uintmax_t size = fs::file_size(f.file, ec);
            if (ec) Fail(source, u"cannot read the file: " + FromUtf8(ec.message()));
            if (size > 0x7FFFFFFF) Fail(source, u"the file reaches 2 GiB; an installer cannot carry it");
            TSetupFile* out = expanded.Add();
            out->Assign(entry);
            out->SourceMask = f.relative;
            out->IncludeSubPath = false;
            out->FileBytes = static_cast<int32_t>(size);
            out->LastWriteDate = ModificationTime(f.file);
            out->ResID = NameBasedGuid(info.GUID, key);
            if (files) files->push_back(source);
        }
    }
    script->FileList->Assign(&expanded);
    return script;
}

namespace {

// The project installs an Uninstall.exe of its own into the install folder
// that asks for the administrator's rights: a user who installed without them
// could not remove the product.
WideString OwnUninstallerWarning(const TSetupScript& script, const std::vector<WideString>& sources)
{
    for (int i = 0; i < script.FileList->Count(); ++i) {
        const TSetupFile& f = *script.FileList->Items(i);
        if (DestinationKey(f.DestDir, f.SourceMask) != u"{APP}\\UNINSTALL.EXE") continue;
        try {
            const WideString& source = sources[static_cast<size_t>(i)];
            if (RequestedExecutionLevel(TPeImage::FromFile(source)) == "requireAdministrator")
                return source + u": this Uninstall.exe asks for the administrator's rights, which a per-user "
                                u"installation does not have; carry one that asks for none (asInvoker)";
        } catch (const Exception&) {
            // not a program the tool can read: nothing to say about its rights
        }
    }
    return WideString();
}

void AskForNoRights(TPeImage& pe, const WideString& file)
{
    try {
        SetRequestedExecutionLevel(pe, "asInvoker");
    } catch (const EPackageError& e) {
        Fail(file, e.Message());
    }
}

}  // namespace

TBuildResult TProjectBuilder::Build(const TBuildOptions& options)
{
    std::vector<WideString> sources;
    std::unique_ptr<TSetupScript> script = LoadProject(options.ProjectFile, &sources, options.Variables);
    std::vector<WideString> linkWarnings = LinksLeavingProject(sources, ToPath(options.ProjectFile).parent_path());
    const WideString stubFile = ChooseStub(options);
    const TTargetArch arch = TProjectBuilder::ArchOf(stubFile);
    const bool addedUninstaller = options.AddUninstaller && AddUninstaller(*script, sources, options, arch);
    TBuildResult result;
    result.Arch = arch;
    result.Warnings = MissingTargets(*script);
    result.Warnings.insert(result.Warnings.end(), linkWarnings.begin(), linkWarnings.end());
    TSetupBaseInfo& info = *script->BaseInfo;
    const TSetupVarList& vars = *script->VarList;
    const fs::path projectDir = ToPath(options.ProjectFile).parent_path();
    const WideString& project = options.ProjectFile;

    // ---- Icon and agreement: the installer cannot start without its icon.
    const WideString iconFile = vars.Expand(info.IconFile);
    if (Trim(iconFile).empty()) Fail(project, u"BaseInfo names no IconFile (a PNG image); the installer needs its icon");
    const fs::path iconPath = projectDir / ToPath(iconFile);
    const TBytes png = ReadWholeFile(iconPath, u"icon");
    try {
        CheckPng(png);
    } catch (const EImageError& e) {
        Fail(FromPath(iconPath), e.Message());
    }
    if (info.IconResID.empty()) info.IconResID = NameBasedGuid(info.GUID, u"IconResID");
    if (!IsUsableResourceName(info.IconResID))
        Fail(project, FormatText(u"IconResID \"%s\" is not a usable resource name (ASCII letters, digits and "
                                 u"punctuation, not \"#\" and a number)", {info.IconResID}));

    TBytes license;
    const WideString licenseFile = vars.Expand(info.LicenseFile);
    if (!Trim(licenseFile).empty()) {
        license = ReadWholeFile(projectDir / ToPath(licenseFile), u"agreement");
        if (info.LicenseResID.empty()) info.LicenseResID = NameBasedGuid(info.GUID, u"LicenseResID");
        if (!IsUsableResourceName(info.LicenseResID))
            Fail(project, FormatText(u"LicenseResID \"%s\" is not a usable resource name", {info.LicenseResID}));
    } else if (!info.LicenseResID.empty()) {
        Fail(project, u"LicenseResID is set but no LicenseFile names the agreement text");
    }
    if (info.BuildMiniSetup && Trim(info.FullDownloadUrl).empty())
        Fail(project, u"BuildMiniSetup is set but FullDownloadUrl is empty: the online installer would have nothing to download");

    // ---- Outputs.
    const fs::path outDir = options.OutputDir.empty() ? projectDir : ToPath(options.OutputDir);
    const WideString baseName = NameWithoutExt(FromPath(ToPath(project).filename()));
    WideString fullName = vars.Expand(info.FullSetupFile), onlineName = vars.Expand(info.MiniSetupFile);
    if (Trim(fullName).empty()) fullName = baseName + u"-setup.exe";
    if (Trim(onlineName).empty()) onlineName = baseName + u"-online.exe";
    const fs::path fullPath = outDir / ToPath(fullName), onlinePath = outDir / ToPath(onlineName);
    if (info.BuildMiniSetup && fullPath.lexically_normal() == onlinePath.lexically_normal())
        Fail(project, u"FullSetupFile and MiniSetupFile name the same file");

    // ---- The stub (chosen above). A user's installation, or one the user
    // chooses, starts without the administrator's rights (an either
    // installer starts an elevated copy of itself when they are needed).
    const bool asInvoker = info.InstallScope != TInstallScope::isMachine;
    std::unique_ptr<TPeImage> pe;
    try {
        pe = std::make_unique<TPeImage>(TPeImage::FromFile(stubFile));
        if (pe->IsSigned())
            Fail(stubFile, u"the stub carries an Authenticode signature; build from the unsigned stub and sign the installers afterwards");
        pe->CheckWritable();
    } catch (const EPeFormatError& e) {
        Fail(stubFile, e.Message());
    } catch (const EStreamError& e) {
        Fail(u"", e.Message());
    }

    if (asInvoker) AskForNoRights(*pe, stubFile);

    if (asInvoker && !addedUninstaller)
        if (WideString warning = OwnUninstallerWarning(*script, sources); !warning.empty())
            result.Warnings.push_back(warning);

    // ---- An output must never replace what the build reads.
    {
        auto same = [](const fs::path& a, const fs::path& b) {
            std::error_code e1, e2;
            fs::path ca = fs::weakly_canonical(a, e1), cb = fs::weakly_canonical(b, e2);
            return !e1 && !e2 && TextEquals(FromPath(ca), FromPath(cb));
        };
        std::vector<fs::path> inputs{ToPath(project), iconPath, ToPath(stubFile)};
        if (!Trim(licenseFile).empty()) inputs.push_back(projectDir / ToPath(licenseFile));
        for (const WideString& s : sources) inputs.push_back(ToPath(s));
        std::vector<const fs::path*> outputs{&fullPath};
        if (info.BuildMiniSetup) outputs.push_back(&onlinePath);
        for (const fs::path* out : outputs)
            for (const fs::path& in : inputs)
                if (same(*out, in)) Fail(FromPath(*out), u"the installer would overwrite a file the build reads");
    }

    // The output names may carry folders of their own (out\Setup.exe).
    for (const fs::path* out : {&fullPath, &onlinePath}) {
        if (out == &onlinePath && !info.BuildMiniSetup) continue;
        const fs::path dir = out->parent_path();
        std::error_code ec;
        if (dir.empty() || fs::is_directory(dir, ec)) continue;
        fs::create_directories(dir, ec);
        if (ec) Fail(FromPath(dir), u"cannot create the output folder: " + FromUtf8(ec.message()));
    }

    // ---- The uninstaller the tool adds shows the product's icon, in its folder
    // and in Programs and Features (DisplayIcon names it). A signed one is
    // carried as it is: changing it would break its signature.
    std::unique_ptr<TPendingOutput> iconisedUninstaller;
    if (addedUninstaller) {
        WideString& source = sources.back();
        try {
            TPeImage uninstaller = TPeImage::FromFile(source);
            if (uninstaller.IsSigned() && asInvoker && RequestedExecutionLevel(uninstaller) != "asInvoker")
                Fail(source, u"the signed uninstaller asks for the administrator's rights, which a per-user "
                             u"installation cannot give it; add the unsigned one and sign it afterwards");
            if (!uninstaller.IsSigned()) {
                uninstaller.CheckWritable();
                SetExplorerIcon(uninstaller, png);
                if (asInvoker) AskForNoRights(uninstaller, source);
                // Beside the installer, and gone when the build ends, however it ends.
                iconisedUninstaller = std::make_unique<TPendingOutput>(outDir / ToPath(fullName + u".Uninstall.exe"));
                uninstaller.SaveToFile(iconisedUninstaller->Temp());
                source = iconisedUninstaller->Temp();
                std::error_code ec;
                const uintmax_t size = fs::file_size(ToPath(source), ec);
                if (ec || size > 0x7FFFFFFF) Fail(source, u"cannot read the uninstaller");
                script->FileList->Items(script->FileList->Count() - 1)->FileBytes = static_cast<int32_t>(size);
            }
        } catch (const EPeFormatError& e) {
            Fail(source, u"the uninstaller is not a Windows program: " + e.Message());
        } catch (const EStreamError& e) {
            Fail(source, e.Message());
        }
    }

    // ---- Resources shared by both installers.
    for (const char16_t* name : {FullScriptResourceW, OnlineScriptResourceW, FileDataResourceW, FullDigestResourceW})
        pe->RemoveResource(pe::kRcData, name);
    pe->SetResource(pe::kRcData, info.IconResID, Encoded(png));
    if (!info.LicenseResID.empty()) pe->SetResource(pe::kRcData, info.LicenseResID, Encoded(license));
    SetExplorerIcon(*pe, png);
    // After the Explorer icon, which takes the first icon group there is.
    try {
        SetWindowIcon(*pe, png, ProductPictureSide);
    } catch (const EImageError& e) {
        Fail(FromPath(iconPath), e.Message());
    }
    const TBytes encodedScript = EncodedScript(*script, project);

    // ---- The full installer, its file block streamed in last.
    std::vector<TPackInput> inputs;
    uint64_t total = 0;
    for (int i = 0; i < script->FileList->Count(); ++i) {
        const TSetupFile& f = *script->FileList->Items(i);
        inputs.push_back({sources[static_cast<size_t>(i)], f.ResID, static_cast<uint64_t>(f.FileBytes)});
        total += static_cast<uint64_t>(f.FileBytes);
    }
    unsigned threads = options.Threads ? options.Threads : std::max(1u, std::thread::hardware_concurrency());
    TPendingOutput full(fullPath);
    pe->SetResource(pe::kRcData, FullScriptResourceW, encodedScript);
    // The stub's own version resource is the one replaced, whatever its name.
    auto versions = pe->ResourcesOfType(pe::kVersion);
    const TResName versionName = versions.empty() ? TResName(1) : versions.front()->Name;
    pe->SetResource(pe::kVersion, versionName, VersionResource(info, FromPath(fullPath.filename())), 0x0804);
    TPackTotals totals;
    TStreamedResource block{pe::kRcData, FileDataResourceW, 0, [&](TStream& out) {
                                totals = TPackageBlockWriter(threads).Write(inputs, out, [&](uint64_t done) {
                                    if (options.Progress) options.Progress(done, total);
                                });
                                return totals.BlockSize;
                            }};
    // The online installer pins the full one as written: sealed before the
    // online one is built.
    TSha256Digest fullDigest{};
    try {
        pe->SaveToFile(full.Temp(), &block);
        fullDigest = SealFullPackage(full.Temp());
    } catch (const EPeFormatError& e) {  // the stub was checked: only sizes are left to fail
        Fail(project, e.Message());
    } catch (const EPackageError& e) {
        Fail(project, e.Message());
    }
    // Every entry counts, empty files (which carry no image) included, as inspect counts them.
    result.Files = static_cast<uint64_t>(script->FileList->Count());
    result.BytesIn = totals.BytesIn;

    // ---- The online installer: the same script under the other name, no files.
    std::unique_ptr<TPendingOutput> online;
    if (info.BuildMiniSetup) {
        online = std::make_unique<TPendingOutput>(onlinePath);
        pe->RemoveResource(pe::kRcData, FullScriptResourceW);
        pe->SetResource(pe::kRcData, OnlineScriptResourceW, encodedScript);
        pe->SetResource(pe::kRcData, FullDigestResourceW, TBytes(fullDigest.begin(), fullDigest.end()));
        pe->SetResource(pe::kVersion, versionName, VersionResource(info, FromPath(onlinePath.filename())), 0x0804);
        pe->SaveToFile(online->Temp());
    }

    full.Commit();
    result.FullSetup = FromPath(fullPath);
    result.FullBytes = FileSizeOf(result.FullSetup);
    if (online) {
        online->Commit();
        result.OnlineSetup = FromPath(onlinePath);
        result.OnlineBytes = FileSizeOf(result.OnlineSetup);
    }
    return result;
}
