// The HTTP client's pure parts: URLs and redirect resolution, the cookie
// store, and the response reader fed from a buffer.
#include <gtest/gtest.h>

#include <algorithm>

#include "ZoHttpCookies.h"
#include "ZoHttpResponse.h"
#include "ZoHttpUrl.h"
#include "ZoStream.h"

namespace {

// A peer that delivers its bytes in pieces of at most `step`, then closes.
class TBufferSource : public TZoByteSource {
public:
    explicit TBufferSource(std::string data, size_t step = 1 << 20) : data_(std::move(data)), step_(step) {}
    size_t Receive(void* buffer, size_t size, int) override
    {
        size_t n = std::min({size, step_, data_.size() - pos_});
        std::copy_n(data_.data() + pos_, n, static_cast<char*>(buffer));
        pos_ += n;
        return n;
    }

private:
    std::string data_;
    size_t step_;
    size_t pos_ = 0;
};

struct TRecordingSink : TZoWorkSink {
    std::vector<std::string> events;
    void WorkBegin(int64_t total) override { events.push_back("begin " + std::to_string(total)); }
    void Work(int64_t count) override { events.push_back("work " + std::to_string(count)); }
    void WorkEnd() override { events.push_back("end"); }
};

// Reads one response (head and body) the way the client does.
std::string ReadAll(const std::string& wire, size_t step = 1 << 20, TZoWorkSink* sink = nullptr)
{
    TBufferSource source(wire, step);
    TZoHttpReader reader(source);
    TZoHttpResponse r = reader.ReadHead(-1);
    TMemoryStream body;
    reader.ReadBody(BodyFramingOf(r, false), body, sink, -1);
    return body.ToString();
}

std::string Pattern(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i % 251);
    return s;
}

}  // namespace

TEST(HttpUrl, AppliesDefaultsAndSplitsParts)
{
    TZoUrl u = TZoUrl::Parse("example.com/a/b.exe?x=1#frag");
    EXPECT_EQ(u.Protocol, "http");
    EXPECT_EQ(u.Host, "example.com");
    EXPECT_EQ(u.Port, 80);
    EXPECT_EQ(u.Target(), "/a/b.exe?x=1");
    EXPECT_EQ(u.HostHeader(), "example.com");

    TZoUrl s = TZoUrl::Parse("HTTPS://user:pw@Example.com");
    EXPECT_EQ(s.Protocol, "https");
    EXPECT_EQ(s.Host, "Example.com");
    EXPECT_EQ(s.Port, 443);
    EXPECT_EQ(s.Target(), "/");
    // The Host header names the port whenever it is not 80, 443 included.
    EXPECT_EQ(s.HostHeader(), "Example.com:443");
    EXPECT_EQ(TZoUrl::Parse("http://h:8080/x").HostHeader(), "h:8080");
    EXPECT_EQ(TZoUrl::Parse("https://h:80/x").HostHeader(), "h");

    TZoUrl v6 = TZoUrl::Parse("http://[::1]:81/p");
    EXPECT_EQ(v6.Host, "::1");
    EXPECT_EQ(v6.HostHeader(), "[::1]:81");
    EXPECT_EQ(v6.Authority(), "[::1]:81");
    EXPECT_EQ(v6.Absolute(), "http://[::1]:81/p");
    EXPECT_EQ(TZoUrl::Parse("http://h/p?q").Absolute(), "http://h/p?q");
}

TEST(HttpUrl, RefusesWhatCannotBeRequested)
{
    EXPECT_THROW(TZoUrl::Parse("ftp://host/file"), EZoHttpError);  // no default port
    EXPECT_EQ(TZoUrl::Parse("ftp://host:21/file").Port, 21);
    for (const char* bad : {"http://h:0/", "http://h:65536/", "http://h:8x/", "http://[::1/", "http://a b/"})
        EXPECT_THROW(TZoUrl::Parse(bad), EZoHttpError) << bad;
    // Bytes that would break the request line are percent-encoded.
    EXPECT_EQ(TZoUrl::Parse("http://h/a b/\xE4\xB8\xAD?q=\x01z").Target(), "/a%20b/%E4%B8%AD?q=%01z");
}

