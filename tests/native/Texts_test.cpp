#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <set>

#include "NewProject.h"
#include "SetupProject.h"
#include "TestSupport.h"
#include "Texts.h"
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

// A Chinese text written into a program instead of the tables would stay
// Chinese in every language: outside the Chinese table, none may be in a
// string literal (comments may quote them).
TEST(Texts, EveryChineseTextIsInTheTables)
{
    const std::filesystem::path root = ZO_SOURCE_DIR;
    // Font face names, not texts; and the XML reader's own detail.
    const std::set<std::string> allowed{"\"微软雅黑\"", "\"XML 标签不匹配\""};
    const std::regex literal(R"((?:u8|u|L)?"(?:[^"\\]|\\.)*")");
    const std::regex chinese("[\xE3-\xE9][\x80-\xBF][\x80-\xBF]|\xEF\xBC[\x80-\xBF]");
    for (const char* folder : {"Common", "Setup", "Forms", "Installer", "Uninstaller", "Packager"}) {
        for (const auto& entry : std::filesystem::recursive_directory_iterator(root / folder)) {
            const std::string ext = entry.path().extension().string();
            if ((ext != ".cpp" && ext != ".h") || entry.path().filename() == "TextsZhCN.h") continue;
            std::ifstream in(entry.path());
            std::string line;
            for (int n = 1; std::getline(in, line); ++n) {
                size_t after = 0;  // the end of the literal before: a "//" between the two starts a comment
                for (std::sregex_iterator it(line.begin(), line.end(), literal), end; it != end; ++it) {
                    if (line.substr(after, static_cast<size_t>(it->position()) - after).find("//") != std::string::npos)
                        break;
                    after = static_cast<size_t>(it->position() + it->length());
                    std::string text = it->str();
                    text.erase(0, text.find('"'));
                    if (std::regex_search(text, chinese) && !allowed.contains(text))
                        ADD_FAILURE() << entry.path().lexically_relative(root).string() << ":" << n << ": " << text;
                }
            }
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

// The programs carry no run-time type information: ErrorText tells our exceptions
// and running out of memory apart by the exception being handled.
TEST(Texts, ErrorTextKnowsTheHandledException)
{
    const WideString unpaired = u"bad \xD800 name";  // no UTF-8 form: only Message() keeps it
    try {
        throw Exception(unpaired);
    } catch (const std::exception& e) {
        EXPECT_EQ(ErrorText(e), unpaired);
        EXPECT_FALSE(IsOutOfMemory(e));
    }
    SetOutOfMemoryText(u"out of memory");
    try {
        throw std::bad_alloc();
    } catch (const std::exception& e) {
        EXPECT_TRUE(IsOutOfMemory(e));
        EXPECT_EQ(ErrorText(e), u"out of memory");
    }
    SetOutOfMemoryText(nullptr);
    try {
        throw std::runtime_error("plain");
    } catch (const std::exception& e) {
        EXPECT_EQ(ErrorText(e), u"plain");
    }
    EXPECT_EQ(ErrorText(Exception(u"outside a handler")), u"outside a handler");
}
