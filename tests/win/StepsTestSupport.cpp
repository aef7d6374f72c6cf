#include "StepsTestSupport.h"

#include <cstring>
#include <fstream>
#include <stdexcept>
#include <sstream>

#include "SetupFn.h"
#include "ZoSysUtils.h"
#include "ZoWinText_win.h"

std::string Narrow(const WideString& s) { return ToUtf8(s); }
WideString Wide(const std::string& s) { return FromUtf8(s); }

// ---- Package ------------------------------------------------------------------------

TTestPackage::TTestPackage() : writer_(std::make_unique<TFileDataBlockWriter>(block_)) {}
TTestPackage::~TTestPackage() = default;

WideString TTestPackage::AddFile(const std::string& bytes)
{
    WideString key = TZoStrfn::NewGuidString();
    writer_->AddFile(key, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return key;
}

WideString TTestPackage::AddRawImage(const std::string& encoded)
{
    WideString key = TZoStrfn::NewGuidString();
    writer_->AddEncodedImage(key, reinterpret_cast<const uint8_t*>(encoded.data()), encoded.size());
    return key;
}

HMODULE TTestPackage::Module()
{
    if (module_) return module_.Get();
    writer_->Finish();
    return ModuleWithBlock(block_.Bytes());
}

HMODULE TTestPackage::ModuleWithBlock(const TBytes& block)
{
    WideString path = folder_.Wide("package.dll");
    WideString host = TestProgramDir() + u"steps_host.dll";
    if (!CopyFileW(W(host), W(path), FALSE)) throw std::runtime_error("cannot copy steps_host.dll");
    HANDLE update = BeginUpdateResourceW(W(path), FALSE);
    if (!update) throw std::runtime_error("BeginUpdateResource failed");
    WideString name = WideOf(FileDataResource);
    UpdateResourceW(update, RT_RCDATA, W(name), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                    const_cast<uint8_t*>(block.data()), static_cast<DWORD>(block.size()));
    if (!EndUpdateResourceW(update, FALSE)) throw std::runtime_error("EndUpdateResource failed");
    module_.Reset(LoadLibraryExW(W(path), nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE));
    if (!module_) throw std::runtime_error("cannot open the package module");
    return module_.Get();
}

TSetupFile* AddFileEntry(TSetupScript& script, TTestPackage& package, const WideString& destDir,
                         const WideString& sourceMask, const std::string& bytes, double lastWriteDate)
{
    TSetupFile* entry = script.FileList->Add();
    entry->DestDir = destDir;
    entry->SourceMask = sourceMask;
    entry->FileBytes = static_cast<int32_t>(bytes.size());
    entry->LastWriteDate = lastWriteDate;
    if (!bytes.empty()) entry->ResID = package.AddFile(bytes);
    return entry;
}

// ---- Standard output ------------------------------------------------------------------

TCapturedOutput::TCapturedOutput() : previous_(GetStdHandle(STD_OUTPUT_HANDLE))
{
    file_.Reset(CreateFileW(W(folder_.Wide("out.txt")), GENERIC_WRITE, FILE_SHARE_READ, nullptr, CREATE_ALWAYS,
                            FILE_ATTRIBUTE_NORMAL, nullptr));
    SetStdHandle(STD_OUTPUT_HANDLE, file_.Get());
}

TCapturedOutput::~TCapturedOutput() { SetStdHandle(STD_OUTPUT_HANDLE, previous_); }

std::string TCapturedOutput::Text() const { return ReadFileBytes(folder_.Path() / "out.txt"); }

// ---- Registry -------------------------------------------------------------------------

TRegValue ReadRegValue(HKEY root, const WideString& key, const WideString& name)
{
    TRegValue v;
    TUniqueHKey k;
    if (RegOpenKeyExW(root, W(key), 0, KEY_READ, k.Put()) != ERROR_SUCCESS) {
        k.Release();
        return v;
    }
    DWORD type = 0, size = 0;
    if (RegQueryValueExW(k.Get(), W(name), nullptr, &type, nullptr, &size) != ERROR_SUCCESS) return v;
    std::vector<uint8_t> data(size + 2, 0);
    RegQueryValueExW(k.Get(), W(name), nullptr, &type, data.data(), &size);
    v.exists = true;
    v.type = type;
    if (type == REG_SZ || type == REG_EXPAND_SZ)
        v.text = WideString(reinterpret_cast<const char16_t*>(data.data()));
    if (type == REG_DWORD && size == 4) std::memcpy(&v.number, data.data(), 4);
    return v;
}

std::vector<WideString> RegValueNames(HKEY root, const WideString& key)
{
    std::vector<WideString> names;
    TUniqueHKey k;
    if (RegOpenKeyExW(root, W(key), 0, KEY_READ, k.Put()) != ERROR_SUCCESS) {
        k.Release();
        return names;
    }
    for (DWORD i = 0;; ++i) {
        wchar_t name[256];
        DWORD len = 256;
        if (RegEnumValueW(k.Get(), i, name, &len, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) break;
        names.emplace_back(reinterpret_cast<const char16_t*>(name), len);
    }
    return names;
}

bool RegKeyExists(HKEY root, const WideString& key)
{
    TUniqueHKey k;
    if (RegOpenKeyExW(root, W(key), 0, KEY_READ, k.Put()) != ERROR_SUCCESS) {
        k.Release();
        return false;
    }
    return true;
}

void DeleteRegTree(HKEY root, const WideString& key) { RegDeleteTreeW(root, W(key)), RegDeleteKeyW(root, W(key)); }

// ---- Files and programs -----------------------------------------------------------------

namespace {
double LocalDateTime(const FILETIME& utc)
{
    FILETIME local;
    SYSTEMTIME st;
    FileTimeToLocalFileTime(&utc, &local);
    FileTimeToSystemTime(&local, &st);
    return EncodeDateTime({st.wYear, st.wMonth, st.wDay, st.wHour, st.wMinute, st.wSecond, st.wMilliseconds});
}

void Times(const WideString& path, FILETIME& creation, FILETIME& write)
{
    WIN32_FILE_ATTRIBUTE_DATA data{};
    if (!GetFileAttributesExW(W(path), GetFileExInfoStandard, &data)) throw std::runtime_error("no such file");
    creation = data.ftCreationTime;
    write = data.ftLastWriteTime;
}
}  // namespace

double FileWriteTime(const WideString& path)
{
    FILETIME c, w;
    Times(path, c, w);
    return LocalDateTime(w);
}

double FileCreationTime(const WideString& path)
{
    FILETIME c, w;
    Times(path, c, w);
    return LocalDateTime(c);
}

WideString TestProgramDir()
{
    wchar_t buf[MAX_PATH + 1] = {};
    GetModuleFileNameW(nullptr, buf, MAX_PATH);
    return DirPart(WideString(reinterpret_cast<const char16_t*>(buf)));
}

void CopyHelper(const WideString& path)
{
    WideString helper = TestProgramDir() + u"steps_helper.exe";
    TZoFilefn::ForceFileDir(path);
    if (!CopyFileW(W(helper), W(path), FALSE)) throw std::runtime_error("cannot copy steps_helper.exe");
}
