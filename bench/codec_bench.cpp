// The package codec (zlib level 9 + scrambling, whole buffers) against plain
// zlib at the same settings on the same data.
#include <benchmark/benchmark.h>
#include <zlib.h>

#include <random>

#include "SetupFn.h"

namespace {

// 8 MB: half text-like and compressible, half noise, like a product's files.
const TBytes& Plain()
{
    static const TBytes bytes = [] {
        std::mt19937 rng(7);
        const char* words[] = {"setup ", "install ", "product ", "folder ", "registry ", "window ", "version ",
                               "resource ", "\xe5\xae\x89\xe8\xa3\x85 ", "stream ", "record\r\n", "index "};
        TBytes out;
        out.reserve(8u << 20);
        while (out.size() < (4u << 20)) {
            const char* w = words[rng() % 12];
            out.insert(out.end(), w, w + std::char_traits<char>::length(w));
        }
        while (out.size() < (8u << 20)) out.push_back(static_cast<uint8_t>(rng()));
        return out;
    }();
    return bytes;
}

TBytes ZlibCompress(const TBytes& plain)
{
    uLongf size = compressBound(static_cast<uLong>(plain.size()));
    TBytes out(size);
    z_stream z{};
    deflateInit2(&z, 9, Z_DEFLATED, 15, 8, Z_DEFAULT_STRATEGY);
    z.next_in = const_cast<Bytef*>(plain.data());
    z.avail_in = static_cast<uInt>(plain.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    deflate(&z, Z_FINISH);
    out.resize(z.total_out);
    deflateEnd(&z);
    return out;
}

void SetBytes(benchmark::State& state)
{
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(Plain().size()));
}

void BM_EncodeStream(benchmark::State& state)
{
    for (auto _ : state) {
        TMemoryStream s{Plain()};
        TSetupfn::EncodeStream(&s);
        benchmark::DoNotOptimize(s.Memory());
    }
    SetBytes(state);
}
BENCHMARK(BM_EncodeStream)->Unit(benchmark::kMillisecond);

void BM_ZlibDeflate(benchmark::State& state)
{
    for (auto _ : state) {
        TBytes copy = Plain();  // the codec starts from a stream holding the bytes too
        TBytes out = ZlibCompress(copy);
        benchmark::DoNotOptimize(out.data());
    }
    SetBytes(state);
}
BENCHMARK(BM_ZlibDeflate)->Unit(benchmark::kMillisecond);

void BM_DecodeStream(benchmark::State& state)
{
    TMemoryStream encoded{Plain()};
    TSetupfn::EncodeStream(&encoded);
    for (auto _ : state) {
        TMemoryStream s{encoded.Bytes()};
        TSetupfn::DecodeStream(&s);
        benchmark::DoNotOptimize(s.Memory());
    }
    SetBytes(state);
}
BENCHMARK(BM_DecodeStream)->Unit(benchmark::kMillisecond);

// Plain inflate into a buffer of the known size: zlib's best case.
void BM_ZlibInflate(benchmark::State& state)
{
    TBytes packed = ZlibCompress(Plain());
    for (auto _ : state) {
        TBytes in = packed;
        TBytes out(Plain().size());
        uLongf size = static_cast<uLongf>(out.size());
        int rc = uncompress(out.data(), &size, in.data(), static_cast<uLong>(in.size()));
        benchmark::DoNotOptimize(rc);
    }
    SetBytes(state);
}
BENCHMARK(BM_ZlibInflate)->Unit(benchmark::kMillisecond);

// Plain inflate when the size is not known beforehand, as the codec's case is:
// the output starts at twice the input and doubles.
void BM_ZlibInflateGrowing(benchmark::State& state)
{
    TBytes packed = ZlibCompress(Plain());
    for (auto _ : state) {
        TBytes in = packed;
        TBytes out(in.size() * 2);
        z_stream z{};
        inflateInit(&z);
        z.next_in = in.data();
        z.avail_in = static_cast<uInt>(in.size());
        int rc;
        do {
            if (z.total_out == out.size()) out.resize(out.size() * 2);
            z.next_out = out.data() + z.total_out;
            z.avail_out = static_cast<uInt>(out.size() - z.total_out);
            rc = inflate(&z, Z_NO_FLUSH);
        } while (rc == Z_OK);
        out.resize(z.total_out);
        inflateEnd(&z);
        benchmark::DoNotOptimize(out.data());
    }
    SetBytes(state);
}
BENCHMARK(BM_ZlibInflateGrowing)->Unit(benchmark::kMillisecond);

void BM_Scramble(benchmark::State& state)
{
    TBytes bytes = Plain();
    for (auto _ : state) {
        ZoCodec::Scramble(bytes.data(), bytes.size());
        benchmark::DoNotOptimize(bytes.data());
    }
    SetBytes(state);
}
BENCHMARK(BM_Scramble)->Unit(benchmark::kMillisecond);

}  // namespace

BENCHMARK_MAIN();
