// What an installer carries: its mode, resources, script and product files.
#pragma once

#include <ostream>
#include <string>

#include "ZoTypes.h"

struct TInspectOptions {
    WideString File;
    bool Script = false;    // print the decoded script
    WideString ExtractDir;  // write every product file below this folder
};

// Writes the report; raises an Exception saying what is wrong for a file that
// is not a PE file or whose package resources are damaged.
void InspectInstaller(const TInspectOptions& options, std::ostream& out);

class TPeImage;

// The level its manifest asks Windows to start the program with
// ("requireAdministrator", "asInvoker", ...), or a note saying there is none.
std::string RequestedExecutionLevel(const TPeImage& pe);

// The path below the extraction folder for a file entry: "{app}" goes,
// other constants lose their braces; raises EPackageError for a path that
// would leave the folder.
WideString ExtractionPath(const WideString& destDir, const WideString& sourceMask);
