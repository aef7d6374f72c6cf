#include "WingetManifest.h"

#include <filesystem>
#include <fstream>

#include "Inspect.h"
#include "PackageFormat.h"
#include "PackageResources.h"
#include "PeResources.h"
#include "SetupExitCodes.h"
#include "SetupFn.h"
#include "SetupProject.h"
#include "Texts.h"
#include "ZoHash.h"
#include "ZoSysUtils.h"

namespace fs = std::filesystem;

namespace {

const char kSchemaVersion[] = "1.10.0";
// The installer speaks Chinese: its window, its messages, its agreement.
const char kLocale[] = "zh-CN";

// A YAML double-quoted scalar: safe for any text.
std::string Q(const std::string& text)
{
    std::string out = "\"";
    for (unsigned char c : text) {
        if (c == '"' || c == '\\') {
            out += '\\';
            out += static_cast<char>(c);
        } else if (c < 0x20) {
            char buf[8];
            std::snprintf(buf, sizeof buf, "\\x%02X", c);
            out += buf;
        } else {
            out += static_cast<char>(c);
        }
    }
    return out + "\"";
}
std::string Q(const WideString& text) { return Q(ToUtf8(text)); }

std::string Header(const char* type, const WideString& id, const WideString& version)
{
    return std::string("# yaml-language-server: $schema=https://aka.ms/winget-manifest.") + type + "." + kSchemaVersion +
           ".schema.json\n\nPackageIdentifier: " + Q(id) + "\nPackageVersion: " + Q(version) + "\n";
}

std::string Footer(const char* type) { return std::string("ManifestType: ") + type + "\nManifestVersion: " + kSchemaVersion + "\n"; }

// winget's own rule: two to eight parts of 1 to 32 characters between dots, no blanks or path characters.
bool IsPackageIdentifier(const WideString& id)
{
    if (id.empty() || id.size() > 128) return false;
    size_t parts = 0, length = 0;
    for (char16_t c : id) {
        if (c == u'.') {
            if (length == 0) return false;
            ++parts;
            length = 0;
        } else if (c <= 0x20 || WideString(u"\\/:*?\"<>|").find(c) != WideString::npos || ++length > 32) {
            return false;
        }
    }
    return length > 0 && parts >= 1 && parts <= 7;
}

std::string FileSha256(const WideString& file)
{
    std::ifstream in(fs::path(file), std::ios::binary);
    if (!in) throw EPackageError(FormatText(u"cannot read %s", {file}));
    TZoSha256 sha;
    std::vector<char> buf(1 << 20);
    while (in) {
        in.read(buf.data(), static_cast<std::streamsize>(buf.size()));
        if (in.gcount() > 0) sha.Update(buf.data(), static_cast<size_t>(in.gcount()));
    }
    std::string hex = DigestToHex(sha.Final());
    for (char& c : hex) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return hex;  // as winget's own tools write it
}

std::unique_ptr<TSetupScript> ScriptOf(const TPeImage& pe)
{
    const bool full = pe.Find(pe::kRcData, FullScriptResourceW) != nullptr;
    if (!full && !pe.Find(pe::kRcData, OnlineScriptResourceW))
        throw EPackageError(u"the file carries no setup script: it is not an installer of zosetup");
    TMemoryStream xml;
    ReadPackageResource(pe, full ? FullScriptResourceW : OnlineScriptResourceW, &xml);
    auto script = std::make_unique<TSetupScript>();
    script->LoadFromStream(xml);
    return script;
}

std::string InstallerFile(const TManifestOptions& o, const TPeImage& pe, const TSetupBaseInfo& info)
{
    const std::string arch = pe.Machine() == 0x8664 ? "x64" : "x86";
    const bool elevates = RequestedExecutionLevel(pe) == "requireAdministrator";
    const std::string productCode = ToUtf8(info.GUID) + "_mw";  // the uninstall key's name
    std::string y = Header("installer", o.Identifier, info.Version);
    y += std::string("InstallerLocale: ") + kLocale + "\nInstallerType: exe\n";
    const TInstallScope scope = info.InstallScope;
    if (scope != TInstallScope::isEither) y += scope == TInstallScope::isUser ? "Scope: user\n" : "Scope: machine\n";
    y += "InstallModes:\n- interactive\n- silent\n- silentWithProgress\n";
    // Nothing is started on the user's screen after an unattended install.
    y += "InstallerSwitches:\n  Silent: /Silent /NORUN\n  SilentWithProgress: /Auto /NORUN\n"
         "  InstallLocation: " + Q("/DIR=\"<INSTALLPATH>\"") + "\n  Log: " + Q("/LOG=\"<LOGPATH>\"") + "\n";
    y += "ExpectedReturnCodes:\n";
    for (const TExitCodeResponse& r : kInstallExitResponses)
        y += "- InstallerReturnCode: " + std::to_string(r.code) + "\n  ReturnResponse: " + r.response + "\n";
    // The installer removes an earlier version itself, quietly, before it writes.
    y += "UpgradeBehavior: install\n";
    // A user's installation run elevated would land in the administrator's profile.
    if (scope == TInstallScope::isUser) y += "ElevationRequirement: elevationProhibited\n";
    else if (elevates) y += "ElevationRequirement: elevatesSelf\n";
    y += "ProductCode: " + Q(productCode) + "\n";
    y += "AppsAndFeaturesEntries:\n";
    // The name registered is in the installer's language; one that follows the
    // user's Windows registers either, so only the product code tells.
    if (!TextEquals(info.Language, u"auto")) {
        const TLanguage language = ResolveLanguage(info.Language, u"", 0);
        y += "- DisplayName: " + Q(FormatText(TextIn(language, TTextId::DisplayNameFormat), {info.AppTitle, info.Version})) +
             "\n ";
    } else {
        y += "-";
    }
    y += " DisplayVersion: " + Q(info.Version) + "\n  ProductCode: " + Q(productCode) + "\n";
    if (!info.CompanyName.empty()) y += "  Publisher: " + Q(info.CompanyName) + "\n";
    const std::string file = "  InstallerUrl: " + Q(o.Url) + "\n  InstallerSha256: " + FileSha256(o.Installer) + "\n";
    y += "Installers:\n";
    if (scope != TInstallScope::isEither) {
        y += "- Architecture: " + arch + "\n" + file;
    } else {
        // One file, two scopes: the switch chooses; every user asks for the rights itself.
        y += "- Architecture: " + arch + "\n  Scope: user\n" + file +
             "  InstallerSwitches:\n    Custom: /CURRENTUSER\n";
        y += "- Architecture: " + arch + "\n  Scope: machine\n" + file +
             "  InstallerSwitches:\n    Custom: /ALLUSERS\n  ElevationRequirement: elevatesSelf\n";
    }
    return y + Footer("installer");
}

std::string LocaleFile(const TManifestOptions& o, const TSetupBaseInfo& info)
{
    std::string y = Header("defaultLocale", o.Identifier, info.Version);
    y += std::string("PackageLocale: ") + kLocale + "\nPublisher: " + Q(info.CompanyName) +
         "\nPackageName: " + Q(info.AppTitle) + "\n";
    if (info.CompanyUrl.starts_with(u"http://") || info.CompanyUrl.starts_with(u"https://"))
        y += "PublisherUrl: " + Q(info.CompanyUrl) + "\n";
    if (!info.LegalCopyright.empty()) y += "Copyright: " + Q(info.LegalCopyright) + "\n";
    // Required; the agreement the installer shows is the publisher's own.
    y += "License: Proprietary\n";
    const WideString description = info.InstallFileDescription.size() >= 3 ? info.InstallFileDescription
                                                                            : info.AppTitle + u" " + info.Version;
    y += "ShortDescription: " + Q(description) + "\n";
    return y + Footer("defaultLocale");
}

}  // namespace

