// Loading a setup script of 20,000 file entries, against pugixml parsing the
// same document.
#include <benchmark/benchmark.h>
#include <pugixml.hpp>

#include "SetupProject.h"
#include "ZoSysUtils.h"
#include "ZoXmlPersistentImpl.h"

namespace {

const TBytes& ScriptBytes()
{
    static const TBytes bytes = [] {
        TSetupScript script;
        script.BaseInfo->AppTitle = u"Benchmark Product";
        script.BaseInfo->Version = u"1.2.3.4";
        for (int i = 0; i < 20000; ++i) {
            TSetupFile* f = script.FileList->Add();
            WideString n = IntToStr(i);
            f->DestDir = u"{app}\\bin\\module" + IntToStr(i % 50);
            f->FileBytes = 1000 + i * 37;
            f->LastWriteDate = 45123.4567890123 + i / 86400.0;
            f->ResID = TZoStrfn::NewGuidString();
            f->SourceMask = u"file" + n + u".dll";
            f->SourcePath = u"D:\\Build\\Product\\Release\\bin\\module" + IntToStr(i % 50) + u"\\file" + n + u".dll";
        }
        TMemoryStream s;
        script.SaveToStream(s);
        return s.Bytes();
    }();
    return bytes;
}

void SetBytes(benchmark::State& state)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(ScriptBytes().size()));
}

// What the installer does: a fresh script loaded from a memory stream (the
// written form, read straight into the objects). The script's own
// construction and destruction are not timed.
void BM_ScriptLoad(benchmark::State& state)
{
    TMemoryStream stream{ScriptBytes()};
    for (auto _ : state) {
        state.PauseTiming();
        auto script = std::make_unique<TSetupScript>();
        stream.SetPosition(0);
        state.ResumeTiming();
        script->LoadFromStream(stream);
        benchmark::DoNotOptimize(script->FileList->Count());
        state.PauseTiming();
        script.reset();
        state.ResumeTiming();
    }
    SetBytes(state);
}
BENCHMARK(BM_ScriptLoad)->Unit(benchmark::kMillisecond);

// The general route the load takes for any form it does not read directly:
// the whole tree first, then the property walk over it.
void BM_ScriptLoadByTree(benchmark::State& state)
{
    const TBytes& bytes = ScriptBytes();
    for (auto _ : state) {
        state.PauseTiming();
        auto script = std::make_unique<TSetupScript>();
        state.ResumeTiming();
        {
            TXmlDocument doc;  // parsed where the bytes lie, as a stream load does
            TXmlTreeAccess::ParseInPlace(doc, reinterpret_cast<const char*>(bytes.data()), bytes.size());
            script->LoadFromNode(*doc.Root);
        }
        benchmark::DoNotOptimize(script->FileList->Count());
        state.PauseTiming();
        script.reset();
        state.ResumeTiming();
    }
    SetBytes(state);
}
BENCHMARK(BM_ScriptLoadByTree)->Unit(benchmark::kMillisecond);

// The property walk alone: the objects filled from a tree parsed beforehand.
void BM_ScriptWalk(benchmark::State& state)
{
    const TBytes& bytes = ScriptBytes();
    TXmlDocument doc;
    doc.LoadFromBuffer(bytes.data(), bytes.size());
    for (auto _ : state) {
        state.PauseTiming();
        auto script = std::make_unique<TSetupScript>();
        state.ResumeTiming();
        script->LoadFromNode(*doc.Root);
        benchmark::DoNotOptimize(script->FileList->Count());
        state.PauseTiming();
        script.reset();
        state.ResumeTiming();
    }
    SetBytes(state);
}
BENCHMARK(BM_ScriptWalk)->Unit(benchmark::kMillisecond);

void BM_XmlParse(benchmark::State& state)
{
    const TBytes& bytes = ScriptBytes();
    for (auto _ : state) {
        TXmlDocument doc;
        doc.LoadFromBuffer(bytes.data(), bytes.size());
        benchmark::DoNotOptimize(doc.Root.get());
    }
    SetBytes(state);
}
BENCHMARK(BM_XmlParse)->Unit(benchmark::kMillisecond);

