#include "ZoSocket.h"

#include <arpa/inet.h>
#include <cerrno>
#include <chrono>
#include <cstring>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <memory>
#include <string>
#include <sys/socket.h>
#include <unistd.h>

#include "ZoSysUtils.h"

namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until deadline, never negative; -1 for no deadline.
int Remaining(bool bounded, Clock::time_point deadline)
{
    if (!bounded) return -1;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left < 0 ? 0 : static_cast<int>(left);
}

// poll() on one descriptor, retried across signals; false on time-out.
bool PollFor(int fd, short events, int timeoutMs)
{
    bool bounded = timeoutMs >= 0;
    auto deadline = Clock::now() + std::chrono::milliseconds(bounded ? timeoutMs : 0);
    for (;;) {
        pollfd p{fd, events, 0};
        int r = ::poll(&p, 1, Remaining(bounded, deadline));
        if (r > 0) return true;
        if (r == 0) return false;
        if (errno != EINTR) RaiseSocketError(errno);
    }
}

struct AddrInfoFree {
    void operator()(addrinfo* a) const { if (a) ::freeaddrinfo(a); }
};

}  // namespace

void RaiseSocketError(int errorCode)
{
    char text[256] = {};
    const char* reason = ::strerror_r(errorCode, text, sizeof text);
    throw EZoSocketError(u"Socket Error # " + IntToStr(errorCode) + u"\r\n" + FromUtf8(AnsiString(reason)),
                         errorCode);
}

void TZoSocket::Close() noexcept
{
    if (handle_ != kInvalid) ::close(static_cast<int>(handle_));
    handle_ = kInvalid;
}

TZoSocket TZoSocket::Connect(const AnsiString& host, uint16_t port, int timeoutMs)
{
    if (host.empty()) throw EZoHostNotFound(u"Host not found.");
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_protocol = IPPROTO_TCP;
    addrinfo* found = nullptr;
    std::string service = std::to_string(port);
    if (::getaddrinfo(host.c_str(), service.c_str(), &hints, &found) != 0 || !found)
        throw EZoHostNotFound(u"Host not found.");
    std::unique_ptr<addrinfo, AddrInfoFree> list(found);

    bool bounded = timeoutMs > 0;
    auto deadline = Clock::now() + std::chrono::milliseconds(bounded ? timeoutMs : 0);
    int lastError = ECONNREFUSED;
    for (addrinfo* a = list.get(); a; a = a->ai_next) {
        TZoSocket s(::socket(a->ai_family, a->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, a->ai_protocol));
        if (!s.Valid()) {
            lastError = errno;
            continue;
        }
        int fd = static_cast<int>(s.handle_);
        int one = 1;
        ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        if (::connect(fd, a->ai_addr, a->ai_addrlen) == 0) return s;
        if (errno != EINPROGRESS) {
            lastError = errno;
            continue;
        }
        if (!PollFor(fd, POLLOUT, Remaining(bounded, deadline))) throw EZoConnectTimeout(u"Connect timed out.");
        int error = 0;
        socklen_t len = sizeof error;
        if (::getsockopt(fd, SOL_SOCKET, SO_ERROR, &error, &len) != 0) error = errno;
        if (error == 0) return s;
        lastError = error;
        if (bounded && Remaining(bounded, deadline) == 0) throw EZoConnectTimeout(u"Connect timed out.");
    }
    RaiseSocketError(lastError);
}

ptrdiff_t TZoSocket::TryReceive(void* buffer, size_t size)
{
    for (;;) {
        ssize_t n = ::recv(static_cast<int>(handle_), buffer, size, 0);
        if (n >= 0) return n;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return -1;
        if (errno != EINTR) RaiseSocketError(errno);
    }
}

ptrdiff_t TZoSocket::TrySend(const void* data, size_t size)
{
    for (;;) {
        ssize_t n = ::send(static_cast<int>(handle_), data, size, MSG_NOSIGNAL);
        if (n >= 0) return n;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return -1;
        if (errno != EINTR) RaiseSocketError(errno);
    }
}

bool TZoSocket::WaitReadable(int timeoutMs) { return PollFor(static_cast<int>(handle_), POLLIN, timeoutMs); }
bool TZoSocket::WaitWritable(int timeoutMs) { return PollFor(static_cast<int>(handle_), POLLOUT, timeoutMs); }

bool TZoSocket::IsIdle()
{
    if (!Valid()) return false;
    pollfd p{static_cast<int>(handle_), POLLIN, 0};
    int r = ::poll(&p, 1, 0);
    return r == 0;
}
