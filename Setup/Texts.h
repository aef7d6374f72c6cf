// Every text the installer, the uninstaller and the packaging tool's starting
// project show a person, by language. Each language is one table (TextsZhCN.cpp,
// TextsEnUS.cpp) that lists every TTextId in this order; a table that misses
// one does not compile. Chinese is the default: a project that names no
// language speaks exactly as it always did.
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

// What a program keeps of a table: the texts alone, in the enumeration's order
// (the ids are there for the completeness check, at compile time).
using TTextList = std::array<const char16_t*, TextCount>;
constexpr TTextList TextsOf(const TTextTable& table)
{
    TTextList texts{};
    for (size_t i = 0; i < TextCount; ++i) texts[i] = table[i].Text;
    return texts;
}

// The program's language: Chinese until SetLanguage says otherwise.
void SetLanguage(TLanguage language);
TLanguage CurrentLanguage();

// A text in the program's language, or in a given one.
WideString Text(TTextId id);
const char16_t* TextIn(TLanguage language, TTextId id);
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
