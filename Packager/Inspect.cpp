#include "Inspect.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <filesystem>

#include "AppManifest.h"
#include "BuildProgress.h"
#include "FileDataClasses.h"
#include "PackageResources.h"
#include "PeDigest.h"
#include "PeIcon.h"
#include "PeResources.h"
#include "PeVersion.h"
#include "ProjectBuilder.h"
#include "SetupFn.h"
#include "SetupProject.h"
#include "ZoSysUtils.h"

namespace fs = std::filesystem;

namespace {

std::string U8(const WideString& s) { return ToUtf8(s); }

std::string TypeText(const TResName& type)
{
    if (!type.IsId()) return U8(type.Name());
    switch (type.Id()) {
    case 1: return "CURSOR";
    case 2: return "BITMAP";
    case 3: return "ICON";
    case 4: return "MENU";
    case 5: return "DIALOG";
    case 6: return "STRING";
    case 10: return "RCDATA";
    case 12: return "GROUP_CURSOR";
    case 14: return "GROUP_ICON";
    case 16: return "VERSION";
    case 24: return "MANIFEST";
    default: return "#" + std::to_string(type.Id());
    }
}

TBytes Decoded(TBytes encoded, const char* what, size_t maxBytes = TSetupfn::kMaxDecodedBytes)
{
    TMemoryStream s{std::move(encoded)};
    try {
        TSetupfn::DecodeStream(&s, maxBytes);
    } catch (const EDecompressionError&) {
        throw EPackageError(FromUtf8(std::string("the ") + what + " is damaged: it does not decode"));
    }
    return std::move(s.Bytes());
}

std::string Machine(uint16_t m)
{
    switch (m) {
    case 0x14C: return "x86";
    case 0x8664: return "x86-64";
    case 0xAA64: return "ARM64";
    default: {
        char buf[16];
        std::snprintf(buf, sizeof buf, "0x%04X", m);
        return buf;
    }
    }
}

int32_t Le32(const uint8_t* p) { return static_cast<int32_t>(p[0] | (p[1] << 8) | (p[2] << 16) | (uint32_t(p[3]) << 24)); }

void Extract(const TPeImage& pe, const TSetupScript& script, const WideString& dir, std::ostream& out)
{
    const TPeResource* block = pe.Find(pe::kRcData, FileDataResourceW);
    if (!block) throw EPackageError(u"the installer carries no product files (an online installer downloads them)");
    const uint64_t size = block->Size;
    if (size < 4) throw EPackageError(u"the file-data block is damaged: too short for its trailer");
    uint8_t trailer[4];
    pe.ReadResourcePart(*block, size - 4, trailer, 4);
    const int32_t n = Le32(trailer);
    if (n < 0 || uint64_t(n) > size - 4) throw EPackageError(u"the file-data block is damaged: bad index length");
    TBytes indexBytes(static_cast<size_t>(n));
    pe.ReadResourcePart(*block, size - 4 - uint64_t(n), indexBytes.data(), indexBytes.size());
    TMemoryStream indexXml{Decoded(std::move(indexBytes), "package index")};
    TFileDataList index;
    index.LoadFromStream(indexXml);

    uint64_t files = 0, bytes = 0;
    for (TSetupFile* f : *script.FileList) {
        const WideString rel = ExtractionPath(f->DestDir, f->SourceMask);
        TBytes content;
        if (f->FileBytes > 0) {
            TFileData* record = index.FindByGUID(f->ResID);
            if (!record) throw EPackageError(FormatText(u"%s has no image in the package", {rel}));
            if (record->Offset < 0 || record->Bytes < 0 || uint64_t(record->Offset) + uint64_t(record->Bytes) > size)
                throw EPackageError(FormatText(u"the image of %s lies outside the file-data block", {rel}));
            TBytes image(static_cast<size_t>(record->Bytes));
            pe.ReadResourcePart(*block, uint64_t(record->Offset), image.data(), image.size());
            // An image never decodes past the size its entry gives.
            content = Decoded(std::move(image), "image of a product file", static_cast<size_t>(f->FileBytes));
            if (content.size() != uint64_t(f->FileBytes))
                throw EPackageError(FormatText(u"the image of %s does not have the size the script gives", {rel}));
        }
        WideString native = rel;
#ifndef _WIN32
        std::replace(native.begin(), native.end(), u'\\', u'/');
#endif
        const fs::path targetPath = fs::path(dir) / fs::path(native);
        std::error_code ec;
        fs::create_directories(targetPath.parent_path(), ec);
        if (ec) throw EPackageError(FormatText(u"cannot create the folder %s: %s", {targetPath.parent_path().u16string(), FromUtf8(ec.message())}));
        const WideString target = targetPath.u16string();
        TMemoryStream data{std::move(content)};
        data.SaveToFile(target);
        if (f->LastWriteDate != 0) TZoFilefn::SetFileTimes(target, {0, f->LastWriteDate, 0});
        ++files;
        bytes += data.Bytes().size();
    }
    out << "extracted: " << CountText(files, "file", "files") << ", " << bytes << " bytes into " << U8(dir) << "\n";
}

}  // namespace


