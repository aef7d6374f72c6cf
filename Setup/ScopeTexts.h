// The texts of the installation scope (every user, or the current user),
// shared by the installer and the uninstaller; kept together for translation.
#pragma once

inline constexpr const char16_t* ScopeAllUsersText = u"为所有用户安装";
inline constexpr const char16_t* ScopeCurrentUserText = u"仅为我安装";
// The consent prompt was refused (or the copy could not start) with "/Silent".
inline constexpr const char16_t* ElevationRefusedText = u"未获得管理员权限，无法为所有用户安装。";
// The uninstaller's, with the product's title.
inline constexpr const char16_t* UninstallElevationRefusedText = u"未获得管理员权限，无法卸载为所有用户安装的 %s。";
// The log's notes.
inline constexpr const char16_t* MachineInstallationLeftText = u"已为所有用户安装的版本保持不变：%s（%s）";
inline constexpr const char16_t* ScopeLogText = u"安装范围：%s";
inline constexpr const char16_t* ScopeSwitchIgnoredText = u"此安装程序的安装范围是固定的，忽略命令行的安装范围。";
inline constexpr const char16_t* ElevatedStartText = u"以管理员权限启动：";
inline constexpr const char16_t* ElevatedEndedText = u"管理员权限的安装程序已结束，退出代码 %s";
inline constexpr const char16_t* ElevationRefusedLogText = u"管理员权限被拒绝";
inline constexpr const char16_t* ElevationFailedLogText = u"无法以管理员权限启动安装程序";
