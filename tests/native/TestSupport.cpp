#include "TestSupport.h"

#include <fstream>
#include <random>
#include <sstream>

#include "ZoSysUtils.h"

TTempFolder::TTempFolder()
{
    static std::mt19937_64 rng{std::random_device{}()};
    path_ = std::filesystem::temp_directory_path() / ("zotest-" + std::to_string(rng()));
    std::filesystem::create_directories(path_);
}

TTempFolder::~TTempFolder()
{
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
}

WideString TTempFolder::Wide(const std::string& name) const
{
    auto p = name.empty() ? path_ : path_ / name;
#ifdef _WIN32
    return WideString(reinterpret_cast<const char16_t*>(p.wstring().c_str()));
#else
    return FromUtf8(p.string());
#endif
}

TBytes RandomBytes(size_t size, uint32_t seed)
{
    std::mt19937 rng(seed);
    TBytes b(size);
    for (auto& x : b) x = static_cast<uint8_t>(rng());
    return b;
}

std::string ReadFileBytes(const std::filesystem::path& path)
{
    std::ifstream f(path, std::ios::binary);
    std::ostringstream s;
    s << f.rdbuf();
    return s.str();
}

void WriteFileBytes(const std::filesystem::path& path, const std::string& bytes)
{
    std::ofstream f(path, std::ios::binary);
    f.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
}
