// The HTTP response reader on arbitrary bytes, as a hostile server would send
// them: several answers on one connection, delivered in pieces whose size the
// first byte chooses, with their cookies stored and their Locations resolved.
// Every outcome is a parsed answer or an error, nothing else.
#include <algorithm>
#include <cstddef>
#include <cstdint>

#include "ZoHttpCookies.h"
#include "ZoHttpResponse.h"
#include "ZoHttpUrl.h"

namespace {

class TPiecewiseSource : public TZoByteSource {
public:
    TPiecewiseSource(const uint8_t* data, size_t size, size_t step) : data_(data), size_(size), step_(step) {}
    size_t Receive(void* buffer, size_t size, int) override
    {
        size_t n = std::min({size, step_, size_ - pos_});
        std::copy_n(data_ + pos_, n, static_cast<uint8_t*>(buffer));
        pos_ += n;
        return n;
    }

private:
    const uint8_t* data_;
    size_t size_;
    size_t step_;
    size_t pos_ = 0;
};

// Counts body bytes instead of keeping them: a claimed length costs nothing.
class TCountingStream : public TStream {
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

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    if (size == 0) return 0;
    size_t step = data[0] >= 128 ? size : 1 + data[0] % 64;
    TPiecewiseSource source(data + 1, size - 1, step);
    TZoHttpReader reader(source);
    TZoUrl url = TZoUrl::Parse("http://www.example.com/dir/page?x=1");
    TZoCookieStore cookies;
    try {
        for (int i = 0; i < 4; ++i) {
            TZoHttpResponse r = reader.ReadHead(-1);
            cookies.AddFromResponse(r, url, 1000);
            AnsiString location = r.Value("Location");
            if (!location.empty()) url = url.Resolve(location);
            (void)cookies.CookieHeader(url, 1000);
            (void)url.Absolute();
            TCountingStream body;
            reader.ReadBody(BodyFramingOf(r, i % 2 == 1), body, nullptr, -1);
        }
    } catch (const Exception&) {
    }
    return 0;
}
