// A starting project for a new product: the project file, a placeholder
// icon, an agreement text and a folder with one product file.
#pragma once

#include "ZoTypes.h"

// Raises EPackageError when the project file exists already.
void WriteNewProject(const WideString& projectFile);
