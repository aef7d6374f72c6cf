#include "PackageDigest.h"

#include "PeDigest.h"
#include "PeResources.h"
#include "ZoStream.h"

TSha256Digest SealFullPackage(const WideString& fileName)
{
    int64_t size = 0;
    {
        TFileStream file(fileName, TFileStream::fmOpenRead);
        size = file.Size();
    }
    if (size % 8 != 0) {
        const uint64_t checkSumAt = PeDigestLayout(*FileSource(fileName)).CheckSumOffset;
        {
            TFileStream file(fileName, TFileStream::fmOpenReadWrite);
            file.SetPosition(size);
            const uint8_t zeros[8] = {};
            file.WriteBuffer(zeros, static_cast<size_t>(8 - size % 8));
            file.Close();
        }
        // The checksum counts the file's length.
        const uint32_t sum = TPeImage::FromFile(fileName).ComputeCheckSum();
        TFileStream file(fileName, TFileStream::fmOpenReadWrite);
        file.SetPosition(static_cast<int64_t>(checkSumAt));
        const uint8_t bytes[4] = {static_cast<uint8_t>(sum), static_cast<uint8_t>(sum >> 8),
                                  static_cast<uint8_t>(sum >> 16), static_cast<uint8_t>(sum >> 24)};
        file.WriteBuffer(bytes, 4);
        file.Close();
    }
    return PeImageDigest(*FileSource(fileName));
}
