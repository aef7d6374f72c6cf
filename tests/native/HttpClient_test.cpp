// The HTTP client against the loopback servers of tests/http: bodies,
// redirects and cookies, keep-alive, proxies, TLS, time-outs and hostile
// answers.
#include <gtest/gtest.h>

#include <chrono>

#ifndef _WIN32
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>
#endif

#include "HttpTestServers.h"
#include "ZoHttpClient.h"
#include "ZoStream.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string Pattern(size_t n)
{
    std::string s(n, '\0');
    for (size_t i = 0; i < n; ++i) s[i] = static_cast<char>(i % 251);
    return s;
}

std::string Fetch(TZoHttpClient& client, const std::string& url)
{
    TMemoryStream body;
    client.Get(url, body);
    return body.ToString();
}

// The message a failing GET ends with, or "no error".
std::string FailureOf(TZoHttpClient& client, const std::string& url)
{
    try {
        Fetch(client, url);
    } catch (const Exception& e) {
        return e.what();
    }
    return "no error";
}

// A client set up the way the installer's wrapper sets it up.
struct TClient : TZoHttpClient {
    TClient()
    {
        HandleRedirects = true;
        ConnectTimeout = 10000;
        ReadTimeout = 10000;
        CaFile = TestServers().Ca;  // under Wine the test CA is in the root store
    }
};

double SecondsSince(Clock::time_point t)
{
    return std::chrono::duration<double>(Clock::now() - t).count();
}

}  // namespace

TEST(HttpClient, ReceivesBodiesOfEveryFramingOverHttpAndHttps)
{
    ZO_NEED_SERVERS();
    const TZoTestServers& s = TestServers();
    TClient client;
    for (bool https : {false, true}) {
        auto url = [&](const std::string& path) { return https ? s.HttpsUrl(path) : s.HttpUrl(path); };
        SCOPED_TRACE(https ? "https" : "http");
        EXPECT_EQ(Fetch(client, url("/fixed/100000")), Pattern(100000));
        EXPECT_EQ(Fetch(client, url("/chunked/100000/7001")), Pattern(100000));
        EXPECT_EQ(Fetch(client, url("/close/100000")), Pattern(100000));
        EXPECT_EQ(Fetch(client, url("/empty")), "");
        EXPECT_EQ(Fetch(client, url("/204")), "");
        EXPECT_EQ(client.ResponseCode(), 204);
        EXPECT_EQ(Fetch(client, url("/continue")), "after continue");
        EXPECT_EQ(Fetch(client, url("/fixed/3000000")), Pattern(3000000));
    }
}

TEST(HttpClient, FollowsFourteenRedirectsWithTheirCookies)
{
    ZO_NEED_SERVERS();
    const TZoTestServers& s = TestServers();
    TClient client;
    // The final answer echoes the cookies the redirecting answers set.
    EXPECT_EQ(Fetch(client, s.HttpUrl("/redirect/3")), "r3=3; r2=2; r1=1");
    EXPECT_EQ(client.Url().Path, "/redirect/0");
    std::string all14;
    for (int k = 14; k >= 1; --k) all14 += (all14.empty() ? "" : "; ") + ("r" + std::to_string(k) + "=" + std::to_string(k));
    TClient fresh;
    EXPECT_EQ(Fetch(fresh, s.HttpUrl("/relredirect/14")), all14);
    EXPECT_EQ(Fetch(fresh, s.HttpsUrl("/redirect/14")).substr(0, 7), "r14=14;");
    // A 15th redirect is refused with the status line of the last answer.
    EXPECT_EQ(FailureOf(fresh, s.HttpUrl("/redirect/15")), "HTTP/1.1 302 Found");
    EXPECT_EQ(FailureOf(fresh, s.HttpUrl("/loop")), "HTTP/1.1 302 Found");
    // Up from http to https, never down; nothing but http and https.
    EXPECT_EQ(Fetch(fresh, s.HttpUrl("/goto?" + s.HttpsUrl("/fixed/10"))), Pattern(10));
    EXPECT_EQ(FailureOf(fresh, s.HttpsUrl("/goto?" + s.HttpUrl("/fixed/10"))), "Redirect refused: from https to http.");
    EXPECT_EQ(FailureOf(fresh, s.HttpUrl("/goto?ftp://127.0.0.1:21/x")), "Redirect refused: ftp is not http or https.");
    EXPECT_EQ(FailureOf(fresh, s.HttpUrl("/goto?file:///etc/passwd")).substr(0, 17), "Unknown protocol:");

    TZoHttpClient plain;  // redirects not handled: the 302 is the answer, an error
    EXPECT_EQ(FailureOf(plain, s.HttpUrl("/redirect/1")), "HTTP/1.1 302 Found");
}

