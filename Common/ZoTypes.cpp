#include "ZoTypes.h"

#include <atomic>
#include <new>

#include "ZoSysUtils.h"

template class std::basic_string<char16_t>;
template class std::basic_string<char>;

Exception::Exception(WideString message) : message_(std::move(message)), utf8_(ToUtf8(message_)) {}

Exception::~Exception() = default;

namespace {
std::atomic<const char16_t*> g_outOfMemoryText{nullptr};
}

void SetOutOfMemoryText(const char16_t* text) { g_outOfMemoryText = text; }

WideString ErrorText(const std::exception& error)
{
    if (auto* own = dynamic_cast<const Exception*>(&error)) return own->Message();
    if (const char16_t* text = g_outOfMemoryText; text && dynamic_cast<const std::bad_alloc*>(&error)) return text;
    return FromUtf8(error.what());
}

void AssertFailure(const WideString& text, const char* unit, int line)
{
    throw EAssertionFailed(FormatText(u"%s (%s, line %d)", {text, WideOf(unit), IntToStr(line)}));
}
