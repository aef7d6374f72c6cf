// The image digest that pins a full package: checked against a reference
// computed independently (Python's hashlib over the same byte ranges, and
// the digest osslsigncode reports for a file it signed), before and after
// signing; and the pin the packaging tool writes into an online installer.
#include <gtest/gtest.h>

#include <array>
#include <cstdio>
#include <memory>
#include <sstream>

#include "Inspect.h"
#include "PackageDigest.h"
#include "PackageFormat.h"
#include "PeDigest.h"
#include "PeResources.h"
#include "TestSupport.h"
#include "ZoHash.h"
#include "ZoSysUtils.h"

namespace fs = std::filesystem;

namespace {

// The independent references come from tools of the build machine: Python and
// osslsigncode. The Windows build of these tests (under Wine) checks the rest.
#ifndef _WIN32
#define ZO_REFERENCE_TOOLS 1
#endif

const std::string kTiny64 = std::string(ZO_SOURCE_DIR) + "/tests/native/data/tiny64.exe";
const std::string kTiny32 = std::string(ZO_SOURCE_DIR) + "/tests/native/data/tiny32.exe";

std::string Digest(const fs::path& file) { return DigestToHex(PeImageDigest(*FileSource(FromUtf8(file.string())))); }

#ifdef ZO_REFERENCE_TOOLS
// Standard output of a shell command; empty when it failed.
std::string Run(const std::string& command)
{
    std::string out;
    std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
    if (!pipe) return out;
    char buffer[4096];
    size_t n;
    while ((n = fread(buffer, 1, sizeof buffer, pipe.get())) > 0) out.append(buffer, n);
    return out;
}

// The reference: the PE headers read by Python, the ranges hashed by hashlib.
std::string ReferenceDigest(const fs::path& file)
{
    static const char* script =
        "import hashlib, struct, sys\n"
        "d = open(sys.argv[1], 'rb').read()\n"
        "opt = struct.unpack_from('<I', d, 0x3c)[0] + 24\n"
        "dirs = opt + (112 if struct.unpack_from('<H', d, opt)[0] == 0x20b else 96)\n"
        "cs, ce = opt + 64, dirs + 32\n"
        "off, size = struct.unpack_from('<II', d, ce)\n"
        "keep = d[:cs] + d[cs + 4:ce] + (d[ce + 8:off] + d[off + size:] if size else d[ce + 8:])\n"
        "print(hashlib.sha256(keep).hexdigest(), end='')\n";
    std::string path = (fs::temp_directory_path() / "zo-digest-ref.py").string();
    WriteFileBytes(path, script);
    return Run("python3 " + path + " '" + file.string() + "'");
}


// A signing certificate made for the test, and the files it signs.
struct TSigner {
    TTempFolder dir;
    bool ok = false;
    TSigner()
    {
        ok = std::system(("openssl req -x509 -newkey rsa:2048 -nodes -days 2 -subj '/CN=zosetup test signer' -keyout '" +
                          (dir.Path() / "key.pem").string() + "' -out '" + (dir.Path() / "cert.pem").string() +
                          "' >/dev/null 2>&1")
                             .c_str()) == 0;
    }
    bool Sign(const fs::path& in, const fs::path& out) const
    {
        return std::system(("osslsigncode sign -certs '" + (dir.Path() / "cert.pem").string() + "' -key '" +
                            (dir.Path() / "key.pem").string() + "' -h sha256 -n zotest -in '" + in.string() +
                            "' -out '" + out.string() + "' >/dev/null 2>&1")
                               .c_str()) == 0;
    }
    // The digest osslsigncode computes of a signed file, lower case.
    static std::string Calculated(const fs::path& signedFile)
    {
        std::string out = Run("osslsigncode verify -in '" + signedFile.string() + "' 2>/dev/null");
        auto at = out.find("Calculated message digest : ");
        if (at == std::string::npos) return "none in: " + out;
        std::string hex = out.substr(at + 28, 64);
        for (char& c : hex) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        return hex;
    }
};

#endif  // ZO_REFERENCE_TOOLS

}  // namespace

#ifdef ZO_REFERENCE_TOOLS
TEST(PeDigest, MatchesAnIndependentReferenceForPe32AndPe32Plus)
{
    for (const std::string& f : {kTiny64, kTiny32}) {
        SCOPED_TRACE(f);
        EXPECT_EQ(Digest(f), ReferenceDigest(f));
    }
}

TEST(PeDigest, SurvivesSigningAndChangesWithAnyOtherByte)
{
    TSigner signer;
    ASSERT_TRUE(signer.ok) << "openssl could not make a certificate";
    TTempFolder dir;
    const fs::path unsignedFile = dir.Path() / "a.exe", signedFile = dir.Path() / "a-signed.exe";
    fs::copy_file(kTiny64, unsignedFile);
    ASSERT_EQ(fs::file_size(unsignedFile) % 8, 0u);
    ASSERT_TRUE(signer.Sign(unsignedFile, signedFile));
    ASSERT_TRUE(TPeImage::FromFile(FromUtf8(signedFile.string())).IsSigned());

    const std::string digest = Digest(unsignedFile);
    EXPECT_EQ(Digest(signedFile), digest) << "signing must not change the digest";
    EXPECT_EQ(ReferenceDigest(signedFile), digest);
    EXPECT_EQ(TSigner::Calculated(signedFile), digest) << "osslsigncode hashes the same bytes";

    // Signing twice (a second signature replaces the first) keeps it too.
    const fs::path resigned = dir.Path() / "a-resigned.exe";
    ASSERT_TRUE(signer.Sign(signedFile, resigned));
    EXPECT_EQ(Digest(resigned), digest);

    // A byte in the code or one in the headers: another digest. Data appended
    // after the signature leaves the table short of the end: no digest at all.
    std::string bytes = ReadFileBytes(signedFile);
    const size_t timeStamp = (static_cast<uint8_t>(bytes[0x3c]) | static_cast<uint8_t>(bytes[0x3d]) << 8) + 8;
    for (size_t at : {size_t(0x400), timeStamp}) {
        std::string changed = bytes;
        changed[at] ^= 1;
        WriteFileBytes(dir.Path() / "changed.exe", changed);
        EXPECT_NE(Digest(dir.Path() / "changed.exe"), digest) << at;
    }
    WriteFileBytes(dir.Path() / "appended.exe", bytes + "appended");
    EXPECT_THROW(Digest(dir.Path() / "appended.exe"), EPeFormatError);
}

