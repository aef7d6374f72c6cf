// The probe's second object: exceptions thrown here and inside the standard library.
#include <stdexcept>
#include <string>

void ThrowFromLibrary()
{
    std::string text("ab");
    (void)text.at(5);
}

[[gnu::noinline]] void ThrowAcrossObjects(int depth)
{
    std::string name = "depth " + std::to_string(depth);
    if (depth == 0) throw std::runtime_error(name);
    ThrowAcrossObjects(depth - 1);
}
