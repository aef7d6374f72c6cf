// The Authenticode image digest of a PE file: SHA-256 over the whole file but
// the three places signing changes (the checksum field, the certificate-table
// entry of the data directory, and the certificate table). Signing a file whose
// length is a multiple of 8 adds no hashed padding, so such a file has the same
// digest before and after it is signed; any other change alters it.
#pragma once

#include "PeResources.h"
#include "ZoHash.h"

struct TPeDigestLayout {
    uint64_t CheckSumOffset = 0;   // 4 bytes left out
    uint64_t CertEntryOffset = 0;  // 8 bytes left out, when HasCertEntry
    bool HasCertEntry = false;
    uint64_t CertTableOffset = 0;  // CertTableSize bytes left out
    uint64_t CertTableSize = 0;
};

// Finds the left-out ranges from the headers; raises EPeFormatError for a
// file that is no PE image, or whose certificate table is not a run of whole
// entries after the headers and every section's raw data, ending the file.
TPeDigestLayout PeDigestLayout(const TByteSource& file);

// The digest of a whole file, read in pieces. Raises EPeFormatError as
// above (or as the source does for a short read), EZoHashError when the
// system cannot hash.
TSha256Digest PeImageDigest(const TByteSource& file);
