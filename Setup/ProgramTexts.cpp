// The texts a program carries, in every language: built with ZO_TEXT_USERS
// naming the program, only the ones it shows; otherwise all of them (the
// packaging tool and the tests).
#include "TextsEnUS.h"
#include "TextsZhCN.h"

#include <string>
#include <type_traits>

namespace {

// A program carries the texts it shows; the packaging tool (`ForTool`) all of them.
constexpr bool Carries(unsigned program, TTextId id) { return program == ForTool || (TextUsers(id) & program); }
constexpr size_t PackedLength(const TTextTable& table, unsigned program)
{
    size_t length = 0;
    for (const TTextEntry& entry : table)
        if (Carries(program, entry.Id)) length += std::char_traits<char16_t>::length(entry.Text) + 1;
    return length;
}
// Every text the program carries of the table is ASCII: the table keeps bytes.
constexpr bool AllAscii(const TTextTable& table, unsigned program)
{
    for (const TTextEntry& entry : table)
        if (Carries(program, entry.Id))
            for (const char16_t* c = entry.Text; *c; ++c)
                if (*c >= 0x80) return false;
    return true;
}
template <size_t Length, class Char>
struct TPackedTexts {
    static_assert(Length < TTextList::NotCarried, "offsets are 16 bits");
    std::array<uint16_t, TextCount> At{};
    std::array<Char, Length> Chars{};
    constexpr TPackedTexts(const TTextTable& table, unsigned program)
    {
        size_t next = 0;
        for (size_t i = 0; i < TextCount; ++i) {
            At[i] = TTextList::NotCarried;
            if (!Carries(program, table[i].Id)) continue;
            At[i] = static_cast<uint16_t>(next);
            for (const char16_t* c = table[i].Text; *c; ++c) Chars[next++] = static_cast<Char>(*c);
            Chars[next++] = 0;
        }
    }
    constexpr TTextList List() const
    {
        if constexpr (std::is_same_v<Char, char>) return {At.data(), nullptr, Chars.data(), Length};
        else return {At.data(), Chars.data(), nullptr, Length};
    }
};
template <const TTextTable& Table>
using TPackedTable = TPackedTexts<PackedLength(Table, ZO_TEXT_USERS),
                                  std::conditional_t<AllAscii(Table, ZO_TEXT_USERS), char, char16_t>>;

constexpr TPackedTable<TextTables::ZhCN> PackedZhCN(TextTables::ZhCN, ZO_TEXT_USERS);
constexpr TPackedTable<TextTables::EnUS> PackedEnUS(TextTables::EnUS, ZO_TEXT_USERS);

}  // namespace

extern const TTextList TextsZhCN;
extern const TTextList TextsEnUS;
constexpr TTextList TextsZhCN = PackedZhCN.List();
constexpr TTextList TextsEnUS = PackedEnUS.List();