TEST(HttpClient, FailsOnErrorStatusesWithTheStatusLine)
{
    ZO_NEED_SERVERS();
    const TZoTestServers& s = TestServers();
    TClient client;
    try {
        Fetch(client, s.HttpUrl("/404"));
        FAIL() << "no error";
    } catch (const EZoHttpProtocolError& e) {
        EXPECT_EQ(e.Message(), u"HTTP/1.1 404 Not Found");
        EXPECT_EQ(e.ErrorCode(), 404);
    }
    EXPECT_EQ(FailureOf(client, s.HttpUrl("/hostile/304")), "HTTP/1.1 304 Not Modified");
    EXPECT_EQ(FailureOf(client, s.HttpUrl("/hostile/no-location")), "HTTP/1.1 302 Found");
    // The connection survives an error answer whose body was read.
    std::string conn = Fetch(client, s.HttpUrl("/conn"));
    EXPECT_EQ(FailureOf(client, s.HttpUrl("/404")), "HTTP/1.1 404 Not Found");
    EXPECT_EQ(Fetch(client, s.HttpUrl("/conn")), conn);
}

TEST(HttpClient, KeepsConnectionsAliveOnlyForTheSameHostAndPort)
{
    ZO_NEED_SERVERS();
    const TZoTestServers& s = TestServers();
    TClient client;
    std::string first = Fetch(client, s.HttpUrl("/conn"));
    EXPECT_EQ(Fetch(client, s.HttpUrl("/conn")), first);
    EXPECT_EQ(Fetch(client, s.HttpUrl("/connclose")), first);  // answered, then closed
    std::string second = Fetch(client, s.HttpUrl("/conn"));
    EXPECT_NE(second, first);
    EXPECT_EQ(Fetch(client, s.HttpUrl("/http10")), second);  // an HTTP/1.0 answer ends it too
    std::string third = Fetch(client, s.HttpUrl("/conn"));
    EXPECT_NE(third, second);
    // A kept connection the server drops on the next request: asked again anew.
    EXPECT_EQ(Fetch(client, s.HttpUrl("/dropnext")), third);
    std::string fourth = Fetch(client, s.HttpUrl("/conn"));
    EXPECT_NE(fourth, third);
    third = fourth;

    std::string tls = Fetch(client, s.HttpsUrl("/conn"));
    EXPECT_NE(tls, third);
    EXPECT_EQ(Fetch(client, s.HttpsUrl("/conn")), tls);
    EXPECT_NE(Fetch(client, s.HttpUrl("/conn")), third);  // only one connection is kept

    TClient other;  // connections belong to their client object
    EXPECT_NE(Fetch(other, s.HttpUrl("/conn")), Fetch(client, s.HttpUrl("/conn")));
}

