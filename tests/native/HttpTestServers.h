// The loopback servers of tests/http/zo_test_servers.py, started once per test
// run. On Linux the run starts them itself; a Windows build under Wine finds
// their ports in ZO_HTTP_PORTS (set by the script that started them) and skips
// the server tests without it.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#ifndef _WIN32
#include <csignal>
#include <fcntl.h>
#include <poll.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

struct TZoTestServers {
    int Http = 0;
    int Https = 0;
    int Proxy = 0;
    int AuthProxy = 0;
    int Backlog = 0;
    // Origins whose certificates a client must refuse.
    int HttpsExpired = 0, HttpsWrongName = 0, HttpsSelfSigned = 0;
    std::string Ca;     // the test CA's PEM file, as the servers' system names it
    std::string Error;  // why they are missing

    bool Ok() const { return Http && Https && Proxy && AuthProxy && Backlog; }
    std::string HttpUrl(const std::string& path) const { return "http://127.0.0.1:" + std::to_string(Http) + path; }
    std::string HttpsUrl(const std::string& path) const { return "https://127.0.0.1:" + std::to_string(Https) + path; }

    // Reads the ports from the servers' JSON line.
    void Parse(const std::string& json)
    {
        auto port = [&](const char* name) {
            auto at = json.find(std::string("\"") + name + "\":");
            return at == std::string::npos ? 0 : std::atoi(json.c_str() + at + std::string(name).size() + 3);
        };
        Http = port("http"), Https = port("https"), Proxy = port("proxy");
        AuthProxy = port("authproxy"), Backlog = port("backlog");
        HttpsExpired = port("https_expired"), HttpsWrongName = port("https_wrongname");
        HttpsSelfSigned = port("https_selfsigned");
        auto at = json.find("\"ca\": \"");
        if (at != std::string::npos) {
            at += 7;
            Ca = json.substr(at, json.find('"', at) - at);
        }
    }
};

#ifndef _WIN32
// The server process: its standard input is our pipe, so it ends when the
// pipe closes, with this object or with the test process however it ends.
class TZoTestServerProcess {
public:
    TZoTestServerProcess()
    {
        int in[2], out[2];
        if (::pipe2(in, O_CLOEXEC) != 0 || ::pipe2(out, O_CLOEXEC) != 0) {
            servers_.Error = "pipe failed";
            return;
        }
        pid_ = ::fork();
        if (pid_ == 0) {
            ::dup2(in[0], 0);
            ::dup2(out[1], 1);
            ::execlp("python3", "python3", ZO_SOURCE_DIR "/tests/http/zo_test_servers.py", nullptr);
            ::_exit(127);
        }
        ::close(in[0]);
        ::close(out[1]);
        toServer_ = in[1];
        std::string line;
        char c;
        pollfd p{out[0], POLLIN, 0};
        while (::poll(&p, 1, 30000) > 0 && ::read(out[0], &c, 1) == 1 && c != '\n') line += c;
        ::close(out[0]);
        servers_.Parse(line);
        if (!servers_.Ok()) servers_.Error = "the test servers did not start: " + line;
    }
    ~TZoTestServerProcess()
    {
        if (toServer_ >= 0) ::close(toServer_);
        if (pid_ > 0) {
            ::kill(pid_, SIGTERM);
            ::waitpid(pid_, nullptr, 0);
        }
    }
    TZoTestServerProcess(const TZoTestServerProcess&) = delete;
    TZoTestServerProcess& operator=(const TZoTestServerProcess&) = delete;

    const TZoTestServers& Servers() const { return servers_; }

private:
    TZoTestServers servers_;
    pid_t pid_ = -1;
    int toServer_ = -1;
};
#endif

inline const TZoTestServers& TestServers()
{
#ifdef _WIN32
    static const TZoTestServers servers = [] {
        TZoTestServers s;
        const char* ports = std::getenv("ZO_HTTP_PORTS");
        if (ports) s.Parse(ports);
        if (!s.Ok()) s.Error = "ZO_HTTP_PORTS not set";
        return s;
    }();
    return servers;
#else
    static TZoTestServerProcess process;
    return process.Servers();
#endif
}

// Skips under Wine when nobody started the servers; on Linux they must run.
#ifdef _WIN32
#define ZO_NEED_SERVERS()                                                      \
    do {                                                                       \
        if (!TestServers().Ok()) GTEST_SKIP() << TestServers().Error;          \
    } while (0)
#else
#define ZO_NEED_SERVERS()                                                      \
    do {                                                                       \
        ASSERT_TRUE(TestServers().Ok()) << TestServers().Error;                \
    } while (0)
#endif
