// The XML parser on arbitrary bytes, alone and under a setup script load:
// an error with a message or a tree, never a crash or a hang. A stream load
// (which reads the written form straight into the objects) must end exactly
// as the tree and its walk end: the same error, the same script. The strict
// reading gives a tree or an error with its place inside the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>
#include <typeinfo>

#include "SetupProject.h"
#include "ZoXmlUtils.h"

namespace {

std::string Outcome(TSetupScript& script, void (*load)(TSetupScript&, const uint8_t*, size_t), const uint8_t* data,
                    size_t size)
{
    std::string error;
    try {
        load(script, data, size);
    } catch (const Exception& e) {
        error = std::string(typeid(e).name()) + e.what();
    }
    TMemoryStream out;
    script.SaveToStream(out);
    return error + "\n" + out.ToString();
}

void ByStream(TSetupScript& script, const uint8_t* data, size_t size)
{
    TMemoryStream s{TBytes(data, data + size)};
    script.LoadFromStream(s);
}

void ByTree(TSetupScript& script, const uint8_t* data, size_t size)
{
    TXmlDocument doc;
    doc.LoadFromBuffer(data, size);
    if (doc.Root) script.LoadFromNode(*doc.Root);
}

}  // namespace

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
    // The strict reading: a tree, or one error that says where it lies.
    try {
        TXmlDocument strict;
        strict.LoadStrict(reinterpret_cast<const char*>(data), size);
        (void)strict.SaveToString();
    } catch (const EXmlException& e) {
        if (e.Offset() > size) std::abort();
        (void)XmlPositionAt(std::string_view(reinterpret_cast<const char*>(data), size), e.Offset());
    }
    try {
        TSetupScript script;
        std::unique_ptr<TSetupScript> copy = script.CloneAs<TSetupScript>();
        if (Outcome(script, ByStream, data, size) != Outcome(*copy, ByTree, data, size)) std::abort();
        (void)script.BaseInfo->DecodeVersion();
        for (TSetupFile* f : *script.FileList) f->ExpandVariables(*script.VarList);
    } catch (const Exception&) {
    }
    return 0;
}
