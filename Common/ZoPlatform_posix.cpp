// Linux side of the platform layer: enough for the packaging tool and for the
// native tests, which set the Windows folder values themselves.
#include "ZoPlatform.h"

#include <iconv.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <thread>
#include <random>

#include "ZoSysUtils.h"

namespace ZoPlatform {
namespace {
unsigned g_codePage = 1252;
std::map<int, WideString>& Folders()
{
    static std::map<int, WideString> folders;
    return folders;
}
WideString& ModuleName()
{
    static WideString name;
    return name;
}
WideString& Line()
{
    static WideString line;
    return line;
}

std::string CodePageName(unsigned cp)
{
    if (cp == 65001) return "UTF-8";
    if (cp == 936) return "GBK";
    return "CP" + std::to_string(cp);
}

struct IconvCloser {
    void operator()(void* cd) const { iconv_close(static_cast<iconv_t>(cd)); }
};

std::string Convert(const std::string& from, const std::string& to, const char* data, size_t size)
{
    iconv_t raw = iconv_open(to.c_str(), from.c_str());
    if (raw == reinterpret_cast<iconv_t>(-1)) return std::string();
    std::unique_ptr<void, IconvCloser> cd(raw);
    std::string out(size * 4 + 16, '\0');
    char* in = const_cast<char*>(data);
    size_t inLeft = size;
    char* o = out.data();
    size_t outLeft = out.size();
    while (inLeft > 0) {
        if (iconv(raw, &in, &inLeft, &o, &outLeft) == static_cast<size_t>(-1)) {
            // Skip a byte the code page cannot map, as the system converter does with a default char.
            ++in;
            --inLeft;
            if (outLeft >= 1) {
                *o++ = '?';
                --outLeft;
            }
        }
    }
    out.resize(out.size() - outLeft);
    return out;
}
}  // namespace

WideString AnsiToWide(const AnsiString& bytes)
{
    std::string u16 = Convert(CodePageName(g_codePage), "UTF-16LE", bytes.data(), bytes.size());
    WideString out(u16.size() / 2, u'\0');
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<char16_t>(static_cast<unsigned char>(u16[2 * i]) |
                                       (static_cast<unsigned char>(u16[2 * i + 1]) << 8));
    return out;
}

AnsiString WideToAnsi(const WideString& text)
{
    std::string u16(text.size() * 2, '\0');
    for (size_t i = 0; i < text.size(); ++i) {
        u16[2 * i] = static_cast<char>(text[i] & 0xFF);
        u16[2 * i + 1] = static_cast<char>(text[i] >> 8);
    }
    return Convert("UTF-16LE", CodePageName(g_codePage), u16.data(), u16.size());
}

void SetAnsiCodePage(unsigned codePage) { g_codePage = codePage; }

WideString GetEnv(const char* name)
{
    const char* v = std::getenv(name);
    return v ? AnsiToWide(v) : WideString();
}

WideString SpecialFolderPath(int csidl)
{
    auto it = Folders().find(csidl);
    return it == Folders().end() ? WideString() : it->second;
}

WideString ModuleFileName()
{
    if (ModuleName().empty()) {
        char buf[4096];
        ssize_t n = readlink("/proc/self/exe", buf, sizeof buf - 1);
        if (n > 0) return FromUtf8(std::string(buf, static_cast<size_t>(n)));
    }
    return ModuleName();
}

WideString CommandLine() { return Line(); }

WideString TempPath()
{
    const char* t = std::getenv("TMPDIR");
    return FromUtf8(t && *t ? t : "/tmp") + u"/";
}

WideString LongPathName(const WideString& path)
{
    struct stat st;
    return stat(NativePath(path).c_str(), &st) == 0 ? path : WideString();
}

namespace {
// Statics are initialised before main runs, on the program's main thread.
const std::thread::id gMainThread = std::this_thread::get_id();
}  // namespace

bool OnMainThread() { return std::this_thread::get_id() == gMainThread; }

WideString NewGuid()
{
    static std::mutex m;
    static std::mt19937_64 rng{std::random_device{}()};
    uint8_t b[16];
    {
        std::lock_guard<std::mutex> lock(m);
        for (int i = 0; i < 16; i += 8) {
            uint64_t r = rng();
            for (int k = 0; k < 8; ++k) b[i + k] = static_cast<uint8_t>(r >> (8 * k));
        }
    }
    b[7] = static_cast<uint8_t>((b[7] & 0x0F) | 0x40);  // version 4, as CoCreateGuid gives
    b[8] = static_cast<uint8_t>((b[8] & 0x3F) | 0x80);
    char text[40];
    std::snprintf(text, sizeof text, "{%02X%02X%02X%02X-%02X%02X-%02X%02X-%02X%02X-%02X%02X%02X%02X%02X%02X}", b[0],
                  b[1], b[2], b[3], b[4], b[5], b[6], b[7], b[8], b[9], b[10], b[11], b[12], b[13], b[14], b[15]);
    return WideOf(text);
}

bool DirectoryExists(const WideString& path)
{
    struct stat st;
    return stat(NativePath(path).c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

bool CreateDir(const WideString& path) { return mkdir(NativePath(path).c_str(), 0777) == 0; }

bool RemoveFileName(const WideString& path) { return unlink(NativePath(path).c_str()) == 0; }

std::FILE* CreateNewFile(const WideString& path, bool& taken)
{
    // O_EXCL fails on any existing name, a dangling link included.
    int fd = open(NativePath(path).c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0644);
    taken = fd < 0 && errno == EEXIST;
    if (fd < 0) return nullptr;
    std::FILE* file = fdopen(fd, "wb");
    if (!file) close(fd);
    return file;
}

void SetSpecialFolder(int csidl, const WideString& path) { Folders()[csidl] = path; }
void SetModuleFileName(const WideString& path) { ModuleName() = path; }
void SetCommandLine(const WideString& commandLine) { Line() = commandLine; }

std::string NativePath(const WideString& path)
{
    std::string p = ToUtf8(path);
    for (char& c : p)
        if (c == '\\') c = '/';
    return p;
}

}  // namespace ZoPlatform
