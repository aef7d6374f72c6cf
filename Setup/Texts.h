// Every text the installer, the uninstaller and the packaging tool's starting
// project show a person, by language. Each language is one table (TextsZhCN.h,
// TextsEnUS.h) that lists every TTextId in this order; a table that misses
// one does not compile. Chinese is the default: a project that names no
// language speaks exactly as it always did. Each program carries only the
// texts it shows (ProgramTexts.cpp); asking for another one does not compile.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string_view>

#include "ZoClosePrograms.h"
#include "ZoTypes.h"

enum class TLanguage : uint8_t { zhCN, enUS };
inline constexpr std::array<TLanguage, 2> AllLanguages{TLanguage::zhCN, TLanguage::enUS};

// "%s" marks where FormatText puts its arguments; every table keeps the same
// ones in the same order.
enum class TTextId : uint16_t {
    // The language's UI fonts for headings and big buttons, and for the rest:
    // faces separated by ";", the first one installed is used.
    DisplayFontFaces,
    TextFontFaces,
    // The installer's window
    InstallNow,
    Browse,
    RunNow,
    Agree,
    InstallFolderLabel,
    LicenseAgreement,  // the link and the agreement window's caption
    ProxySettings,     // the link and the proxy window's caption
    PleaseWait,
    VersionFormat,
    Installing,
    InstallFinished,
    ChooseInstallFolder,
    // Start-up: a damaged installer
    DamagedInstallerFormat,
    ScriptNotDecoded,
    ScriptNotRead,
    IconNotRead,
    LicenseNotRead,
    // Both programs
    SetupRunningFormat,
    LogFileLine,
    CommandLineLine,
    OkButton,
    CancelButton,
    ApplyButton,
    RetryButton,
    QuitSetupButton,
    // The installer's log and steps
    SetupLogFormat,
    FullPackage,
    OnlineInstaller,
    InstallFolderLine,
    CheckingEarlierVersion,
    InstallFailedFormat,
    EarlierUninstallFormat,
    EarlierUninstallerNotRunFormat,
    PackageBadData,
    PackageBadIndex,
    PackageMissingData,
    InstallFolderEmpty,
    InstallFolderNotCreated,
    InstallFolderNotWritable,
    CopyFailedAttemptFormat,
    CopyFailedFormat,
    IgnoredLine,
    WritingRegistry,
    RegistryKeySkipped,
    CreatingShortcuts,
    ShortcutNotCreated,
    UninstallInfoNotRegistered,
    RunningProgramFormat,
    ProgramExitFormat,
    VerifyingInstallation,
    StartedProgramFormat,
    DisplayNameFormat,
    // The copy-failure window
    CopyFailedCaption,
    CopyFailureDetailFormat,
    IgnoreButton,
    // The online installer
    PackageInvalid,
    DownloadFailedFormat,
    OnlineFailedCaption,
    OnlineFailedCaptionFormat,
    OnlineFailedLine1,
    OnlineFailedLine2,
    OnlineFailedLine3,
    DownloadInBrowser,
    CopyToClipboard,
    NoProxy,
    UseProxy,
    ProxyAddress,
    ProxyPort,
    ProxyUser,
    ProxyPassword,
    ProxyAddressEmpty,
    // The uninstaller
    UninstallCaption,
    UninstallTitleFormat,
    UninstallLogFormat,
    UninstallPromptFormat,
    UninstallFolderFormat,
    UninstallNow,
    FinishButton,
    Uninstalling,
    UninstallFinished,
    RemovedFromComputerFormat,
    KeptOutsideFormat,
    InUseFormat,
    NotRemovedFormat,
    KeptOutsideLine,
    NotRemovedLine,
    ClosingPrograms,
    RemovingFiles,
    CleaningRegistry,
    RemovingUninstallInfo,
    CleaningRegistryDetail,
    RemovedLine,
    UninstallDataMissing,
    UninstallDataUnreadable,
    UninstallDataDamaged,
    // Both programs: memory, the log, the lock, links
    OutOfMemory,
    OutOfMemoryInstaller,
    OutOfMemoryUninstaller,
    LogFileNotCreated,
    NoPrivateNamespaceLine,
    LinkKeptLine,
    KeptNotThisFolderLine,
    // The installation scope
    ScopeAllUsers,
    ScopeCurrentUser,
    ElevationRefused,
    UninstallElevationRefusedFormat,
    MachineInstallationLeftFormat,
    ScopeLogFormat,
    ScopeSwitchIgnored,
    ElevatedStartLine,
    ElevatedEndedFormat,
    ElevationRefusedLog,
    ElevationFailedLog,
    // The running-programs dialog and its log lines (its Cancel is CancelButton, its status ClosingPrograms)
    CloseProgramsCaption,
    ProgramsRunning,
    ProgramsStillRunning,
    CloseAndContinueButton,
    KeepWaitingButton,
    EndProgramsButton,
    ProgramAskedFormat,
    ProgramEndedFormat,
    CloseProgramsCancelled,
    FileHoldersFormat,
    ListSeparator,
    // Programs started at the end, and the steps' other log lines
    NoRunLine,
    OpenedFormat,
    LaunchedThroughShell,
    LaunchedDirectly,
    LaunchRefused,
    LaunchFailed,
    StaleTempRemovedLine,
    UnusedFolderRemovedLine,
    DistrustedData,
    // The online installer's log
    DownloadFailedLogFormat,
    DownloadNotProgramLine,
    DownloadDigestMismatchFormat,
    DownloadNoFullScript,
    // The packaging tool's starting project
    NewInstallerDescription,
    NewUninstallerDescription,
    NewUninstallShortcut,
    NewLicenseText,
    NewFilesReadmeFormat,
    Count
};

