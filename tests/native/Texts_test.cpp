#include <gtest/gtest.h>

#include "NewProject.h"
#include "SetupProject.h"
#include "TestSupport.h"
#include "Texts.h"
#include "ZoPlatform.h"
#include "ZoStream.h"
#include "ZoSysUtils.h"

namespace {

// The "%s" and "%d" marks in order: what FormatText fills.
std::string Marks(std::u16string_view text)
{
    std::string marks;
    for (size_t i = 0; i + 1 < text.size(); ++i)
        if (text[i] == u'%') marks += static_cast<char>(text[++i]);
    return marks;
}

}  // namespace

// A translation that drops or adds a placeholder would show a wrong text, or
// none of the product's name; an empty one would show nothing at all.
TEST(Texts, EveryLanguageHasEveryTextWithTheSamePlaceholders)
{
    for (TLanguage language : AllLanguages) {
        for (size_t i = 0; i < TextCount; ++i) {
            const TTextId id = static_cast<TTextId>(i);
            const std::u16string_view text = TextIn(language, id);
            EXPECT_FALSE(text.empty()) << ToUtf8(LanguageTag(language)) << " lacks text " << i;
            EXPECT_EQ(Marks(text), Marks(TextIn(TLanguage::zhCN, id)))
                << ToUtf8(LanguageTag(language)) << " text " << i << ": " << ToUtf8(WideString(text));
        }
    }
}

TEST(Texts, LanguageComesFromTheCommandLineThenTheProjectThenTheUsersWindows)
{
    constexpr uint16_t zhCN = 0x0804, zhTW = 0x0404, enGB = 0x0809, jaJP = 0x0411;
    EXPECT_EQ(ResolveLanguage(u"", u"", enGB), TLanguage::zhCN) << "a project without Language speaks as before";
    EXPECT_EQ(ResolveLanguage(u"en-us", u"", zhCN), TLanguage::enUS);
    EXPECT_EQ(ResolveLanguage(u"auto", u"", zhTW), TLanguage::zhCN) << "any Chinese";
    EXPECT_EQ(ResolveLanguage(u"Auto", u"", jaJP), TLanguage::enUS);
    EXPECT_EQ(ResolveLanguage(u"zh-CN", u"EN-US", zhCN), TLanguage::enUS) << "/LANG= wins";
    EXPECT_EQ(ResolveLanguage(u"en-US", u"fr-FR", zhCN), TLanguage::enUS) << "an unknown /LANG= is no choice";

#ifndef _WIN32
    // /LANG= stands beside the one switch without taking its place.
    ZoPlatform::SetCommandLine(u"setup.exe /lang=en-US /Silent");
    EXPECT_EQ(ArgCount(), 1);
    EXPECT_EQ(ArgAt(1), u"/Silent");
    EXPECT_EQ(LanguageArgument(), u"en-US");
    ZoPlatform::SetCommandLine(u"");
#endif
}

// Scripts without Language keep their bytes; one that has it keeps it.
TEST(Texts, LanguageIsWrittenOnlyWhenSet)
{
    TSetupScript script;
    TMemoryStream plain;
    script.SaveToStream(plain);
    EXPECT_EQ(std::string(plain.Bytes().begin(), plain.Bytes().end()).find("Language"), std::string::npos);

    script.BaseInfo->Language = u"en-US";
    TMemoryStream stream;
    script.SaveToStream(stream);
    stream.SetPosition(0);
    TSetupScript loaded;
    loaded.LoadFromStream(stream);
    EXPECT_EQ(loaded.BaseInfo->Language, u"en-US");
}

TEST(Texts, NewProjectOutsideChinaIsEnglishAndFollowsTheUser)
{
    EXPECT_EQ(LanguageOfLocale(u"zh_CN.UTF-8"), TLanguage::zhCN);
    EXPECT_EQ(LanguageOfLocale(u"C.UTF-8"), TLanguage::enUS);
    TTempFolder dir;
    WriteNewProject(dir.Wide("Hello.xml"), TLanguage::enUS);
    TSetupScript script;
    script.LoadFromFile(dir.Wide("Hello.xml"));
    EXPECT_EQ(script.BaseInfo->Language, u"auto");
    EXPECT_EQ(script.ShortCutList->Items(2)->Name, u"Uninstall {AppTitle}");
    EXPECT_EQ(ReadFileBytes(dir.Path() / "license.txt").substr(3, 17), "License Agreement");
}