WideString ExtractionPath(const WideString& destDir, const WideString& sourceMask)
{
    WideString path = ReplaceText(WithTrailingBackslash(destDir) + sourceMask, u"{app}", u"", rfReplaceAll | rfIgnoreCase);
    std::replace(path.begin(), path.end(), u'/', u'\\');
    WideString clean, part;
    auto flush = [&] {
        if (part.empty() || part == u".") {
            part.clear();
            return;
        }
        if (part == u".." || part.find(u':') != WideString::npos)
            throw EPackageError(FormatText(u"the file entry %s would leave the extraction folder", {destDir + u"\\" + sourceMask}));
        if (part.front() == u'{' && part.back() == u'}' && part.size() > 2) part = part.substr(1, part.size() - 2);
        clean += (clean.empty() ? u"" : u"\\") + part;
        part.clear();
    };
    for (char16_t c : path) {
        if (c == u'\\')
            flush();
        else
            part += c;
    }
    flush();
    if (clean.empty()) throw EPackageError(FormatText(u"the file entry %s names no file", {destDir + u"\\" + sourceMask}));
    return clean;
}

namespace {

// The two ends of the pin: the digest a full package has, the one an online
// installer expects, so a publisher can compare them.
void WriteDigests(const TPeImage& pe, const WideString& file, bool full, std::ostream& out)
{
    // Worked out before the line starts: a damaged file gets only the sentence why.
    if (full) {
        const AnsiString digest = DigestToHex(PeImageDigest(*FileSource(file)));
        out << "image digest (SHA-256): " << digest << "\n";
    }
    const TPeResource* pin = pe.Find(pe::kRcData, FullDigestResourceW);
    if (!pin) {
        if (!full) out << "pinned full-package digest: none (any package the address delivers is installed)\n";
        return;
    }
    TBytes bytes = pe.ReadResource(*pin);
    if (bytes.size() != std::tuple_size_v<TSha256Digest>)
        throw EPackageError(u"the pinned full-package digest is damaged: not 32 bytes");
    TSha256Digest digest;
    std::copy(bytes.begin(), bytes.end(), digest.begin());
    out << "pinned full-package digest (SHA-256): " << DigestToHex(digest) << "\n";
}

}  // namespace