inline constexpr size_t TextCount = static_cast<size_t>(TTextId::Count);

struct TTextEntry {
    TTextId Id;
    const char16_t* Text;
};
using TTextTable = std::array<TTextEntry, TextCount>;

// True when the table lists every text id once, in the enumeration's order,
// each with a text: the tables assert it, so a missing text is a build error.
constexpr bool IsCompleteTable(const TTextTable& table)
{
    for (size_t i = 0; i < TextCount; ++i)
        if (table[i].Id != static_cast<TTextId>(i) || !table[i].Text || !table[i].Text[0]) return false;
    return true;
}

// The programs that show a text: the installer, the uninstaller or both. The
// packaging tool (and the tests) carry every text; a text neither program shows
// is the tool's alone.
enum TTextUsers : unsigned { ForTool = 0, ForInstaller = 1, ForUninstaller = 2, ForBoth = 3 };
constexpr unsigned TextUsers(TTextId id)
{
    using enum TTextId;
    switch (id) {
    case InstallNow: case Browse: case RunNow: case Agree: case InstallFolderLabel: case LicenseAgreement:
    case ProxySettings: case Installing: case InstallFinished: case ChooseInstallFolder:
    case DamagedInstallerFormat: case ScriptNotDecoded: case ScriptNotRead: case IconNotRead: case LicenseNotRead:
    case OkButton: case ApplyButton: case RetryButton: case QuitSetupButton:
    case SetupLogFormat: case FullPackage: case OnlineInstaller: case InstallFolderLine: case CheckingEarlierVersion:
    case InstallFailedFormat: case EarlierUninstallFormat: case EarlierUninstallerNotRunFormat: case PackageBadData:
    case PackageBadIndex: case PackageMissingData: case InstallFolderEmpty: case InstallFolderNotCreated:
    case InstallFolderNotWritable: case CopyFailedAttemptFormat: case CopyFailedFormat: case IgnoredLine:
    case WritingRegistry: case RegistryKeySkipped: case CreatingShortcuts: case ShortcutNotCreated:
    case UninstallInfoNotRegistered: case RunningProgramFormat: case ProgramExitFormat: case VerifyingInstallation:
    case StartedProgramFormat: case DisplayNameFormat:
    case CopyFailedCaption: case CopyFailureDetailFormat: case IgnoreButton:
    case PackageInvalid: case DownloadFailedFormat: case OnlineFailedCaption: case OnlineFailedCaptionFormat:
    case OnlineFailedLine1: case OnlineFailedLine2: case OnlineFailedLine3: case DownloadInBrowser:
    case CopyToClipboard: case NoProxy: case UseProxy: case ProxyAddress: case ProxyPort: case ProxyUser:
    case ProxyPassword: case ProxyAddressEmpty: case OutOfMemoryInstaller:
    case ScopeAllUsers: case ScopeCurrentUser: case ElevationRefused: case MachineInstallationLeftFormat:
    case ScopeLogFormat: case ScopeSwitchIgnored: case ElevatedStartLine: case ElevatedEndedFormat:
    case ElevationRefusedLog: case ElevationFailedLog:
    case NoRunLine: case OpenedFormat: case LaunchedThroughShell: case LaunchedDirectly: case LaunchRefused:
    case LaunchFailed: case StaleTempRemovedLine: case UnusedFolderRemovedLine:
    case DownloadFailedLogFormat: case DownloadNotProgramLine: case DownloadDigestMismatchFormat:
    case DownloadNoFullScript:
        return ForInstaller;
    case UninstallCaption: case UninstallTitleFormat: case UninstallLogFormat: case UninstallPromptFormat:
    case UninstallFolderFormat: case UninstallNow: case FinishButton: case Uninstalling: case UninstallFinished:
    case RemovedFromComputerFormat: case KeptOutsideFormat: case InUseFormat: case NotRemovedFormat:
    case KeptOutsideLine: case NotRemovedLine: case RemovingFiles: case CleaningRegistry:
    case RemovingUninstallInfo: case CleaningRegistryDetail: case RemovedLine: case UninstallDataMissing:
    case UninstallDataUnreadable: case UninstallDataDamaged: case OutOfMemoryUninstaller:
    case KeptNotThisFolderLine: case UninstallElevationRefusedFormat: case DistrustedData:
        return ForUninstaller;
    case NewInstallerDescription: case NewUninstallerDescription: case NewUninstallShortcut: case NewLicenseText:
    case NewFilesReadmeFormat:
        return ForTool;
    default:
        return ForBoth;
    }
}

