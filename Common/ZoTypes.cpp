#include "ZoTypes.h"

#include <atomic>
#include <exception>
#include <new>

#include "ZoSysUtils.h"

template class std::basic_string<char16_t>;
template class std::basic_string<char>;
template std::basic_string<char16_t>::basic_string(const char16_t*, const std::allocator<char16_t>&);
template std::basic_string<char>::basic_string(const char*, const std::allocator<char>&);
template class std::vector<uint8_t>;

Exception::Exception(WideString message) : message_(std::move(message)), utf8_(ToUtf8(message_)) {}

Exception::~Exception() = default;

namespace {
std::atomic<const char16_t*> g_outOfMemoryText{nullptr};
}

void SetOutOfMemoryText(const char16_t* text) { g_outOfMemoryText = text; }

namespace {
// The exception being handled, seen as a T, where `error` is that exception and is
// a T; null otherwise, also outside any handler. (The programs carry no run-time
// type information to ask the object itself.)
template <class T>
const T* HandledAs(const std::exception& error)
{
    if (!std::current_exception()) return nullptr;
    try {
        throw;
    } catch (const T& handled) {
        if (static_cast<const std::exception*>(&handled) == &error) return &handled;
    } catch (...) {
    }
    return nullptr;
}
}  // namespace

bool IsOutOfMemory(const std::exception& error) { return HandledAs<std::bad_alloc>(error) != nullptr; }

WideString ErrorText(const std::exception& error)
{
    if (auto* own = HandledAs<Exception>(error)) return own->Message();
    if (const char16_t* text = g_outOfMemoryText; text && IsOutOfMemory(error)) return text;
    return FromUtf8(error.what());
}

void AssertFailure(const WideString& text, const char* unit, int line)
{
    throw EAssertionFailed(FormatText(u"%s (%s, line %d)", {text, WideOf(unit), IntToStr(line)}));
}