#endif  // ZO_REFERENCE_TOOLS

TEST(PeDigest, HashesAsSha256)
{
    // The published test vectors, in one piece and in many.
    EXPECT_EQ(DigestToHex(TZoSha256::Of("abc", 3)), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(DigestToHex(TZoSha256::Of("", 0)), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
    TZoSha256 h;
    std::string a(1000, 'a');
    for (int i = 0; i < 1000; ++i) h.Update(a.data(), a.size());
    EXPECT_EQ(DigestToHex(h.Final()), "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
}

namespace {

void Put32(std::string& bytes, size_t at, uint32_t value)
{
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<char>(value >> (8 * i));
}

// Where the certificate-table entry of a file lies.
size_t CertEntryAt(const std::string& pe)
{
    const size_t opt = (static_cast<uint8_t>(pe[0x3c]) | static_cast<uint8_t>(pe[0x3d]) << 8) + 24;
    return opt + (pe[opt + 1] == 2 ? 112 : 96) + 32;
}

}  // namespace

TEST(PeDigest, RefusesWhatIsNoImageOrACertificateTableOutOfPlace)
{
    auto digestOf = [](std::string bytes) {
        return PeImageDigest(*MemorySource(TBytes(bytes.begin(), bytes.end())));
    };
    EXPECT_THROW(digestOf("<html>not found</html>"), EPeFormatError);
    EXPECT_THROW(digestOf(""), EPeFormatError);
    std::string pe = ReadFileBytes(kTiny64);
    EXPECT_THROW(digestOf(pe.substr(0, 0x90)), EPeFormatError) << "cut inside the headers";
    const size_t entry = CertEntryAt(pe);
    std::string bad = pe;
    Put32(bad, entry, 0x7F00);  // past the end of the file
    Put32(bad, entry + 4, 16);
    EXPECT_THROW(digestOf(bad), EPeFormatError);

    // A forgery: bytes inserted inside the last section's raw data (which the
    // loader maps), named by the certificate entry as if they were the table.
    // Left out, they would leave the genuine digest.
    for (const std::string& f : {kTiny64, kTiny32}) {
        SCOPED_TRACE(f);
        const std::string genuine = ReadFileBytes(f);
        const size_t at = genuine.size() - 0x200;
        std::string table(64, 'X');
        Put32(table, 0, 64);
        Put32(table, 4, 0x00020200);  // revision 2.0, PKCS#7 signed data
        std::string forged = genuine.substr(0, at) + table + genuine.substr(at);
        Put32(forged, CertEntryAt(forged), static_cast<uint32_t>(at));
        Put32(forged, CertEntryAt(forged) + 4, 64);
        EXPECT_THROW(digestOf(forged), EPeFormatError);
    }

    // At the end of the file, where it belongs, the table must still be a run
    // of whole, 8-byte aligned entries: a short, a long and a misplaced one.
    auto withTable = [&](const std::string& prefix, std::string table) {
        std::string file = prefix + table;
        Put32(file, entry, static_cast<uint32_t>(prefix.size()));
        Put32(file, entry + 4, static_cast<uint32_t>(table.size()));
        return file;
    };
    std::string table(24, '\0');
    Put32(table, 0, 24);
    EXPECT_NO_THROW(digestOf(withTable(pe, table)));
    Put32(table, 0, 4);
    EXPECT_THROW(digestOf(withTable(pe, table)), EPeFormatError);
    Put32(table, 0, 32);
    EXPECT_THROW(digestOf(withTable(pe, table)), EPeFormatError);
    Put32(table, 0, 12);  // then a second entry at 16 whose length is 0
    EXPECT_THROW(digestOf(withTable(pe, table)), EPeFormatError);
    Put32(table, 0, 24);
    EXPECT_THROW(digestOf(withTable(pe + "odd", table)), EPeFormatError) << "not 8-byte aligned";
}

TEST(PeDigest, SealingPadsToEightBytesAndKeepsTheChecksumRight)
{
    TTempFolder dir;
    const fs::path file = dir.Path() / "full.exe";
    WriteFileBytes(file, ReadFileBytes(kTiny64) + "odd");  // an overlay of 3 bytes
    const WideString name = FromUtf8(file.string());
    const std::string digest = DigestToHex(SealFullPackage(name));
    EXPECT_EQ(fs::file_size(file) % 8, 0u);
    EXPECT_EQ(fs::file_size(file), 4608u + 8);
    TPeImage pe = TPeImage::FromFile(name);
    EXPECT_EQ(pe.CheckSum(), pe.ComputeCheckSum());
    EXPECT_EQ(digest, Digest(file));
#ifdef ZO_REFERENCE_TOOLS
    EXPECT_EQ(digest, ReferenceDigest(file));
#endif
    // A file already a multiple of 8 stays as it is.
    const std::string before = ReadFileBytes(file);
    EXPECT_EQ(DigestToHex(SealFullPackage(name)), digest);
    EXPECT_EQ(ReadFileBytes(file), before);
}
