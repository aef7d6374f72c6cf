// Linked like the installer, through the unused-code removal: exceptions still
// unwind through every kind of function that stays (own code, inline copies, the
// standard library's), and code nothing calls is gone. Exit code: failures.
#include <cstdio>
#include <ostream>
#include <stdexcept>
#include <string>

// Found in the file by tests/win/link_check.py: the first only unused code refers
// to, the second code that runs.
extern const char kUnusedMarker[] = "link probe: unused code kept";
extern const char kUsedMarker[] = "link probe: used code kept";

void ThrowFromLibrary();  // link_probe_throw.cpp
void ThrowAcrossObjects(int depth);

// Never called: it must leave the program, and the stream code it reaches with it.
void WriteUnused(std::ostream& out)
{
    out << kUnusedMarker << 42 << 1.5;
}

namespace {

int failures = 0;
int guardsDone = 0;

void Check(bool ok, const char* what)
{
    if (!ok) {
        std::printf("FAIL: %s\n", what);
        ++failures;
    }
}

struct TGuard {
    ~TGuard() { ++guardsDone; }
};

struct EProbe : std::runtime_error {
    explicit EProbe(int c) : std::runtime_error("probe"), code(c) {}
    int code;
};

[[gnu::noinline]] void Deepest(int n)
{
    TGuard guard;
    if (n > 0) throw EProbe(n);
}

[[gnu::noinline]] void Middle(int n)
{
    TGuard guard;
    std::string text(64, 'x');  // a destructor with its own unwind step
    Deepest(n);
}

[[gnu::noinline]] int Outer(int n)
{
    TGuard guard;
    try {
        Middle(n);
    } catch (const std::logic_error&) {
        return -1;  // not this handler
    }
    return 0;
}

}  // namespace

int main()
{
    std::puts(kUsedMarker);

    guardsDone = 0;
    try {
        Outer(7);
        Check(false, "an exception through three frames is caught");
    } catch (const EProbe& e) {
        Check(e.code == 7, "the caught exception is the thrown one");
    }
    Check(guardsDone == 3, "every frame's locals are destroyed on the way");

    try {
        ThrowFromLibrary();
        Check(false, "the standard library's exception is caught");
    } catch (const std::out_of_range&) {
    }

    try {
        ThrowAcrossObjects(5);
        Check(false, "an exception from another object is caught");
    } catch (const std::exception& e) {
        Check(std::string(e.what()) == "depth 0", "the other object's exception carries its text");
    }

    try {
        try {
            Deepest(1);
        } catch (...) {
            throw;
        }
    } catch (const EProbe& e) {
        Check(e.code == 1, "a rethrown exception keeps its type");
    }

    std::printf("%d failures\n", failures);
    return failures;
}