TEST(HttpClient, GoesThroughProxiesWithBasicCredentials)
{
    ZO_NEED_SERVERS();
    const TZoTestServers& s = TestServers();
    TClient client;
    client.Proxy.Server = "127.0.0.1";
    client.Proxy.Port = static_cast<uint16_t>(s.Proxy);
    EXPECT_EQ(Fetch(client, s.HttpUrl("/fixed/70000")), Pattern(70000));
    EXPECT_EQ(Fetch(client, s.HttpsUrl("/fixed/70000")), Pattern(70000));  // tunnelled
    EXPECT_EQ(Fetch(client, s.HttpsUrl("/redirect/2")), "r2=2; r1=1");
    // The proxy closes after each relayed answer; the next request notices.
    EXPECT_EQ(Fetch(client, s.HttpUrl("/fixed/10")), Pattern(10));
    EXPECT_EQ(Fetch(client, s.HttpUrl("/fixed/10")), Pattern(10));

    client.Proxy.Port = static_cast<uint16_t>(s.AuthProxy);
    EXPECT_EQ(FailureOf(client, s.HttpUrl("/fixed/10")), "HTTP/1.1 407 Proxy Authentication Required");
    EXPECT_EQ(FailureOf(client, s.HttpsUrl("/fixed/10")), "HTTP/1.1 407 Proxy Authentication Required");
    client.Proxy.Username = "user";
    client.Proxy.Password = "wrong";
    EXPECT_EQ(FailureOf(client, s.HttpsUrl("/fixed/10")), "HTTP/1.1 407 Proxy Authentication Required");
    client.Proxy.Password = "pass";
    EXPECT_EQ(Fetch(client, s.HttpUrl("/fixed/10")), Pattern(10));
    EXPECT_EQ(Fetch(client, s.HttpsUrl("/fixed/10")), Pattern(10));
    EXPECT_EQ(Fetch(client, s.HttpsUrl("/fixed/10")), Pattern(10));
}

TEST(HttpClient, ReportsProgressOfTheBodyRead)
{
    ZO_NEED_SERVERS();
    const TZoTestServers& s = TestServers();
    TClient client;
    std::vector<std::string> events;
    TZoHttpClient* sender = nullptr;
    client.OnWorkBegin = [&](TZoHttpClient* c, TWorkMode m, int32_t total) {
        sender = c;
        events.push_back((m == wmRead ? "begin " : "write? ") + std::to_string(total));
    };
    client.OnWork = [&](TZoHttpClient*, TWorkMode, int32_t count) { events.push_back(std::to_string(count)); };
    client.OnWorkEnd = [&](TZoHttpClient*, TWorkMode) { events.push_back("end"); };

    Fetch(client, s.HttpUrl("/fixed/200000"));
    EXPECT_EQ(sender, &client);
    ASSERT_GE(events.size(), 3u);
    EXPECT_EQ(events.front(), "begin 200000");
    EXPECT_EQ(events[events.size() - 2], "200000");
    EXPECT_EQ(events.back(), "end");
    for (size_t i = 2; i + 1 < events.size(); ++i)
        EXPECT_LE(std::stoll(events[i]) - std::stoll(events[i - 1]), 32768) << "blocks of at most 32 KiB";

    events.clear();
    Fetch(client, s.HttpUrl("/close/5000"));
    EXPECT_EQ(events.front(), "begin 0");  // no length announced
    EXPECT_EQ(events.back(), "end");

    events.clear();
    Fetch(client, s.HttpUrl("/redirect/1"));  // the redirect's body is no progress
    EXPECT_EQ(events.front(), "begin 4");  // the final body, "r1=1"

    events.clear();
    Fetch(client, s.HttpUrl("/204"));
    EXPECT_TRUE(events.empty());
}