TManifestFiles MakeWingetManifest(const TManifestOptions& o)
{
    if (!IsPackageIdentifier(o.Identifier))
        throw EPackageError(FormatText(u"--id %s: winget wants PUBLISHER.PRODUCT, two to eight parts of up to 32 "
                                       u"characters between dots, without blanks or \\/:*?\"<>|", {o.Identifier}));
    if (!(o.Url.starts_with(u"https://") || o.Url.starts_with(u"http://")) || o.Url.find(u' ') != WideString::npos)
        throw EPackageError(FormatText(u"--url %s: an http:// or https:// address", {o.Url}));
    const TPeImage pe = TPeImage::FromFile(o.Installer);
    const std::unique_ptr<TSetupScript> script = ScriptOf(pe);
    const TSetupBaseInfo& info = *script->BaseInfo;
    if (info.Version.empty())
        throw EPackageError(u"the installer's script has no Version; winget needs one (set Version in BaseInfo)");
    if (info.CompanyName.size() < 2)
        throw EPackageError(u"the installer's script names no publisher; winget needs one (set CompanyName in BaseInfo)");
    if (info.AppTitle.size() < 2)
        throw EPackageError(u"winget needs a product name of two characters or more (AppTitle)");
    TManifestFiles files;
    files.Version = Header("version", o.Identifier, info.Version) + std::string("DefaultLocale: ") + kLocale + "\n" +
                    Footer("version");
    files.Installer = InstallerFile(o, pe, info);
    files.DefaultLocale = LocaleFile(o, info);
    return files;
}

std::vector<WideString> WriteWingetManifest(const TManifestOptions& o)
{
    const TManifestFiles files = MakeWingetManifest(o);
    fs::path dir = o.OutputDir.empty() ? fs::path(o.Installer).parent_path() : fs::path(o.OutputDir);
    std::error_code ec;
    if (!dir.empty()) fs::create_directories(dir, ec);
    const std::string id = ToUtf8(o.Identifier);
    std::vector<WideString> written;
    for (const auto& [suffix, text] : {std::pair<std::string, const std::string*>{".yaml", &files.Version},
                                       {".installer.yaml", &files.Installer},
                                       {std::string(".locale.") + kLocale + ".yaml", &files.DefaultLocale}}) {
        const fs::path path = dir / fs::path(FromUtf8(id + suffix));
        TMemoryStream data{TBytes(text->begin(), text->end())};
        data.SaveToFile(path.u16string());
        written.push_back(path.u16string());
    }
    return written;
}