// What a program keeps of a table (ProgramTexts.cpp): the texts it shows, one
// after another with their terminating zeros, and where each one begins. No
// pointer per text, so the loader relocates nothing. A table whose texts are all
// ASCII keeps them in bytes (half the size), widened when first asked for.
struct TTextList {
    static constexpr uint16_t NotCarried = 0xFFFF;
    const uint16_t* At;     // TextCount offsets into Chars or Narrow
    const char16_t* Chars;  // null for a table kept in bytes
    const char* Narrow;     // null for a table kept in UTF-16
    uint16_t Length;        // characters in all, their zeros counted
};

// The programs whose code is being compiled (a library's build says; unset,
// nothing is checked). A text id given to Text must be one every one of them
// carries: any other is a compile error, not an empty line at run time.
#ifndef ZO_TEXT_USERS
#define ZO_TEXT_USERS 0
#endif
template <unsigned Users>
struct TTextUseIn {
    TTextId Id;
    consteval TTextUseIn(TTextId id) : Id(id)
    {
        if ((TextUsers(id) & Users) != Users) throw "a text this program does not carry";
    }
};
using TTextUse = TTextUseIn<ZO_TEXT_USERS>;

// The program's language: Chinese until SetLanguage says otherwise.
void SetLanguage(TLanguage language);
TLanguage CurrentLanguage();

// A text in the program's language, or in a given one (empty where the
// program does not carry it).
const char16_t* TextIn(TLanguage language, TTextId id);
WideString CurrentText(TTextId id);
inline WideString Text(TTextUse use) { return CurrentText(use.Id); }
// The same as a view of the program's table, which lives as long as the program:
// for a caller that only reads it (a format), no string to make and free.
std::u16string_view CurrentTextView(TTextId id);
inline std::u16string_view TextView(TTextUse use) { return CurrentTextView(use.Id); }
// The running-programs dialog's texts in the program's language.
TCloseProgramsTexts CloseProgramsTexts();

// "zh-CN" and "en-US", as projects and the command line write them.
const char16_t* LanguageTag(TLanguage language);
// The language a tag names, in any letter case; none for anything else.
std::optional<TLanguage> LanguageFromTag(std::u16string_view tag);
// True for the values a project's Language may hold: empty, "auto" or a tag.
bool IsLanguageSetting(std::u16string_view setting);

// The language a run speaks. The command line's /LANG= tag wins; then the
// project's setting: "auto" follows the user's UI language (a Windows LANGID:
// Chinese for any Chinese, English otherwise); empty or unknown is Chinese.
TLanguage ResolveLanguage(std::u16string_view setting, std::u16string_view commandLineTag, uint16_t userUiLanguage);
