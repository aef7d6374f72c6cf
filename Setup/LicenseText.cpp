// The user-agreement text: encoding by byte-order mark, then lines joined by CR LF.
#include "LicenseText.h"

#include "ZoPlatform.h"
#include "ZoSysUtils.h"

namespace {

WideString Utf16(const uint8_t* p, size_t size, bool bigEndian)
{
    WideString out(size / 2, u'\0');  // an odd final byte is dropped
    for (size_t i = 0; i < out.size(); ++i) {
        uint8_t lo = p[2 * i + (bigEndian ? 1 : 0)], hi = p[2 * i + (bigEndian ? 0 : 1)];
        out[i] = static_cast<char16_t>(lo | hi << 8);
    }
    return out;
}

// Every line ends in CR LF; a break is CR LF, CR, LF or U+2028, and one of the
// first three followed by U+2028 is still one break. The text ends at a NUL.
WideString JoinLines(const WideString& text)
{
    WideString out;
    out.reserve(text.size() + text.size() / 16 + 2);
    size_t i = 0, n = text.size();
    size_t nul = text.find(u'\0');
    if (nul != WideString::npos) n = nul;
    while (i < n) {
        size_t start = i;
        while (i < n && text[i] != u'\r' && text[i] != u'\n' && text[i] != u'\u2028') ++i;
        out.append(text, start, i - start);
        out += u"\r\n";
        if (i < n) {
            char16_t c = text[i++];
            if (c == u'\r' && i < n && text[i] == u'\n') ++i;
            if (c != u'\u2028' && i < n && text[i] == u'\u2028') ++i;
        }
    }
    return out;
}

}  // namespace

WideString DecodeLicenseText(const uint8_t* data, size_t size)
{
    if (!data) size = 0;
    WideString text;
    if (size >= 2 && data[0] == 0xFF && data[1] == 0xFE) {
        text = Utf16(data + 2, size - 2, false);
    } else if (size >= 2 && data[0] == 0xFE && data[1] == 0xFF) {
        text = Utf16(data + 2, size - 2, true);
    } else if (size >= 3 && data[0] == 0xEF && data[1] == 0xBB && data[2] == 0xBF) {
        text = FromUtf8(AnsiString(reinterpret_cast<const char*>(data) + 3, size - 3));
    } else if (size > 0) {
        text = ZoPlatform::AnsiToWide(AnsiString(reinterpret_cast<const char*>(data), size));
    }
    return JoinLines(text);
}
