// Downloads one URL with the installer's HTTP client and reports the time
// taken: scripts/bench-http.sh runs it next to curl against the loopback
// servers.
//
//   zo_http_get URL [memory|discard]
//
// memory keeps the body in a memory stream, as TZoHttp does; discard only
// counts it, as curl -o /dev/null does. Prints one line:
//   bytes=N wall=S cpu=S
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>

#include "ZoHttpClient.h"

namespace {

class TDiscardStream : public TStream {
public:
    size_t Read(void*, size_t) override { return 0; }
    size_t Write(const void*, size_t count) override
    {
        size_ += static_cast<int64_t>(count);
        return count;
    }
    int64_t Size() const override { return size_; }
    int64_t Position() const override { return size_; }
    void SetPosition(int64_t) override {}

private:
    int64_t size_ = 0;
};

double CpuSeconds() { return static_cast<double>(std::clock()) / CLOCKS_PER_SEC; }

}  // namespace

int main(int argc, char** argv)
{
    if (argc < 2) {
        std::fprintf(stderr, "usage: zo_http_get URL [memory|discard]\n");
        return 2;
    }
    bool memory = argc < 3 || std::strcmp(argv[2], "discard") != 0;
    TZoHttpClient client;
    TZoTlsLayer tls;
    client.SetTlsLayer(&tls);
    client.HandleRedirects = true;
    // The loopback servers' test CA, trusted besides the system's roots.
    if (const char* ca = std::getenv("ZO_HTTP_CA")) client.CaFile = ca;

    auto wall = std::chrono::steady_clock::now();
    double cpu = CpuSeconds();
    int64_t bytes = 0;
    try {
        if (memory) {
            TMemoryStream body;
            client.Get(argv[1], body);
            bytes = body.Size();
        } else {
            TDiscardStream body;
            client.Get(argv[1], body);
            bytes = body.Size();
        }
    } catch (const Exception& e) {
        std::fprintf(stderr, "zo_http_get: %s\n", e.what());
        return 1;
    }
    double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - wall).count();
    std::printf("bytes=%lld wall=%.4f cpu=%.4f\n", static_cast<long long>(bytes), seconds, CpuSeconds() - cpu);
    return 0;
}