void InspectInstaller(const TInspectOptions& options, std::ostream& out)
{
    TPeImage pe = TPeImage::FromFile(options.File);
    out << "file: " << U8(options.File) << " (" << pe.FileSize() << " bytes)\n";
    out << "format: " << (pe.Is64() ? "PE32+ " : "PE32 ") << Machine(pe.Machine())
        << (pe.Subsystem() == 2 ? ", window program" : pe.Subsystem() == 3 ? ", console program" : "") << "\n";
    out << "execution level: " << RequestedExecutionLevel(pe) << "\n";
    const uint32_t sum = pe.ComputeCheckSum();
    char checksum[96];
    if (pe.CheckSum() == sum)
        std::snprintf(checksum, sizeof checksum, "checksum: 0x%08" PRIX32 ", correct\n", sum);
    else
        std::snprintf(checksum, sizeof checksum, "checksum: 0x%08" PRIX32 " stored, 0x%08" PRIX32 " computed\n",
                      pe.CheckSum(), sum);
    out << checksum << "signed: " << (pe.IsSigned() ? "yes (Authenticode)" : "no") << "\n";

    const TPeResource* full = pe.Find(pe::kRcData, FullScriptResourceW);
    const TPeResource* online = pe.Find(pe::kRcData, OnlineScriptResourceW);
    const TPeResource* scriptRes = full ? full : online;
    out << "mode: "
        << (full     ? "full package"
            : online ? "online installer"
                     : "none: the file carries no setup script, so it is not an installer of zosetup")
        << "\n";
    // A foreign file pins nothing and promises nothing: no digest line to misread.
    if (scriptRes) WriteDigests(pe, options.File, full != nullptr, out);

    std::unique_ptr<TSetupScript> script;
    if (scriptRes) {
        TMemoryStream xml;
        try {
            ReadPackageResource(pe, full ? FullScriptResourceW : OnlineScriptResourceW, &xml);
        } catch (const EDecompressionError&) {
            throw EPackageError(u"the setup script is damaged: it does not decode");
        }
        script = std::make_unique<TSetupScript>();
        script->LoadFromStream(xml);
        if (options.Script) {
            out << "script:\n" << xml.ToString();
            if (!xml.Bytes().empty() && xml.Bytes().back() != '\n') out << "\n";
        }
    }
    const TSetupBaseInfo* info = script ? script->BaseInfo.get() : nullptr;

    out << "resources:\n";
    for (const TPeResource& r : pe.Resources()) {
        std::string role;
        if (r.Type == TResName(pe::kRcData) && !r.Name.IsId()) {
            const WideString& n = r.Name.Name();
            if (n == FullScriptResourceW) role = "full setup script";
            else if (n == OnlineScriptResourceW) role = "online setup script";
            else if (n == FileDataResourceW) role = "product files";
            else if (n == FullDigestResourceW) role = "pinned full-package digest";
            else if (info && n == WideUpperCase(info->IconResID)) role = "product icon";
            else if (info && n == WideUpperCase(info->LicenseResID)) role = "user agreement";
        } else if (r.Type == TResName(pe::kGroupIcon) && r.Name == TResName(kWindowIconGroup)) {
            role = "the window's ready icon";
        }
        char line[64];
        std::snprintf(line, sizeof line, "  %-12s ", TypeText(r.Type).c_str());
        out << line << U8(r.Name.ToString()) << "  lang " << r.Language << "  " << r.Size << " bytes"
            << (role.empty() ? "" : "  (" + role + ")") << "\n";
    }

    if (const TPeResource* v = pe.Find(pe::kVersion, 1)) {
        try {
            TVersionInfo version = ParseVersionResource(pe.ReadResource(*v));
            out << "version resource:";
            for (const auto& [name, text] : version.Strings) out << " " << U8(name) << "=\"" << U8(text) << "\"";
            out << "\n";
        } catch (const EPeFormatError& e) {
            out << "version resource: " << e.what() << "\n";
        }
    }
    auto icon = ExplorerIcon(pe);
    if (!icon.empty()) {
        out << "explorer icon:";
        for (const auto& e : icon) out << " " << e.Width << "x" << e.Height << (e.Image.size() >= 8 && e.Image[1] == 'P' ? " PNG" : "");
        out << "\n";
    }

    if (script) {
        uint64_t bytes = 0;
        for (TSetupFile* f : *script->FileList) bytes += static_cast<uint64_t>(std::max<int32_t>(f->FileBytes, 0));
        out << "product: " << U8(info->AppTitle) << ", version " << U8(info->Version) << ", GUID " << U8(info->GUID) << "\n";
        switch (info->InstallScope) {
        case TInstallScope::isUser:
            out << "install scope: user (the current user: %LOCALAPPDATA%\\Programs, HKEY_CURRENT_USER, no administrator)\n";
            break;
        case TInstallScope::isEither:
            out << "install scope: either (the user chooses; every user asks for the administrator's rights)\n";
            break;
        default:
            out << "install scope: machine (every user: Program Files, HKEY_LOCAL_MACHINE, administrator)\n";
            break;
        }
        out << "contents: " << CountText(script->FileList->Count(), "file", "files") << " (" << bytes << " bytes), "
            << CountText(script->RegList->Count(), "registry value", "registry values") << ", "
            << CountText(script->ShortCutList->Count(), "shortcut", "shortcuts") << ", "
            << CountText(script->RunList->Count(), "program to run", "programs to run") << "\n";
        if (info->IconResID.empty() || !pe.Find(pe::kRcData, info->IconResID))
            out << "warning: the icon resource the script names is missing; the installer will not start\n";
        if (!info->LicenseResID.empty() && !pe.Find(pe::kRcData, info->LicenseResID))
            out << "warning: the agreement resource the script names is missing; the installer will not start\n";
    }
    if (!options.ExtractDir.empty()) {
        if (!script) throw EPackageError(u"the file carries no setup script, so there is nothing to extract");
        Extract(pe, *script, options.ExtractDir, out);
    }
}
