// Reading HTTP/1.1 responses from a byte source: the status line and header
// fields, then a body framed by Content-Length, by chunks or by the end of the
// connection. Everything a server sends is bounded here, so a hostile or
// broken server ends in an error, never in unbounded memory.
#pragma once

#include <chrono>
#include <optional>
#include <vector>

#include "ZoSocket.h"
#include "ZoStream.h"

// A response the client cannot make sense of.
ZO_DECLARE_ERROR(EZoHttpError, Exception);

struct TZoHttpHeader {
    AnsiString Name;
    AnsiString Value;
};

struct TZoHttpResponse {
    AnsiString StatusLine;
    int StatusCode = -1;  // the second blank-separated field; -1 when it is no number
    bool Http10 = false;  // the server speaks HTTP/1.0
    std::vector<TZoHttpHeader> Headers;

    // The first value of a header (names compared without case); empty when absent.
    AnsiString Value(const char* name) const;
    bool Has(const char* name) const;
    std::vector<AnsiString> Values(const char* name) const;
};

struct TZoBodyFraming {
    enum TKind { bfNone, bfLength, bfChunked, bfUntilClose };
    TKind Kind = bfNone;
    int64_t Length = 0;  // for bfLength
};

// The framing of a response body. forConnect: the answer to a CONNECT, whose
// success has no body. Raises EZoHttpError for a malformed Content-Length.
TZoBodyFraming BodyFramingOf(const TZoHttpResponse& response, bool forConnect);

// Receives the progress of body reads: each read (a whole body, or one chunk
// of a chunked body) is announced with the bytes expected, followed by the
// running count after every block.
class TZoWorkSink {
public:
    virtual ~TZoWorkSink() = default;
    virtual void WorkBegin(int64_t total) = 0;
    virtual void Work(int64_t count) = 0;
    virtual void WorkEnd() = 0;
};

// Bounds on one response, so that no server can hold a request for ever or
// fill the disk: a body longer than MaxBodyBytes, a transfer that stays below
// MinBytesPerSecond for SlowPeriodMs, or one (head and body) that takes longer
// than MaxTransferMs in all, fails.
struct TZoTransferLimits {
    int64_t MaxBodyBytes = int64_t{4} << 30;
    int64_t MinBytesPerSecond = 1024;
    int SlowPeriodMs = 60000;           // 0: no speed check
    int64_t MaxTransferMs = 3'600'000;  // an hour; 0: no bound
};
// A transfer that stayed below the speed limit, or went past its time.
ZO_DECLARE_ERROR(EZoTransferTooSlow, EZoReadTimeout);

class TZoHttpReader {
public:
    static constexpr size_t kBlockSize = 32768;       // bytes per receive
    static constexpr size_t kMaxHeadBytes = 65536;    // status line and header fields
    static constexpr size_t kMaxChunkLine = 4096;     // a chunk-size line with extensions

    explicit TZoHttpReader(TZoByteSource& source);
    TZoHttpReader(const TZoHttpReader&) = delete;
    TZoHttpReader& operator=(const TZoHttpReader&) = delete;

    // Reads a status line and its header fields. Raises
    // EZoConnClosedGracefully when the connection ends first, EZoHttpError
    // when the head exceeds kMaxHeadBytes.
    TZoHttpResponse ReadHead(int timeoutMs);
    // True when the last ReadHead failed before a single byte arrived: the
    // sign of a kept connection the server had already dropped.
    bool HeadGotNothing() const { return headGotNothing_; }

    // Starts the speed check of one response (its head and body) under the
    // limits; EndTransfer stops it.
    void BeginTransfer(const TZoTransferLimits& limits);
    void EndTransfer() { watch_.reset(); }

    // Reads a body into dest. Raises EZoConnClosedGracefully when the
    // connection ends inside a framed body, EZoHttpError for bad chunking, a
    // body past MaxBodyBytes of the transfer's limits or bytes beyond its
    // Content-Length, EZoTransferTooSlow for a transfer below the speed limit.
    void ReadBody(const TZoBodyFraming& framing, TStream& dest, TZoWorkSink* sink, int timeoutMs);
    // Reads a body and drops it, giving up (result false) after maxBytes, on
    // a read that waits timeoutMs, or once totalMs has passed; true when the
    // whole body was consumed and the connection can carry another request.
    bool DiscardBody(const TZoBodyFraming& framing, int timeoutMs, int64_t maxBytes, int totalMs);

    // Bytes received beyond what was consumed.
    size_t Buffered() const { return end_ - begin_; }

private:
    using Clock = std::chrono::steady_clock;
    struct TSpeedWatch {
        TZoTransferLimits limits;
        Clock::time_point windowStart, windowEnd;
        int64_t windowBytes = 0;
        bool checksSpeed = false;
        std::optional<Clock::time_point> transferEnd;
    };
    size_t Fill(int timeoutMs);
    size_t ReceiveWatched(int timeoutMs);
    void CheckSpeed(Clock::time_point now);
    void CheckNothingBeyond(int64_t length);
    bool ReadLine(AnsiString& line, size_t maxLength, int timeoutMs);
    void ReadCount(int64_t count, TStream* dest, TZoWorkSink* sink, int timeoutMs);
    void ReadChunked(TStream* dest, TZoWorkSink* sink, int timeoutMs);
    void ReadUntilClose(TStream* dest, TZoWorkSink* sink, int timeoutMs);
    void Consume(size_t n, TStream* dest);

    TZoByteSource& source_;
    std::vector<uint8_t> buffer_;
    size_t begin_ = 0;
    size_t end_ = 0;
    bool headGotNothing_ = false;
    // Set while discarding: bounds the bytes taken and the time spent.
    int64_t budget_ = -1;
    std::optional<Clock::time_point> deadline_;
    // Set while reading a body into its destination: the bytes it may still take.
    int64_t bodyLeft_ = -1;
    std::optional<TSpeedWatch> watch_;
};
