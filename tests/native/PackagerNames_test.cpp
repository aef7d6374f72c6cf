#include <gtest/gtest.h>

#include "NameGuid.h"
#include "ZoSysUtils.h"

namespace {

std::string Hex(const std::array<uint8_t, 20>& h)
{
    static const char digits[] = "0123456789abcdef";
    std::string s;
    for (uint8_t b : h) s += {digits[b >> 4], digits[b & 15]};
    return s;
}

std::array<uint8_t, 20> Sha1Of(const std::string& s)
{
    return Sha1(reinterpret_cast<const uint8_t*>(s.data()), s.size());
}

TEST(NameGuid, Sha1MatchesThePublishedVectors)
{
    EXPECT_EQ(Hex(Sha1Of("")), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(Hex(Sha1Of("abc")), "a9993e364706816aba3e25717850c26c9cd0d89d");
    // 56 bytes: the length no longer fits the first padding block.
    EXPECT_EQ(Hex(Sha1Of("abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq")),
              "84983e441c3bd26ebaae4aa1f95129e5e54670f1");
    EXPECT_EQ(Hex(Sha1Of(std::string(1000000, 'a'))), "34aa973cd4c4daa4f61eeb2bdbad27316534016f");
}

// "{8-4-4-4-12}" upper-case hexadecimal, version 5, RFC 4122 variant.
bool IsVersion5RegistryGuid(const WideString& g)
{
    if (g.size() != 38 || g.front() != u'{' || g.back() != u'}') return false;
    for (size_t i = 1; i < 37; ++i) {
        bool dash = i == 9 || i == 14 || i == 19 || i == 24;
        char16_t c = g[i];
        if (dash != (c == u'-')) return false;
        if (!dash && !((c >= u'0' && c <= u'9') || (c >= u'A' && c <= u'F'))) return false;
    }
    return g[15] == u'5' && (g[20] == u'8' || g[20] == u'9' || g[20] == u'A' || g[20] == u'B');
}

TEST(NameGuid, SameProjectAndPathGiveTheSameRegistryFormGuid)
{
    const WideString project = u"{0E2B7F1C-1111-4A4A-9B9B-0123456789AB}";
    WideString a = NameBasedGuid(project, u"{app}\\bin\\demo.exe");
    EXPECT_TRUE(IsVersion5RegistryGuid(a)) << ToUtf8(a);
    EXPECT_EQ(a, NameBasedGuid(WideLowerCase(project), u"{APP}\\BIN\\Demo.exe")) << "letter case does not matter";
    EXPECT_NE(a, NameBasedGuid(project, u"{app}\\bin\\demo2.exe"));
    EXPECT_NE(a, NameBasedGuid(u"{0E2B7F1C-1111-4A4A-9B9B-0123456789AC}", u"{app}\\bin\\demo.exe"));
}

}  // namespace