TEST(HttpUrl, ResolvesRedirectLocations)
{
    TZoUrl base = TZoUrl::Parse("https://h:8443/dir/sub/page.html?old=1");
    EXPECT_EQ(base.Resolve("http://other/x").Absolute(), "http://other/x");
    EXPECT_EQ(base.Resolve("//cdn.example/f.exe").Absolute(), "https://cdn.example/f.exe");
    EXPECT_EQ(base.Resolve("/abs?y=2").Absolute(), "https://h:8443/abs?y=2");
    EXPECT_EQ(base.Resolve("next.html").Absolute(), "https://h:8443/dir/sub/next.html");
    EXPECT_EQ(base.Resolve("../up/./f").Absolute(), "https://h:8443/dir/up/f");
    EXPECT_EQ(base.Resolve("../../../../f").Absolute(), "https://h:8443/f");
    EXPECT_EQ(base.Resolve("?q=3").Absolute(), "https://h:8443/dir/sub/page.html?q=3");
    EXPECT_EQ(base.Resolve("..").Absolute(), "https://h:8443/dir/");
    EXPECT_EQ(base.Resolve(" /trimmed#frag ").Absolute(), "https://h:8443/trimmed");
}

TEST(HttpCookies, MatchesHostPathAndSecurity)
{
    TZoCookieStore store;
    TZoUrl url = TZoUrl::Parse("http://www.example.com/app/login");
    store.SetCookie("session=abc; Path=/app; HttpOnly", url, 1000);
    store.SetCookie("pref=dark", url, 1000);  // default path /app
    store.SetCookie("wide=1; Domain=.example.com; Path=/", url, 1000);
    store.SetCookie("secret=s; Secure; Path=/", url, 1000);
    store.SetCookie("foreign=1; Domain=other.com", url, 1000);  // not this server's domain
    store.SetCookie("novalue", url, 1000);
    EXPECT_EQ(store.Cookies().size(), 4u);

    EXPECT_EQ(store.CookieHeader(TZoUrl::Parse("http://www.example.com/app/x"), 1000),
              "session=abc; pref=dark; wide=1");
    EXPECT_EQ(store.CookieHeader(TZoUrl::Parse("http://img.example.com/app/x"), 1000), "wide=1");
    EXPECT_EQ(store.CookieHeader(TZoUrl::Parse("http://www.example.com/application"), 1000), "wide=1");
    EXPECT_EQ(store.CookieHeader(TZoUrl::Parse("https://www.example.com/"), 1000), "wide=1; secret=s");
    EXPECT_EQ(store.CookieHeader(TZoUrl::Parse("http://example.org/"), 1000), "");
}

TEST(HttpCookies, ReplacesExpiresAndBoundsTheStore)
{
    TZoCookieStore store;
    TZoUrl url = TZoUrl::Parse("http://h/");
    store.SetCookie("a=1", url, 1000);
    store.SetCookie("b=1; Max-Age=10", url, 1000);
    store.SetCookie("a=2", url, 1000);
    EXPECT_EQ(store.CookieHeader(url, 1000), "a=2; b=1");  // replaced in place, order kept
    EXPECT_EQ(store.CookieHeader(url, 1011), "a=2");       // b has expired
    store.SetCookie("a=gone; Max-Age=0", url, 1000);
    store.SetCookie("c=3; Expires=Thu, 01 Jan 1970 00:00:00 GMT", url, 1000);
    EXPECT_EQ(store.CookieHeader(url, 1000), "b=1");
    store.SetCookie("d=4; Expires=Wed, 21 Oct 2065 07:28:00 GMT", url, 1000);
    EXPECT_EQ(store.Cookies().back().Expires, 3023335680);

    store.SetCookie2("x=\"1,2\"; Version=1, y=2; Version=1", url, 1000);
    EXPECT_EQ(store.CookieHeader(url, 1000), "b=1; d=4; x=\"1,2\"; y=2");

    store.SetCookie("inject=1\r\nX-Evil: 1", url, 1000);
    store.SetCookie("big=" + std::string(5000, 'v'), url, 1000);
    EXPECT_EQ(store.Cookies().size(), 4u);
    for (int i = 0; i < 400; ++i) store.SetCookie("n" + std::to_string(i) + "=1", url, 1000);
    EXPECT_EQ(store.Cookies().size(), TZoCookieStore::kMaxCookies);
}

