// Linux side of the holders whose work is the operating system's.
#include <sys/stat.h>
#include <utime.h>

#include <cstdio>
#include <ctime>

#include "ZoPlatform.h"
#include "ZoSysUtils.h"

void TZoSysfn::WriteConsoleLine(const WideString& text)
{
    std::string line = ToUtf8(text) + "\r\n";
    std::fwrite(line.data(), 1, line.size(), stdout);
    std::fflush(stdout);
}

bool TZoFilefn::SetFileTimes(const WideString& file, const FileTimes& times)
{
    std::string path = ZoPlatform::NativePath(file);
    struct stat st;
    if (stat(path.c_str(), &st) != 0) return false;
    auto toUnix = [](TDateTime t, time_t unchanged) {
        std::optional<TCalendarTime> decoded = TryDecodeDateTime(t);
        if (!decoded) return unchanged;  // no date the system can hold
        const TCalendarTime& c = *decoded;
        std::tm tm{};
        tm.tm_year = c.year - 1900;
        tm.tm_mon = c.month - 1;
        tm.tm_mday = c.day;
        tm.tm_hour = c.hour;
        tm.tm_min = c.minute;
        tm.tm_sec = c.second;
        tm.tm_isdst = -1;
        return std::mktime(&tm);
    };
    struct utimbuf ut;
    ut.actime = times.LastAccessTime != 0 ? toUnix(times.LastAccessTime, st.st_atime) : st.st_atime;
    ut.modtime = times.LastWriteTime != 0 ? toUnix(times.LastWriteTime, st.st_mtime) : st.st_mtime;
    return utime(path.c_str(), &ut) == 0;
}
