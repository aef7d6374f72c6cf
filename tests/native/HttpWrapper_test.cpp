// TZoHttp against the loopback servers: the request bytes of every route
// compared with the header table, the proxy record applied on every Get, TLS
// chosen by the URL, the kept error message and the wait cursor.
#include <gtest/gtest.h>

#include <thread>

#include "HttpTestServers.h"
#include "ZoIndyUtils.h"
#include "ZoSysUtils.h"

namespace {

const std::string kAgent = "User-Agent: Mozilla/3.0 (compatible; Indy Library)\r\n";

std::u16string Wide(const std::string& s) { return std::u16string(s.begin(), s.end()); }

std::string Body(TZoHttp& http) { return http.Content().ToString(); }

// Sets the process-wide proxy record for one test and clears it afterwards.
class TProxyScope {
public:
    TProxyScope(int port, const char16_t* user = u"", const char16_t* password = u"")
    {
        TZoHttpProxy& p = GlobalHttpProxy();
        p.Checked = true;
        p.Address = u"127.0.0.1";
        p.Port = port;
        p.UserName = user;
        p.Password = password;
    }
    ~TProxyScope() { GlobalHttpProxy().Checked = false; }
    TProxyScope(const TProxyScope&) = delete;
    TProxyScope& operator=(const TProxyScope&) = delete;
};

int gCursorBegins = 0;
int16_t gCursorRestored = 0;

}  // namespace

TEST(HttpWrapper, SendsTheHeaderTableDirectly)
{
    ZO_NEED_SERVERS();
    const TZoTestServers& s = TestServers();
    TZoHttp http;
    http.Client().CaFile = TestServers().Ca;
    ASSERT_TRUE(http.Get(Wide(s.HttpUrl("/echo")))) << ToUtf8(http.ErrorMessage());
    std::string host = "Host: 127.0.0.1:" + std::to_string(s.Http) + "\r\n";
    EXPECT_EQ(Body(http), "GET /echo HTTP/1.1\r\nConnection: Keep-Alive\r\nCache-control: no-cache\r\n" + host +
                              "Accept: */*\r\n" + kAgent + "\r\n");
    ASSERT_TRUE(http.Get(Wide(s.HttpUrl("/setcookie"))));
    ASSERT_TRUE(http.Get(Wide(s.HttpUrl("/echo?x=1"))));
    EXPECT_EQ(Body(http), "GET /echo?x=1 HTTP/1.1\r\nConnection: Keep-Alive\r\nCache-control: no-cache\r\n" + host +
                              "Accept: */*\r\n" + kAgent + "Cookie: a=1; b=2\r\n\r\n");

    // https: the same without Connection (cookies do not depend on the port).
    ASSERT_TRUE(http.Get(Wide(s.HttpsUrl("/echo")))) << ToUtf8(http.ErrorMessage());
    EXPECT_EQ(Body(http), "GET /echo HTTP/1.1\r\nCache-control: no-cache\r\nHost: 127.0.0.1:" +
                              std::to_string(s.Https) + "\r\nAccept: */*\r\n" + kAgent + "Cookie: a=1; b=2\r\n\r\n");
}

TEST(HttpWrapper, SendsTheHeaderTableThroughAProxy)
{
    ZO_NEED_SERVERS();
    const TZoTestServers& s = TestServers();
    TProxyScope proxy(s.AuthProxy, u"user", u"pass");
    TZoHttp http;
    http.Client().CaFile = TestServers().Ca;
    std::string origin = "127.0.0.1:" + std::to_string(s.Http);
    ASSERT_TRUE(http.Get(Wide("http://" + origin + "/__proxy/echo"))) << ToUtf8(http.ErrorMessage());
    EXPECT_EQ(Body(http), "GET http://" + origin +
                              "/__proxy/echo HTTP/1.1\r\nConnection: Keep-Alive\r\nCache-control: no-cache\r\n"
                              "Host: " + origin + "\r\nAccept: */*\r\n" + kAgent +
                              "Proxy-Authorization: Basic dXNlcjpwYXNz\r\n\r\n");

    // https through the proxy: a CONNECT with its own headers, then the GET
    // inside the tunnel as if direct.
    std::string tls = "127.0.0.1:" + std::to_string(s.Https);
    ASSERT_TRUE(http.Get(Wide("https://" + tls + "/echo"))) << ToUtf8(http.ErrorMessage());
    EXPECT_EQ(Body(http), "GET /echo HTTP/1.1\r\nCache-control: no-cache\r\nHost: " + tls + "\r\nAccept: */*\r\n" +
                              kAgent + "\r\n");
    ASSERT_TRUE(http.Get(Wide("http://" + origin + "/__proxy/last-connect")));
    EXPECT_EQ(Body(http), "CONNECT " + tls + " HTTP/1.1\r\nPragma: no-cache\r\nProxy-Connection: keep-alive\r\n"
                          "Host: " + tls + "\r\nAccept: text/html, */*\r\n" + kAgent +
                          "Proxy-Authorization: Basic dXNlcjpwYXNz\r\n\r\n");
}

