#include "ZoTypes.h"

#include <new>

#include "ZoSysUtils.h"

Exception::Exception(WideString message) : message_(std::move(message)), utf8_(ToUtf8(message_)) {}

WideString ErrorText(const std::exception& error)
{
    if (auto* own = dynamic_cast<const Exception*>(&error)) return own->Message();
    if (dynamic_cast<const std::bad_alloc*>(&error)) return u"内存不足。";
    return FromUtf8(error.what());
}

void AssertFailure(const WideString& text, const char* unit, int line)
{
    throw EAssertionFailed(FormatText(u"%s (%s, line %d)", {text, WideOf(unit), IntToStr(line)}));
}
