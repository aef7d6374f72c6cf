// A winget manifest (schema 1.10.0, the multi-file form: version, installer
// and default-locale files) written from a built installer itself, so what a
// package manager is told matches what the installer does: its version, its
// bitness, its switches and exit codes, its registration.
#pragma once

#include <string>

#include "ZoTypes.h"

struct TManifestOptions {
    WideString Installer;   // the full or online installer
    WideString Identifier;  // PUBLISHER.PRODUCT
    WideString Url;         // where package managers download it
    WideString OutputDir;   // empty: the installer's folder
};

struct TManifestFiles {
    std::string Version, Installer, DefaultLocale;  // the YAML texts
};

// The three files' texts; raises EPackageError for an installer that carries no
// setup script, an identifier or address winget would refuse, or a script
// without what the manifest needs (a version, a publisher).
TManifestFiles MakeWingetManifest(const TManifestOptions& options);
// Writes them as ID.yaml, ID.installer.yaml and ID.locale.zh-CN.yaml; returns the three paths.
std::vector<WideString> WriteWingetManifest(const TManifestOptions& options);
