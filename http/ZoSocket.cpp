// What a socket does the same on every system, over the non-blocking
// primitives that ZoSocket_posix.cpp and ZoSocket_win.cpp serve.
#include "ZoSocket.h"

TZoSocket& TZoSocket::operator=(TZoSocket&& other) noexcept
{
    if (this != &other) {
        Close();
        handle_ = other.handle_;
        other.handle_ = kInvalid;
    }
    return *this;
}

size_t TZoSocket::Receive(void* buffer, size_t size, int timeoutMs)
{
    for (;;) {
        ptrdiff_t n = TryReceive(buffer, size);
        if (n >= 0) return static_cast<size_t>(n);
        if (!WaitReadable(timeoutMs)) throw EZoReadTimeout(u"Read timed out.");
    }
}

void TZoSocket::Send(const void* data, size_t size)
{
    auto p = static_cast<const char*>(data);
    while (size > 0) {
        ptrdiff_t n = TrySend(p, size);
        if (n < 0) {
            WaitWritable(-1);
            continue;
        }
        p += n;
        size -= static_cast<size_t>(n);
    }
}
