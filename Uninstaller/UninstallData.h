// The two data files the installer leaves in the install folder for the
// uninstaller: "Uninstall.da1", the setup script as installed, and
// "Uninstall.da2", the product icon as a PNG, both in the package codec.
#pragma once

#include <memory>

#include "ZoTypes.h"

class TSetupScript;

ZO_DECLARE_ERROR(EUninstallDataError, Exception);

inline constexpr const char16_t* UninstallScriptName = u"Uninstall.da1";
inline constexpr const char16_t* UninstallIconName = u"Uninstall.da2";

// The installed script from folder + "Uninstall.da1" (folder ends with a
// separator). Raises EUninstallDataError with one sentence for a person when
// the file is missing, unreadable or damaged (it does not decode, does not
// parse, or names no product GUID).
std::unique_ptr<TSetupScript> LoadUninstallScript(const WideString& folder);

// The icon's PNG bytes from folder + "Uninstall.da2"; empty when the file is
// missing or damaged: the icon is only for the window, and nothing of the
// uninstallation depends on it.
TBytes LoadUninstallIcon(const WideString& folder);
