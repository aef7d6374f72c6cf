// The pin between the two installers of one build: the online installer
// carries the image digest of the full installer, which survives signing.
#pragma once

#include "ZoHash.h"
#include "ZoTypes.h"

// Pads the written full installer with zeros to a multiple of 8 bytes (so
// that signing adds no hashed padding), corrects its checksum, and returns its
// image digest. Raises EPeFormatError or a stream error.
TSha256Digest SealFullPackage(const WideString& fileName);
