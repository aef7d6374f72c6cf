// What an installer carries: its mode, resources, script and product files.
#pragma once

#include <ostream>
#include <string>

#include "AppManifest.h"
#include "ZoTypes.h"

struct TInspectOptions {
    WideString File;
    bool Script = false;    // print the decoded script
    WideString ExtractDir;  // write every product file below this folder
};

// Writes the report; raises an Exception saying what is wrong for a file that
// is not a PE file or whose package resources are damaged.
void InspectInstaller(const TInspectOptions& options, std::ostream& out);

// The path below the extraction folder for a file entry: "{app}" goes,
// other constants lose their braces; raises EPackageError for a path that
// would leave the folder.
WideString ExtractionPath(const WideString& destDir, const WideString& sourceMask);
