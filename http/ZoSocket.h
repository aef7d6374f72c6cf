// A TCP client socket over BSD sockets or Winsock, and the errors of the
// network layer. The socket is non-blocking underneath so that connecting and
// every wait can be bounded by a time-out; ZoSocket_posix.cpp and
// ZoSocket_win.cpp serve it.
#pragma once

#include <cstddef>
#include <cstdint>

#include "ZoTypes.h"

// A failure of the network layer; ErrorCode() is the system's error number, or 0.
class EZoSocketError : public Exception {
public:
    explicit EZoSocketError(WideString message, int errorCode = 0)
        : Exception(std::move(message)), errorCode_(errorCode) {}
    int ErrorCode() const noexcept { return errorCode_; }

private:
    int errorCode_;
};
ZO_DECLARE_ERROR(EZoHostNotFound, EZoSocketError);        // "Host not found."
ZO_DECLARE_ERROR(EZoConnectTimeout, EZoSocketError);      // "Connect timed out."
ZO_DECLARE_ERROR(EZoReadTimeout, EZoSocketError);         // "Read timed out."
ZO_DECLARE_ERROR(EZoConnClosedGracefully, EZoSocketError);  // "Connection Closed Gracefully."

// Raises the socket error of a system error number: "Socket Error # %d\r\n%s".
[[noreturn]] void RaiseSocketError(int errorCode);

// Where bytes of one connection come from: a socket, a TLS session over it, or
// a buffer (tests and fuzzing).
class TZoByteSource {
public:
    virtual ~TZoByteSource() = default;
    // Up to size bytes; 0 when the peer has closed. A negative timeoutMs waits
    // for ever; otherwise EZoReadTimeout when nothing arrived in time.
    virtual size_t Receive(void* buffer, size_t size, int timeoutMs) = 0;
};

class TZoSocket : public TZoByteSource {
public:
    TZoSocket() noexcept = default;
    ~TZoSocket() override { Close(); }
    TZoSocket(const TZoSocket&) = delete;
    TZoSocket& operator=(const TZoSocket&) = delete;
    TZoSocket(TZoSocket&& other) noexcept : handle_(other.handle_) { other.handle_ = kInvalid; }
    TZoSocket& operator=(TZoSocket&& other) noexcept;

    // Resolves host and connects to the first address that answers. timeoutMs
    // bounds the whole attempt (0 or less: the system's own limit). Raises
    // EZoHostNotFound, EZoConnectTimeout or EZoSocketError.
    static TZoSocket Connect(const AnsiString& host, uint16_t port, int timeoutMs);

    bool Valid() const noexcept { return handle_ != kInvalid; }
    void Close() noexcept;

    size_t Receive(void* buffer, size_t size, int timeoutMs) override;
    // Sends every byte, waiting while the send buffer is full.
    void Send(const void* data, size_t size);

    // The non-blocking primitives under a TLS session: the number of bytes
    // moved, 0 for a closed peer (receive only), or -1 when the call would block.
    ptrdiff_t TryReceive(void* buffer, size_t size);
    ptrdiff_t TrySend(const void* data, size_t size);
    // Waits until the socket is readable (or writable); false on time-out.
    bool WaitReadable(int timeoutMs);
    bool WaitWritable(int timeoutMs);

    // A kept connection is worth reusing only when the peer has neither closed
    // it nor sent anything unasked.
    bool IsIdle();

    intptr_t Handle() const noexcept { return handle_; }

private:
    explicit TZoSocket(intptr_t handle) noexcept : handle_(handle) {}
    static constexpr intptr_t kInvalid = -1;
    intptr_t handle_ = kInvalid;
};
