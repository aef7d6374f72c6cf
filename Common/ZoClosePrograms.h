// Asking the product's running programs to close before its files are written
// or removed: the choices a person has, the time they are given, and every
// text the installer and the uninstaller show or log about it (kept together
// here so that they move into the language tables as one).
#pragma once

#include "ZoTypes.h"

// What the running-programs dialog answers. First asked: Close or Cancel;
// asked again about programs that did not close: Wait, End or Cancel.
enum class TCloseChoice { Close, Wait, End, Cancel };

// How long the programs asked to close are waited for, in all, before they
// are named again (window) or ended (no one there).
inline constexpr unsigned kProgramCloseWaitMs = 15000;

namespace CloseProgramsText {
inline constexpr const char16_t* Caption = u"关闭程序";
inline constexpr const char16_t* Running = u"以下程序正在运行，需要先关闭它们（请先保存您的工作）：";
inline constexpr const char16_t* StillRunning = u"以下程序仍未关闭，可能正在询问是否保存，请切换到该程序处理：";
inline constexpr const char16_t* CloseAndContinue = u"关闭程序并继续";
inline constexpr const char16_t* Cancel = u"取消";
inline constexpr const char16_t* Wait = u"继续等待";
inline constexpr const char16_t* End = u"结束程序";
inline constexpr const char16_t* Closing = u"正在关闭程序";
// Log lines; %s: the program as listed.
inline constexpr const char16_t* Asked = u"已请求关闭：%s";
inline constexpr const char16_t* EndedNotClosed = u"未能关闭，已结束：%s";
inline constexpr const char16_t* Cancelled = u"用户取消了关闭程序，未作任何更改";
// Appended to the copy-failure window's reason; %s: the programs.
inline constexpr const char16_t* Holders = u"正在使用此文件的程序：%s";
inline constexpr const char16_t* ListSeparator = u"、";
}  // namespace CloseProgramsText