// The peer: pugixml's ordinary parse of the same bytes (it copies the buffer).
void BM_PugixmlParse(benchmark::State& state)
{
    const TBytes& bytes = ScriptBytes();
    for (auto _ : state) {
        pugi::xml_document doc;
        pugi::xml_parse_result r = doc.load_buffer(bytes.data(), bytes.size());
        benchmark::DoNotOptimize(r.status);
    }
    SetBytes(state);
}
BENCHMARK(BM_PugixmlParse)->Unit(benchmark::kMillisecond);

// The same load done over pugixml: its parse, then the same objects filled
// from its attributes. The floor for any loader that builds the objects.
void BM_PugixmlScriptLoad(benchmark::State& state)
{
    const TBytes& bytes = ScriptBytes();
    auto wide = [](const char* utf8) { return FromUtf8(utf8); };
    for (auto _ : state) {
        state.PauseTiming();
        auto script = std::make_unique<TSetupScript>();
        state.ResumeTiming();
        pugi::xml_document doc;
        doc.load_buffer(bytes.data(), bytes.size());
        pugi::xml_node items = doc.child("TSetupScript").child("FileList").child("Items");
        script->FileList->Clear();
        for (pugi::xml_node e : items.children()) {
            TSetupFile* f = script->FileList->Add();
            f->Checked = e.attribute("Checked").as_bool(true);
            f->Condition = wide(e.attribute("Condition").value());
            f->DestDir = wide(e.attribute("DestDir").value());
            f->FileBytes = e.attribute("FileBytes").as_int();
            f->IncludeSubPath = e.attribute("IncludeSubPath").as_bool();
            f->LastWriteDate = e.attribute("LastWriteDate").as_double();
            f->ResID = wide(e.attribute("ResID").value());
            f->SourceMask = wide(e.attribute("SourceMask").value());
            f->SourcePath = wide(e.attribute("SourcePath").value());
        }
        benchmark::DoNotOptimize(script->FileList->Count());
        state.PauseTiming();
        script.reset();
        state.ResumeTiming();
    }
    SetBytes(state);
}
BENCHMARK(BM_PugixmlScriptLoad)->Unit(benchmark::kMillisecond);

// The floor of any loader: the same 20,000 entries built from strings that
// are already UTF-16, without reading any XML.
void BM_ScriptBuildOnly(benchmark::State& state)
{
    TSetupScript source;
    TMemoryStream in{ScriptBytes()};
    source.LoadFromStream(in);
    for (auto _ : state) {
        state.PauseTiming();
        auto script = std::make_unique<TSetupScript>();
        state.ResumeTiming();
        for (const TSetupFile* from : *source.FileList) {
            TSetupFile* f = script->FileList->Add();
            f->Checked = from->Checked;
            f->Condition = from->Condition;
            f->DestDir = from->DestDir;
            f->FileBytes = from->FileBytes;
            f->IncludeSubPath = from->IncludeSubPath;
            f->LastWriteDate = from->LastWriteDate;
            f->ResID = from->ResID;
            f->SourceMask = from->SourceMask;
            f->SourcePath = from->SourcePath;
        }
        benchmark::DoNotOptimize(script->FileList->Count());
        state.PauseTiming();
        script.reset();
        state.ResumeTiming();
    }
    SetBytes(state);
}
BENCHMARK(BM_ScriptBuildOnly)->Unit(benchmark::kMillisecond);

void BM_ScriptSave(benchmark::State& state)
{
    TSetupScript script;
    TMemoryStream in{ScriptBytes()};
    script.LoadFromStream(in);
    for (auto _ : state) {
        TMemoryStream out;
        script.SaveToStream(out);
        benchmark::DoNotOptimize(out.Size());
    }
    SetBytes(state);
}
BENCHMARK(BM_ScriptSave)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
