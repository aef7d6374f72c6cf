// The installer's resource contract, HasPackageResource and ReadPackageResource,
// over a file read by the portable PE reader: for the packaging tool and for
// tests, which have no Windows loader.
#pragma once

#include "PeResources.h"
#include "ZoStream.h"
#include "ZoTypes.h"

// The RCDATA resource of that name ("#N" is the number N); null when absent.
const TPeResource* FindPackageResource(const TPeImage& module, const WideString& name);
// True when the file holds an RCDATA resource of that name ("#N" is the number N).
bool HasPackageResource(const TPeImage& module, const AnsiString& name);
// target := the decoded resource. Raises EResNotFound "Resource %s not found"
// when absent; decoding errors (EDecompressionError) propagate.
bool ReadPackageResource(const TPeImage& module, const WideString& name, TMemoryStream* target);
