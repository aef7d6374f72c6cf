// Choosing the language and looking texts up in its table.
#include "Texts.h"

#include <atomic>
#include <memory>
#include <string>

extern const TTextList TextsZhCN;
extern const TTextList TextsEnUS;

namespace {

std::atomic<TLanguage> g_language{TLanguage::zhCN};

const TTextList& TableOf(TLanguage language) { return language == TLanguage::enUS ? TextsEnUS : TextsZhCN; }

bool EqualsIgnoringCase(std::u16string_view a, std::u16string_view b)
{
    if (a.size() != b.size()) return false;
    auto lower = [](char16_t c) { return c >= u'A' && c <= u'Z' ? char16_t(c + 32) : c; };
    for (size_t i = 0; i < a.size(); ++i)
        if (lower(a[i]) != lower(b[i])) return false;
    return true;
}

// A table kept in bytes, widened whole when first read. The copy lasts as long as
// the process, through the destruction of other statics that may still read a
// text (where two threads race, the second one's copy goes, the first one's stays).
const char16_t* Widened(TLanguage language, const TTextList& list)
{
    static std::atomic<char16_t*> copies[AllLanguages.size()];
    std::atomic<char16_t*>& slot = copies[static_cast<size_t>(language)];
    if (char16_t* copy = slot.load(std::memory_order_acquire)) return copy;
    std::unique_ptr<char16_t[]> made(new char16_t[list.Length]);
    for (size_t k = 0; k < list.Length; ++k) made[k] = static_cast<unsigned char>(list.Narrow[k]);
    char16_t* first = nullptr;
    return slot.compare_exchange_strong(first, made.get(), std::memory_order_acq_rel) ? made.release() : first;
}

constexpr uint16_t LangChinese = 0x04;  // PRIMARYLANGID of every Chinese LANGID

}  // namespace

void SetLanguage(TLanguage language)
{
    g_language = language;
    SetOutOfMemoryText(TextIn(language, TTextId::OutOfMemory));
}

TLanguage CurrentLanguage() { return g_language; }

WideString CurrentText(TTextId id) { return TextIn(g_language, id); }
std::u16string_view CurrentTextView(TTextId id) { return TextIn(g_language, id); }

const char16_t* TextIn(TLanguage language, TTextId id)
{
    const size_t i = static_cast<size_t>(id);
    const TTextList& list = TableOf(language);
    if (i >= TextCount || list.At[i] == TTextList::NotCarried) return u"";
    return (list.Chars ? list.Chars : Widened(language, list)) + list.At[i];
}

TCloseProgramsTexts CloseProgramsTexts()
{
    using enum TTextId;
    return {Text(CloseProgramsCaption), Text(ProgramsRunning),     Text(ProgramsStillRunning),
            Text(CloseAndContinueButton), Text(CancelButton),   Text(KeepWaitingButton),
            Text(EndProgramsButton),    Text(ClosingPrograms),     Text(ProgramAskedFormat),
            Text(ProgramEndedFormat),   Text(CloseProgramsCancelled), Text(FileHoldersFormat),
            Text(ListSeparator)};
}

const char16_t* LanguageTag(TLanguage language) { return language == TLanguage::enUS ? u"en-US" : u"zh-CN"; }

std::optional<TLanguage> LanguageFromTag(std::u16string_view tag)
{
    for (TLanguage language : AllLanguages)
        if (EqualsIgnoringCase(tag, LanguageTag(language))) return language;
    return std::nullopt;
}

bool IsLanguageSetting(std::u16string_view setting)
{
    return setting.empty() || EqualsIgnoringCase(setting, u"auto") || LanguageFromTag(setting).has_value();
}

TLanguage ResolveLanguage(std::u16string_view setting, std::u16string_view commandLineTag, uint16_t userUiLanguage)
{
    if (auto chosen = LanguageFromTag(commandLineTag)) return *chosen;
    if (auto named = LanguageFromTag(setting)) return *named;
    if (EqualsIgnoringCase(setting, u"auto"))
        return (userUiLanguage & 0x3FF) == LangChinese ? TLanguage::zhCN : TLanguage::enUS;
    return TLanguage::zhCN;
}