TEST(HttpWrapper, AppliesOrResetsTheProxyOnEveryGet)
{
    ZO_NEED_SERVERS();
    const TZoTestServers& s = TestServers();
    TZoHttp http;
    http.Client().CaFile = TestServers().Ca;
    {
        TProxyScope proxy(s.AuthProxy);  // no credentials: refused
        EXPECT_FALSE(http.Get(Wide(s.HttpUrl("/fixed/10"))));
        EXPECT_EQ(http.ErrorMessage(), u"HTTP/1.1 407 Proxy Authentication Required");
    }
    // Checked is false again: the same object now goes out directly.
    ASSERT_TRUE(http.Get(Wide(s.HttpUrl("/echo")))) << ToUtf8(http.ErrorMessage());
    EXPECT_EQ(Body(http).substr(0, 19), "GET /echo HTTP/1.1\r");
    EXPECT_EQ(http.Client().Proxy.Server, "");
    EXPECT_EQ(http.Client().Proxy.Port, 0);
    // The earlier failure's message stays after a success.
    EXPECT_EQ(http.ErrorMessage(), u"HTTP/1.1 407 Proxy Authentication Required");
}

TEST(HttpWrapper, ChoosesTlsByTheUrlAndKeepsTheBodyAtOffsetZero)
{
    ZO_NEED_SERVERS();
    const TZoTestServers& s = TestServers();
    TZoHttp http;
    http.Client().CaFile = TestServers().Ca;
    ASSERT_TRUE(http.Get(Wide(s.HttpsUrl("/fixed/1000"))));
    EXPECT_NE(http.Client().TlsLayer(), nullptr);
    EXPECT_EQ(http.Content().Size(), 1000);
    EXPECT_EQ(http.Content().Position(), 0);
    ASSERT_TRUE(http.Get(Wide(s.HttpUrl("/fixed/10"))));
    EXPECT_EQ(http.Client().TlsLayer(), nullptr);
    EXPECT_EQ(http.Content().Size(), 10);  // emptied before each Get

    ASSERT_TRUE(http.Get(Wide(s.HttpUrl("/204"))));
    EXPECT_EQ(http.Content().Size(), 0);

    TZoTlsLayer::SimulateLoadFailure(true);
    bool https = http.Get(Wide(s.HttpsUrl("/fixed/10")));
    bool plain = http.Get(Wide(s.HttpUrl("/fixed/10")));
    TZoTlsLayer::SimulateLoadFailure(false);
    EXPECT_FALSE(https);
    EXPECT_TRUE(plain);
    EXPECT_EQ(http.ErrorMessage(), u"Could not load SSL library.");
}

TEST(HttpWrapper, FailsWithTheClientsMessages)
{
    ZO_NEED_SERVERS();
    const TZoTestServers& s = TestServers();
    TZoHttp http;
    http.Client().CaFile = TestServers().Ca;
    EXPECT_FALSE(http.Get(u""));
    EXPECT_EQ(http.ErrorMessage(), u"Host not found.");
    EXPECT_FALSE(http.Get(Wide(s.HttpUrl("/404"))));
    EXPECT_EQ(http.ErrorMessage(), u"HTTP/1.1 404 Not Found");
    http.SetConnectTimeout(300);
    EXPECT_FALSE(http.Get(Wide("http://127.0.0.1:" + std::to_string(s.Backlog) + "/")));
    EXPECT_EQ(http.ErrorMessage(), u"Connect timed out.");
}

TEST(HttpWrapper, ShowsTheWaitCursorOnlyOnTheMainThread)
{
    TZoHttp::SetWaitCursorHook({[]() -> int16_t {
                                    ++gCursorBegins;
                                    return 42;
                                },
                                [](int16_t saved) { gCursorRestored = saved; }});
    gCursorBegins = 0;
    gCursorRestored = 0;
    {
        TZoHttp http;
        http.Client().CaFile = TestServers().Ca;
    http.Client().CaFile = TestServers().Ca;
        EXPECT_FALSE(http.Get(u"http:///nohost"));  // restored on the failure path too
    }
    EXPECT_EQ(gCursorBegins, 1);
    EXPECT_EQ(gCursorRestored, 42);

    gCursorBegins = 0;
    std::thread worker([] {
        TZoHttp http;
        http.Client().CaFile = TestServers().Ca;
    http.Client().CaFile = TestServers().Ca;
        http.Get(u"http:///nohost");
    });
    worker.join();
    EXPECT_EQ(gCursorBegins, 0);
    TZoHttp::SetWaitCursorHook({});
}
