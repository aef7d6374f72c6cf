// A child program for the process tests.
//   ui_child exit N        ends with exit code N
//   ui_child print TEXT    writes TEXT (\r and \n as escapes) to standard output
//   ui_child big N         writes N bytes "0123456789..." at once
//   ui_child sleep MS      waits, then ends with 0
//   ui_child big N MS      writes N bytes, then waits MS before ending
#include <windows.h>

#include <cstdlib>
#include <string>

namespace {
void Out(const std::string& bytes)
{
    DWORD written = 0;
    WriteFile(GetStdHandle(STD_OUTPUT_HANDLE), bytes.data(), DWORD(bytes.size()), &written, nullptr);
}
}  // namespace

int wmain(int argc, wchar_t** argv)
{
    if (argc < 3) return 100;
    std::wstring cmd = argv[1], arg = argv[2];
    if (cmd == L"exit") return _wtoi(arg.c_str());
    if (cmd == L"sleep") {
        Sleep(DWORD(_wtoi(arg.c_str())));
        return 0;
    }
    if (cmd == L"print") {
        std::string out;
        for (size_t i = 0; i < arg.size(); ++i) {
            if (arg[i] == L'\\' && i + 1 < arg.size() && (arg[i + 1] == L'r' || arg[i + 1] == L'n')) {
                out += arg[++i] == L'r' ? '\r' : '\n';
            } else {
                out += char(arg[i]);
            }
        }
        Out(out);
        return 0;
    }
    if (cmd == L"big") {
        std::string out;
        for (int i = 0; i < _wtoi(arg.c_str()); ++i) out += char('0' + i % 10);
        Out(out);
        if (argc > 3) Sleep(DWORD(_wtoi(argv[3])));
        return 0;
    }
    return 100;
}
