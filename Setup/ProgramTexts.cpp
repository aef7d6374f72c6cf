// The texts a program carries, in every language: built with ZO_TEXT_USERS
// naming the program, only the ones it shows; otherwise all of them (the
// packaging tool and the tests).
#include "TextsEnUS.h"
#include "TextsZhCN.h"

namespace {

constexpr TPackedTexts<PackedLength(TextTables::ZhCN, ZO_TEXT_USERS)> PackedZhCN(TextTables::ZhCN, ZO_TEXT_USERS);
constexpr TPackedTexts<PackedLength(TextTables::EnUS, ZO_TEXT_USERS)> PackedEnUS(TextTables::EnUS, ZO_TEXT_USERS);

}  // namespace

extern const TTextList TextsZhCN;
extern const TTextList TextsEnUS;
constexpr TTextList TextsZhCN = PackedZhCN.List();
constexpr TTextList TextsEnUS = PackedEnUS.List();
