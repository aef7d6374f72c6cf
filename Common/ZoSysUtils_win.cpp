// Windows side of the system utilities.
#include <windows.h>

#include <cmath>

#include "ZoPlatform.h"
#include "ZoSysUtils.h"

namespace {
const wchar_t* W(const WideString& s) { return reinterpret_cast<const wchar_t*>(s.c_str()); }
}  // namespace

void TZoSysfn::WriteConsoleLine(const WideString& text)
{
    AnsiString line = ZoPlatform::WideToAnsi(text) + "\r\n";
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), line.data(), static_cast<DWORD>(line.size()), &written, nullptr);
}

bool TZoFilefn::SetFileTimes(const WideString& file, const FileTimes& times)
{
    HANDLE h = CreateFileW(W(file), GENERIC_READ | GENERIC_WRITE, 0, nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL,
                           nullptr);
    if (h == INVALID_HANDLE_VALUE) return false;
    auto convert = [](TDateTime t, FILETIME& utc) {
        if (std::fabs(t) < 1e-12) return false;
        TCalendarTime c = DecodeDateTime(t);
        SYSTEMTIME st{};
        st.wYear = static_cast<WORD>(c.year);
        st.wMonth = static_cast<WORD>(c.month);
        st.wDay = static_cast<WORD>(c.day);
        st.wHour = static_cast<WORD>(c.hour);
        st.wMinute = static_cast<WORD>(c.minute);
        st.wSecond = static_cast<WORD>(c.second);
        st.wMilliseconds = static_cast<WORD>(c.millisecond);
        FILETIME local;
        return SystemTimeToFileTime(&st, &local) && LocalFileTimeToFileTime(&local, &utc);
    };
    FILETIME c, a, w;
    bool hc = convert(times.CreationTime, c), ha = convert(times.LastAccessTime, a),
         hw = convert(times.LastWriteTime, w);
    BOOL ok = SetFileTime(h, hc ? &c : nullptr, ha ? &a : nullptr, hw ? &w : nullptr);
    CloseHandle(h);
    return ok != 0;
}
