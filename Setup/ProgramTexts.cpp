// The texts a program carries, in every language: built with ZO_TEXT_USERS
// naming the program, only the ones it shows; otherwise all of them (the
// packaging tool and the tests).
#include "TextsEnUS.h"
#include "TextsZhCN.h"

extern const TTextList TextsZhCN;
extern const TTextList TextsEnUS;
constexpr TTextList TextsZhCN = TextsOf(TextTables::ZhCN, ZO_TEXT_USERS);
constexpr TTextList TextsEnUS = TextsOf(TextTables::EnUS, ZO_TEXT_USERS);
