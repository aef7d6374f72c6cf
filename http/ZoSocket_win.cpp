#include "ZoSocket.h"

#include <winsock2.h>
#include <ws2tcpip.h>
#include <windows.h>

#include <chrono>
#include <memory>
#include <string>

#include "ZoSysUtils.h"
#include "ZoWinText_win.h"

namespace {

using Clock = std::chrono::steady_clock;

// Winsock is started once, on the first connection, and stopped at exit.
struct TWinsock {
    bool ok;
    TWinsock()
    {
        WSADATA data;
        ok = ::WSAStartup(MAKEWORD(2, 2), &data) == 0;
    }
    ~TWinsock()
    {
        if (ok) ::WSACleanup();
    }
    TWinsock(const TWinsock&) = delete;
    TWinsock& operator=(const TWinsock&) = delete;
};

void EnsureWinsock()
{
    static TWinsock winsock;
    if (!winsock.ok) RaiseSocketError(::WSAGetLastError());
}

int Remaining(bool bounded, Clock::time_point deadline)
{
    if (!bounded) return -1;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// select() on one socket; false on time-out. Connect failures show in the
// exception set, so writability is watched together with it.
bool SelectFor(SOCKET s, bool write, int timeoutMs)
{
    fd_set set, errors;
    FD_ZERO(&set);
    FD_ZERO(&errors);
    FD_SET(s, &set);
    FD_SET(s, &errors);
    timeval tv{timeoutMs / 1000, (timeoutMs % 1000) * 1000};
    int r = ::select(0, write ? nullptr : &set, write ? &set : nullptr, &errors, timeoutMs < 0 ? nullptr : &tv);
    if (r == SOCKET_ERROR) RaiseSocketError(::WSAGetLastError());
    return r > 0;
}

struct AddrInfoFree {
    void operator()(addrinfo* a) const { if (a) ::freeaddrinfo(a); }
};

SOCKET Sock(intptr_t handle) { return static_cast<SOCKET>(handle); }

}  // namespace

void RaiseSocketError(int errorCode)
{
    throw EZoSocketError(Concat({u"Socket Error # ", IntToStr(errorCode), u"\r\n", SysErrorText(static_cast<DWORD>(errorCode))}),
                         errorCode);
}

void TZoSocket::Close() noexcept
{
    if (handle_ != kInvalid) ::closesocket(Sock(handle_));
    handle_ = kInvalid;
}

TZoSocket TZoSocket::Connect(const AnsiString& host, uint16_t port, int timeoutMs)
{
    EnsureWinsock();
    if (host.empty()) throw EZoHostNotFound(u"Host not found.");
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    std::string service = std::to_string(static_cast<long long>(port));
    if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || !found)
        throw EZoHostNotFound(u"Host not found.");
    std::unique_ptr<addrinfo, AddrInfoFree> list(found);

    bool bounded = timeoutMs > 0;
    auto deadline = Clock::now() + std::chrono::milliseconds(bounded ? timeoutMs : 0);
    int lastError = WSAECONNREFUSED;
    for (addrinfo* a = list.get(); a; a = a->ai_next) {
        SOCKET raw = ::WSASocketW(a->ai_family, a->ai_socktype, a->ai_protocol, nullptr, 0, WSA_FLAG_NO_HANDLE_INHERIT);
        if (raw == INVALID_SOCKET) {
            lastError = ::WSAGetLastError();
            continue;
        }
        TZoSocket s(static_cast<intptr_t>(raw));
        u_long nonBlocking = 1;
        ::ioctlsocket(raw, FIONBIO, &nonBlocking);
        BOOL one = TRUE;
        ::setsockopt(raw, IPPROTO_TCP, TCP_NODELAY, reinterpret_cast<const char*>(&one), sizeof one);
        if (::connect(raw, a->ai_addr, static_cast<int>(a->ai_addrlen)) == 0) return s;
        int error = ::WSAGetLastError();
        if (error != WSAEWOULDBLOCK) {
            lastError = error;
            continue;
        }
        if (!SelectFor(raw, true, bounded ? Remaining(bounded, deadline) : -1))
            throw EZoConnectTimeout(u"Connect timed out.");
        int soError = 0;
        int len = sizeof soError;
        if (::getsockopt(raw, SOL_SOCKET, SO_ERROR, reinterpret_cast<char*>(&soError), &len) != 0)
            soError = ::WSAGetLastError();
        if (soError == 0) return s;
        lastError = soError;
        if (bounded && Remaining(bounded, deadline) == 0) throw EZoConnectTimeout(u"Connect timed out.");
    }
    RaiseSocketError(lastError);
}

ptrdiff_t TZoSocket::TryReceive(void* buffer, size_t size)
{
    int chunk = size > 0x40000000 ? 0x40000000 : static_cast<int>(size);
    int n = ::recv(Sock(handle_), static_cast<char*>(buffer), chunk, 0);
    if (n >= 0) return n;
    int error = ::WSAGetLastError();
    if (error == WSAEWOULDBLOCK) return -1;
    RaiseSocketError(error);
}

ptrdiff_t TZoSocket::TrySend(const void* data, size_t size)
{
    int chunk = size > 0x40000000 ? 0x40000000 : static_cast<int>(size);
    int n = ::send(Sock(handle_), static_cast<const char*>(data), chunk, 0);
    if (n >= 0) return n;
    int error = ::WSAGetLastError();
    if (error == WSAEWOULDBLOCK) return -1;
    RaiseSocketError(error);
}

bool TZoSocket::WaitReadable(int timeoutMs) { return SelectFor(Sock(handle_), false, timeoutMs); }
bool TZoSocket::WaitWritable(int timeoutMs) { return SelectFor(Sock(handle_), true, timeoutMs); }

bool TZoSocket::IsIdle()
{
    if (!Valid()) return false;
    return !SelectFor(Sock(handle_), false, 0);
}
