// What the client trusts: certificates checked against the roots and the
// host name (the test CA is trusted through the client's CA file on Linux and
// through the prefix's root store under Wine), and answers bounded in size
// and speed.
#include <gtest/gtest.h>

#include <chrono>

#include "HttpTestServers.h"
#include "ZoHttpClient.h"
#include "ZoIndyUtils.h"
#include "ZoStream.h"
#include "ZoSysUtils.h"

namespace {

using Clock = std::chrono::steady_clock;

std::string Url(const char* host, int port, const std::string& path)
{
    return std::string("https://") + host + ":" + std::to_string(port) + path;
}

// The message a failing GET ends with, or "no error" and the body's size.
std::string Outcome(TZoHttpClient& client, const std::string& url)
{
    TMemoryStream body;
    try {
        client.Get(url, body);
    } catch (const Exception& e) {
        return e.what();
    }
    return "no error, " + std::to_string(body.Size()) + " bytes";
}

struct TClient : TZoHttpClient {
    TClient()
    {
        HandleRedirects = true;
        ConnectTimeout = 10000;
        ReadTimeout = 10000;
        CaFile = TestServers().Ca;
    }
};

bool StartsWith(const std::string& s, const std::string& prefix) { return s.compare(0, prefix.size(), prefix) == 0; }

}  // namespace

TEST(HttpTrust, AcceptsOnlyACertificateOfATrustedIssuerForTheHost)
{
    ZO_NEED_SERVERS();
    const TZoTestServers& s = TestServers();
    TClient client;
    EXPECT_EQ(Outcome(client, Url("localhost", s.Https, "/fixed/10")), "no error, 10 bytes");
    EXPECT_EQ(Outcome(client, Url("127.0.0.1", s.Https, "/fixed/10")), "no error, 10 bytes");

    for (const char* host : {"localhost", "127.0.0.1"}) {
        SCOPED_TRACE(host);
        std::string expired = Outcome(client, Url(host, s.HttpsExpired, "/fixed/10"));
        EXPECT_TRUE(StartsWith(expired, "The server's certificate has expired")) << expired;
        std::string self = Outcome(client, Url(host, s.HttpsSelfSigned, "/fixed/10"));
        EXPECT_TRUE(StartsWith(self, "The server's certificate is not trusted")) << self;
        std::string wrong = Outcome(client, Url(host, s.HttpsWrongName, "/fixed/10"));
        EXPECT_TRUE(StartsWith(wrong, std::string("The server's certificate is not for ") + host)) << wrong;
    }
    // A refused server leaves the client usable for a good one.
    EXPECT_EQ(Outcome(client, Url("localhost", s.Https, "/fixed/10")), "no error, 10 bytes");
}

#ifndef _WIN32
TEST(HttpTrust, TrustsTheSystemRootsWithoutACaFile)
{
    ZO_NEED_SERVERS();
    TClient client;
    client.CaFile.clear();
    std::string untrusted = Outcome(client, Url("localhost", TestServers().Https, "/fixed/10"));
    EXPECT_TRUE(StartsWith(untrusted, "The server's certificate is not trusted")) << untrusted;
    client.CaFile = "/nonexistent/ca.pem";
    EXPECT_TRUE(StartsWith(Outcome(client, Url("localhost", TestServers().Https, "/")), "Could not load SSL library"));
}
#endif

TEST(HttpTrust, TheWrapperFailsARefusedCertificateWithItsReason)
{
    ZO_NEED_SERVERS();
    TZoHttp http;
    http.Client().CaFile = TestServers().Ca;
    EXPECT_FALSE(http.Get(u"https://localhost:" + IntToStr(TestServers().HttpsSelfSigned) + u"/fixed/10"));
    EXPECT_EQ(http.ErrorMessage().substr(0, 39), u"The server's certificate is not trusted");
}

TEST(HttpTrust, BoundsTheBodyBySize)
{
    ZO_NEED_SERVERS();
    const TZoTestServers& s = TestServers();
    TClient client;
    client.Limits.MaxBodyBytes = 1000;
    EXPECT_EQ(Outcome(client, s.HttpUrl("/fixed/1000")), "no error, 1000 bytes");
    EXPECT_EQ(Outcome(client, s.HttpUrl("/fixed/1001")), "Response body too large.");
    EXPECT_EQ(Outcome(client, s.HttpUrl("/chunked/1001/100")), "Response body too large.");
    EXPECT_EQ(Outcome(client, s.HttpUrl("/close/1001")), "Response body too large.");
    EXPECT_EQ(Outcome(client, s.HttpsUrl("/close/5000")), "Response body too large.");
    EXPECT_EQ(Outcome(client, s.HttpUrl("/chunked/1000/100")), "no error, 1000 bytes");
}

TEST(HttpTrust, GivesUpATransferThatStaysBelowTheSpeedLimit)
{
    ZO_NEED_SERVERS();
    const TZoTestServers& s = TestServers();
    TClient client;
    client.Limits.MinBytesPerSecond = 1000;
    client.Limits.SlowPeriodMs = 600;
    // A byte every 50 ms: 20 bytes/s, each read well inside the read time-out.
    auto t = Clock::now();
    EXPECT_EQ(Outcome(client, s.HttpUrl("/drip/1000/50")), "Transfer too slow: under 1000 bytes/s for 600 ms.");
    double seconds = std::chrono::duration<double>(Clock::now() - t).count();
    EXPECT_GE(seconds, 0.55);
    EXPECT_LT(seconds, 3.0);
    // The same over TLS, and a fast body is not affected.
    EXPECT_EQ(Outcome(client, s.HttpsUrl("/drip/1000/50")), "Transfer too slow: under 1000 bytes/s for 600 ms.");
    EXPECT_EQ(Outcome(client, s.HttpUrl("/fixed/300000")), "no error, 300000 bytes");

    // Fast enough for the rate bound, but never done: the total time ends it.
    client.Limits.MinBytesPerSecond = 10;
    client.Limits.MaxTransferMs = 700;
    t = Clock::now();
    EXPECT_EQ(Outcome(client, s.HttpUrl("/drip/1000/50")), "Transfer took too long: over 700 ms.");
    seconds = std::chrono::duration<double>(Clock::now() - t).count();
    EXPECT_GE(seconds, 0.65);
    EXPECT_LT(seconds, 3.0);
}
