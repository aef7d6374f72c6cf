#include "OnlineTestSupport.h"

#include <winsock2.h>

#include <stdexcept>

#include "PackageResources_win.h"
#include "SetupFn.h"
#include "SetupProject.h"
#include "ZoStream.h"
#include "ZoSysUtils.h"
#include "ZoWinUtils_win.h"
#include "ZoWinText_win.h"


std::string Narrow(const WideString& s) { return ToUtf8(s); }

// ---- TLoopbackServer -------------------------------------------------------------------

namespace {

// Winsock for the life of one server.
struct TWinsock {
    TWinsock()
    {
        WSADATA data;
        WSAStartup(MAKEWORD(2, 2), &data);
    }
    ~TWinsock() { WSACleanup(); }
};

void SendAll(SOCKET s, const std::string& bytes)
{
    size_t sent = 0;
    while (sent < bytes.size()) {
        int n = send(s, bytes.data() + sent, static_cast<int>(std::min<size_t>(bytes.size() - sent, 65536)), 0);
        if (n <= 0) return;
        sent += static_cast<size_t>(n);
    }
}

}  // namespace

TLoopbackServer::TLoopbackServer()
{
    static TWinsock winsock;
    listener_.Reset(socket(AF_INET, SOCK_STREAM, IPPROTO_TCP));
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    int size = sizeof address;
    if (!listener_ || bind(listener_.Get(), reinterpret_cast<sockaddr*>(&address), size) != 0 ||
        listen(listener_.Get(), 16) != 0 || getsockname(listener_.Get(), reinterpret_cast<sockaddr*>(&address), &size) != 0)
        throw std::runtime_error("the loopback server cannot listen");
    port_ = ntohs(address.sin_port);
    thread_ = std::thread([this] { Serve(); });
}

TLoopbackServer::~TLoopbackServer()
{
    stop_ = true;
    thread_.join();
}

void TLoopbackServer::Set(const std::string& path, TAnswer answer)
{
    std::lock_guard<std::mutex> hold(lock_);
    answers_[path] = std::move(answer);
}

WideString TLoopbackServer::Url(const std::string& path) const
{
    return FromUtf8("http://127.0.0.1:" + std::to_string(port_) + path);
}

std::vector<std::string> TLoopbackServer::Requests() const
{
    std::lock_guard<std::mutex> hold(lock_);
    return requests_;
}

void TLoopbackServer::Serve()
{
    while (!stop_) {
        fd_set ready;
        FD_ZERO(&ready);
        FD_SET(listener_.Get(), &ready);
        timeval wait{0, 50000};
        if (select(0, &ready, nullptr, nullptr, &wait) <= 0) continue;
        TUniqueSocket client(accept(listener_.Get(), nullptr, nullptr));
        if (!client) continue;
        std::string head;
        char buffer[4096];
        while (head.find("\r\n\r\n") == std::string::npos && head.size() < 65536) {
            int n = recv(client.Get(), buffer, sizeof buffer, 0);
            if (n <= 0) break;
            head.append(buffer, static_cast<size_t>(n));
        }
        size_t from = head.find(' '), to = from == std::string::npos ? from : head.find(' ', from + 1);
        std::string target = to == std::string::npos ? std::string() : head.substr(from + 1, to - from - 1);
        TAnswer answer{"404 Not Found", "missing"};
        {
            std::lock_guard<std::mutex> hold(lock_);
            requests_.push_back(target);
            auto found = answers_.find(target.substr(0, target.find('?')));
            if (found != answers_.end()) answer = found->second;
        }
        std::string reply = "HTTP/1.1 " + answer.status + "\r\n";
        if (answer.length) reply += "Content-Length: " + std::to_string(answer.body.size()) + "\r\n";
        reply += "Connection: close\r\n\r\n" + answer.body;
        SendAll(client.Get(), reply);
        shutdown(client.Get(), SD_SEND);
    }
}

// ---- Packages ---------------------------------------------------------------------------

std::string ModuleBytes(const std::vector<std::pair<std::string, std::string>>& resources)
{
    wchar_t self[MAX_PATH] = {};
    GetModuleFileNameW(nullptr, self, MAX_PATH);
    WideString host = WithTrailingBackslash(DirPart(WideString(reinterpret_cast<const char16_t*>(self)))) + u"online_host.dll";
    TTempFolder folder;
    WideString path = folder.Wide("package.dll");
    if (!CopyFileW(W(host), W(path), FALSE)) throw std::runtime_error("cannot copy online_host.dll");
    HANDLE update = BeginUpdateResourceW(W(path), FALSE);
    if (!update) throw std::runtime_error("BeginUpdateResource failed");
    for (const auto& [name, bytes] : resources) {
        WideString wide = WideOf(name);
        UpdateResourceW(update, RT_RCDATA, W(wide), MAKELANGID(LANG_NEUTRAL, SUBLANG_NEUTRAL),
                        const_cast<char*>(bytes.data()), static_cast<DWORD>(bytes.size()));
    }
    if (!EndUpdateResourceW(update, FALSE)) throw std::runtime_error("EndUpdateResource failed");
    return ReadFileBytes(folder.Path() / "package.dll");
}

std::string FullPackageBytes(const WideString& appTitle)
{
    TSetupScript script;
    script.BaseInfo->AppTitle = appTitle;
    TMemoryStream stream;
    script.SaveToStream(stream);
    TSetupfn::EncodeStream(&stream);
    const TBytes& bytes = stream.Bytes();
    return ModuleBytes({{FullScriptResource, std::string(bytes.begin(), bytes.end())}});
}

std::vector<WideString> TempPackages()
{
    std::vector<WideString> found;
    WideString dir = TZoWinfn::GetTempDir();
    // Packages of earlier versions lay in the temporary folder itself, now in folders of their own.
    for (const char16_t* pattern : {u"{*}.exe", u"zosetup-*"}) {
        WIN32_FIND_DATAW data;
        TUniqueFind find(FindFirstFileW(W(dir + pattern), &data));
        if (!find) continue;
        do {
            found.push_back(dir + reinterpret_cast<const char16_t*>(data.cFileName));
        } while (FindNextFileW(find.Get(), &data));
    }
    return found;
}
