// The XML parser on arbitrary bytes, alone and under a setup script load:
// an error with a message or a tree, never a crash or a hang.
#include <cstddef>
#include <cstdint>

#include "SetupProject.h"
#include "ZoXmlUtils.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    try {
        TXmlDocument doc;
        doc.LoadFromBuffer(data, size);
        if (doc.Root) {
            (void)doc.SaveToString();
            for (int i = 0; i < doc.Root->Attributes.Count(); ++i) (void)doc.Root->Attributes.Items(i)->GetValue();
            (void)doc.Root->GetText();
        }
    } catch (const Exception&) {
    }
    try {
        TSetupScript script;
        TMemoryStream s{TBytes(data, data + size)};
        script.LoadFromStream(s);
        TMemoryStream out;
        script.SaveToStream(out);
        (void)script.BaseInfo->DecodeVersion();
        for (TSetupFile* f : *script.FileList) f->ExpandVariables(*script.VarList);
    } catch (const Exception&) {
    }
    return 0;
}