TEST(HttpCookies, ReadsTheUsualDateForms)
{
    const int64_t t = 1445412480;  // 2015-10-21 07:28:00 UTC
    EXPECT_EQ(ParseCookieDate("Wed, 21 Oct 2015 07:28:00 GMT"), t);
    EXPECT_EQ(ParseCookieDate("Wednesday, 21-Oct-15 07:28:00 GMT"), t);
    EXPECT_EQ(ParseCookieDate("Wed Oct 21 07:28:00 2015"), t);
    EXPECT_EQ(ParseCookieDate("not a date"), -1);
    EXPECT_EQ(ParseCookieDate("Wed, 32 Oct 2015 07:28:00 GMT"), -1);
}

TEST(HttpReader, FramesBodiesByLengthChunksAndClose)
{
    std::string body = Pattern(100000);
    std::string chunked = "HTTP/1.1 200 OK\r\nTransfer-Encoding: gzip, Chunked\r\n\r\n";
    for (size_t i = 0; i < body.size(); i += 7000) {
        std::string piece = body.substr(i, 7000);
        char size[16];
        std::snprintf(size, sizeof size, "%zX", piece.size());
        chunked += std::string(size) + " ; name=value\r\n" + piece + "\r\n";
    }
    chunked += "0\r\nTrailer: x\r\n\r\n";
    for (size_t step : {size_t(1), size_t(13), size_t(1 << 20)}) {
        EXPECT_EQ(ReadAll("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + body, step), body);
        EXPECT_EQ(ReadAll("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + body + "\r\n", step), body);
        // A server that sends more than it announced is not believed.
        EXPECT_THROW(ReadAll("HTTP/1.1 200 OK\r\nContent-Length: 100000\r\n\r\n" + body + "extra", step),
                     EZoHttpError);
        EXPECT_EQ(ReadAll(chunked, step), body);
        EXPECT_EQ(ReadAll("HTTP/1.0 200 OK\nServer: bare LF\n\n" + body, step), body);
    }
    EXPECT_EQ(ReadAll("HTTP/1.1 204 No Content\r\nContent-Length: 5\r\n\r\nhello"), "");
    EXPECT_EQ(ReadAll("HTTP/1.1 200 OK\r\nContent-Length: 0\r\n\r\n"), "");
    EXPECT_EQ(ReadAll("HTTP/1.1 200 OK\r\nContent-Length: 3, 3\r\n\r\nabc"), "abc");
    // A chunked body whose server closes after the last chunk is still whole.
    EXPECT_EQ(ReadAll("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n0\r\n"), "abc");
}

TEST(HttpReader, ParsesStatusAndHeaderFields)
{
    TBufferSource source(
        "\r\nHTTP/1.1 302  Found it\r\nLocation:  /next \r\nX-Fold: a\r\n  b\r\nno colon here\r\n"
        "set-cookie: a=1\r\nSet-Cookie: b=2\r\n\r\n");
    TZoHttpReader reader(source);
    TZoHttpResponse r = reader.ReadHead(-1);
    EXPECT_EQ(r.StatusLine, "HTTP/1.1 302  Found it");
    EXPECT_EQ(r.StatusCode, 302);
    EXPECT_EQ(r.Value("location"), "/next");
    EXPECT_EQ(r.Value("X-Fold"), "a b");
    EXPECT_EQ(r.Values("Set-Cookie"), (std::vector<AnsiString>{"a=1", "b=2"}));

    TBufferSource garbage("SSH-2.0-OpenSSH\r\n\r\n");
    TZoHttpReader reader2(garbage);
    EXPECT_EQ(reader2.ReadHead(-1).StatusCode, -1);
}

TEST(HttpReader, ReportsProgressPerBodyAndPerChunk)
{
    TRecordingSink sink;
    ReadAll("HTTP/1.1 200 OK\r\nContent-Length: 70000\r\n\r\n" + Pattern(70000), 1 << 20, &sink);
    // The head and the first block arrive together; then whole receive blocks.
    EXPECT_EQ(sink.events, (std::vector<std::string>{"begin 70000", "work 32726", "work 65494", "work 70000", "end"}));

    sink.events.clear();
    ReadAll("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabc\r\n2\r\nde\r\n0\r\n\r\n", 1 << 20, &sink);
    EXPECT_EQ(sink.events,
              (std::vector<std::string>{"begin 3", "work 3", "end", "begin 2", "work 2", "end"}));

    sink.events.clear();
    ReadAll("HTTP/1.1 200 OK\r\n\r\nuntil close", 1 << 20, &sink);
    EXPECT_EQ(sink.events, (std::vector<std::string>{"begin 0", "work 11", "end"}));
}

TEST(HttpReader, RefusesBrokenAndHostileAnswers)
{
    auto fails = [](const std::string& wire) -> std::string {
        try {
            ReadAll(wire, 977);
        } catch (const EZoConnClosedGracefully& e) {
            return "closed";
        } catch (const Exception& e) {
            return e.what();
        }
        return "no error";
    };
    EXPECT_EQ(fails(""), "closed");
    EXPECT_EQ(fails("HTTP/1.1 200 OK\r\nContent-Len"), "closed");
    EXPECT_EQ(fails("HTTP/1.1 200 OK\r\nContent-Length: 10\r\n\r\nshort"), "closed");
    EXPECT_EQ(fails("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n10\r\nshort"), "closed");
    EXPECT_EQ(fails("HTTP/1.1 200 OK\r\nContent-Length: -5\r\n\r\nhello"), "Invalid Content-Length: -5");
    EXPECT_EQ(fails("HTTP/1.1 200 OK\r\nContent-Length: 99999999999999999999\r\n\r\n"),
              "Invalid Content-Length: 99999999999999999999");
    EXPECT_EQ(fails("HTTP/1.1 200 OK\r\nContent-Length: 1\r\nContent-Length: 2\r\n\r\nab"),
              "Invalid Content-Length: 2");
    EXPECT_EQ(fails("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nzz\r\n"), "Invalid chunk size: zz");
    EXPECT_EQ(fails("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n\r\n"), "Invalid chunk size: ");
    EXPECT_EQ(fails("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\nFFFFFFFFFFFFFFFFFF\r\n"),
              "Invalid chunk size: FFFFFFFFFFFFFFFFFF");
    EXPECT_EQ(fails("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3\r\nabcX\r\n0\r\n\r\n"),
              "Invalid chunk: missing line end after the data.");
    EXPECT_EQ(fails("HTTP/1.1 200 OK\r\nTransfer-Encoding: chunked\r\n\r\n3;" + std::string(5000, 'e') + "\r\n"),
              "Response header too large.");
    std::string endless = "HTTP/1.1 200 OK\r\n";
    while (endless.size() < 70000) endless += "X-A: aaaaaaaaaaaaaaaaaaaaaaaaaaaaaaaa\r\n";
    EXPECT_EQ(fails(endless), "Response header too large.");
    EXPECT_EQ(fails("HTTP/1.1 200 OK\r\nX: " + std::string(70000, 'b')), "Response header too large.");
    EXPECT_EQ(fails(std::string(70000, '\n')), "Response header too large.");
}

TEST(HttpReader, DiscardsWithinItsLimits)
{
    TBufferSource source("HTTP/1.1 404 Not Found\r\nContent-Length: 5\r\n\r\nabcdeHTTP/1.1 200 OK\r\n\r\n");
    TZoHttpReader reader(source);
    TZoHttpResponse r = reader.ReadHead(-1);
    EXPECT_TRUE(reader.DiscardBody(BodyFramingOf(r, false), 100, 1000, 1000));
    EXPECT_EQ(reader.ReadHead(-1).StatusCode, 200);  // the next answer is intact

    TBufferSource big("HTTP/1.1 404 Not Found\r\nContent-Length: 5000\r\n\r\n" + Pattern(5000));
    TZoHttpReader reader2(big);
    r = reader2.ReadHead(-1);
    EXPECT_FALSE(reader2.DiscardBody(BodyFramingOf(r, false), 100, 1000, 1000));
    // A CONNECT that succeeded has no body whatever its fields say.
    TBufferSource tunnel("HTTP/1.1 200 Connection established\r\nContent-Length: 5\r\n\r\n");
    TZoHttpReader reader3(tunnel);
    EXPECT_EQ(BodyFramingOf(reader3.ReadHead(-1), true).Kind, TZoBodyFraming::bfNone);
}
