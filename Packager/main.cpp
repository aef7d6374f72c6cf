// zosetup-pack: the packaging tool's command line.
#include <cstdio>
#include <cstring>
#include <string>

#include "SetupFn.h"
#include "ZoStream.h"
#include "ZoSysUtils.h"

namespace {

const char kUsage[] =
    "usage: zosetup-pack COMMAND ...\n"
    "\n"
    "commands:\n"
    "  encode IN OUT    encode a file with the package codec (zlib level 9 + scrambling)\n"
    "  decode IN OUT    decode a file in the package codec, e.g. Uninstall.da1\n"
    "  --help           show this text\n";

WideString Arg(const char* s) { return FromUtf8(s); }

int Codec(bool encode, const char* in, const char* out)
{
    TMemoryStream data;
    data.LoadFromFile(Arg(in));
    if (encode)
        TSetupfn::EncodeStream(&data);
    else
        TSetupfn::DecodeStream(&data);
    // Write beside the target and rename, so a failure leaves nothing half-written.
    std::string tmp = std::string(out) + ".part";
    data.SaveToFile(Arg(tmp.c_str()));
    if (std::rename(tmp.c_str(), out) != 0) {
        std::remove(tmp.c_str());
        throw EInOutError(FormatText(u"Cannot write file \"%s\".", {Arg(out)}));
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2 || std::strcmp(argv[1], "--help") == 0 || std::strcmp(argv[1], "-h") == 0) {
        std::fputs(kUsage, argc < 2 ? stderr : stdout);
        return argc < 2 ? 2 : 0;
    }
    std::string command = argv[1];
    try {
        if ((command == "encode" || command == "decode") && argc == 4)
            return Codec(command == "encode", argv[2], argv[3]);
        std::fprintf(stderr, "zosetup-pack: unknown command or wrong arguments: %s (see --help)\n", argv[1]);
        return 2;
    } catch (const EDecompressionError&) {
        std::fprintf(stderr, "zosetup-pack: %s: not in the package codec's encoded form (damaged or foreign data)\n",
                     argv[2]);
        return 1;
    } catch (const std::exception& e) {
        std::fprintf(stderr, "zosetup-pack: %s\n", e.what());
        return 1;
    }
}