TEST(HttpClient, EndsEveryHostileAnswerWithAnError)
{
    ZO_NEED_SERVERS();
    const TZoTestServers& s = TestServers();
    TClient client;
    auto hostile = [&](const char* name) { return FailureOf(client, s.HttpUrl(std::string("/hostile/") + name)); };
    EXPECT_EQ(hostile("garbage-status"), "XYZZY garbage");
    EXPECT_EQ(hostile("binary"), "Connection Closed Gracefully.");
    EXPECT_EQ(hostile("neg-length"), "Invalid Content-Length: -5");
    EXPECT_EQ(hostile("huge-length"), "Invalid Content-Length: 99999999999999999999999");
    EXPECT_EQ(hostile("big-length"), "Response body too large.");  // 10^15 bytes, past 4 GiB
    EXPECT_EQ(hostile("long-body"), "Response body longer than its Content-Length (100 bytes).");
    EXPECT_EQ(hostile("bad-chunk"), "Invalid chunk size: zz");
    EXPECT_EQ(hostile("chunk-overflow"), "Invalid chunk size: FFFFFFFFFFFFFFFFFFFF");
    EXPECT_EQ(hostile("short-body"), "Connection Closed Gracefully.");
    EXPECT_EQ(hostile("short-chunk"), "Connection Closed Gracefully.");
    EXPECT_EQ(hostile("endless-headers"), "Response header too large.");
    EXPECT_EQ(hostile("long-line"), "Response header too large.");
    EXPECT_EQ(hostile("endless-continue"), "Too many interim responses.");
    // And the client still works afterwards.
    EXPECT_EQ(Fetch(client, s.HttpUrl("/fixed/10")), Pattern(10));
}

TEST(HttpClient, BoundsEveryWait)
{
    ZO_NEED_SERVERS();
    const TZoTestServers& s = TestServers();
    TClient client;
    client.ConnectTimeout = 300;
    auto t = Clock::now();
    EXPECT_EQ(FailureOf(client, "http://127.0.0.1:" + std::to_string(s.Backlog) + "/"), "Connect timed out.");
    EXPECT_LT(SecondsSince(t), 5.0);

    client.ReadTimeout = 300;
    EXPECT_EQ(FailureOf(client, s.HttpUrl("/hostile/stall")), "Read timed out.");

    // Discarded bodies have their own limits, whatever the read time-out.
    client.ReadTimeout = 0;
    t = Clock::now();
    EXPECT_EQ(FailureOf(client, s.HttpUrl("/hostile/stall404")), "HTTP/1.1 404 Not Found");
    EXPECT_GT(SecondsSince(t), 1.5);
    EXPECT_LT(SecondsSince(t), 7.0);
    EXPECT_EQ(Fetch(client, s.HttpUrl("/hostile/stall302")), Pattern(10));
}

TEST(HttpClient, NamesConnectionFailures)
{
    TClient client;
    EXPECT_EQ(FailureOf(client, "http:///nohost"), "Host not found.");
    EXPECT_EQ(FailureOf(client, "gopher://host/"), "Unknown protocol: gopher");
#ifndef _WIN32
    // A port nobody listens on: bind one, then let it go.
    int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    sockaddr_in a{};
    a.sin_family = AF_INET;
    a.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    ASSERT_EQ(::bind(fd, reinterpret_cast<sockaddr*>(&a), sizeof a), 0);
    socklen_t len = sizeof a;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&a), &len);
    ::close(fd);
    EXPECT_EQ(FailureOf(client, "http://127.0.0.1:" + std::to_string(ntohs(a.sin_port)) + "/"),
              "Socket Error # 111\r\nConnection refused");
#endif
}

TEST(HttpClient, FailsHttpsOnlyWhenTheTlsLibraryIsMissing)
{
    ZO_NEED_SERVERS();
    const TZoTestServers& s = TestServers();
    TClient client;
    TZoTlsLayer::SimulateLoadFailure(true);
    std::string https = FailureOf(client, s.HttpsUrl("/fixed/10"));
    std::string http = FailureOf(client, s.HttpUrl("/fixed/10"));
    TZoTlsLayer::SimulateLoadFailure(false);
    EXPECT_EQ(https, "Could not load SSL library.");
    EXPECT_EQ(http, "no error");
    EXPECT_EQ(Fetch(client, s.HttpsUrl("/fixed/10")), Pattern(10));
    // A plain server spoken to with TLS fails the handshake, not the library.
    client.ReadTimeout = 500;
    std::string wrong = FailureOf(client, "https://127.0.0.1:" + std::to_string(s.Http) + "/");
    EXPECT_NE(wrong, "no error");
    EXPECT_NE(wrong, "Could not load SSL library.");
}
