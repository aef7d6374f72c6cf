// The execution level a program's manifest asks Windows for
// (requestedExecutionLevel): read by inspect, and set by build for an
// installer that must start without the administrator's rights.
#pragma once

#include <string>

#include "PeResources.h"

// The level ("requireAdministrator", "asInvoker", ...), or a note saying there is none.
std::string RequestedExecutionLevel(const TPeImage& pe);
// Sets the level in the program's manifest. Raises EPackageError when
// it has no manifest that names a level: without one Windows guesses from
// the file's name and may ask for the rights anyway.
void SetRequestedExecutionLevel(TPeImage& pe, const std::string& level);
