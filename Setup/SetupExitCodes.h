// The installer's exit codes, one list for the program that ends with them and
// for the packaging tool that tells package managers what they mean. The
// README's table of the installer lists the same.
#pragma once

enum TInstallExitCode : int {
    // Installed, or the user chose to quit (before anything was changed: in
    // the copy-failure window, or cancelling in the running-programs dialog).
    ecSuccess = 0,
    ecBadDestination = 2,  // "/Silent": the destination failed its check
    ecDownloadFailed = 3,  // "/Silent": the full package could not be downloaded
    ecFileNotWritten = 4,  // "/Silent": a file could not be written after retries
    ecInstallFailed = 5,   // "/Silent": an error ended the install sequence
    // A start-up that found the installer's own resources damaged.
    ecDamagedPackage = 6,
    // Another installer or uninstaller of the product runs: it says so and changes nothing.
    ecSetupRunning = 7,
    // The user quit in the copy-failure window after the installation had
    // changed the machine (an earlier version removed, files written): what
    // was written is registered and can be uninstalled.
    ecIncomplete = 8,
    // "/Silent" for every user: the administrator's rights were refused at the
    // prompt, or the elevated copy could not start. Nothing was changed.
    ecElevationRefused = 9,
};

// Every non-zero code with the answer a package manager (winget's
// ExpectedReturnCodes) gives its user.
struct TExitCodeResponse {
    int code;
    const char* response;
};
inline constexpr TExitCodeResponse kInstallExitResponses[] = {
    {ecBadDestination, "invalidParameter"}, {ecDownloadFailed, "noNetwork"},     {ecFileNotWritten, "fileInUse"},
    {ecInstallFailed, "contactSupport"},    {ecDamagedPackage, "contactSupport"}, {ecSetupRunning, "installInProgress"},
    {ecIncomplete, "cancelledByUser"},  {ecElevationRefused, "cancelledByUser"},
};
