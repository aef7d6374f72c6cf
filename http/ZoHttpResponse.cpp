#include "ZoHttpResponse.h"

#include <algorithm>
#include <cstring>
#include <limits>

#include "ZoHttpText.h"
#include "ZoSysUtils.h"

using namespace ZoHttpText;

namespace {

const char16_t* const kHeadTooLarge = u"Response header too large.";

[[noreturn]] void RaiseClosed() { throw EZoConnClosedGracefully(u"Connection Closed Gracefully."); }

// A Content-Length value: decimal digits, or a list of equal ones (some
// proxies join repeated fields). Anything else is refused rather than guessed.
int64_t ParseContentLength(const std::vector<AnsiString>& values)
{
    int64_t result = -1;
    for (const AnsiString& value : values) {
        std::string_view rest(value);
        for (;;) {
            size_t comma = rest.find(',');
            std::string_view item = Trim(rest.substr(0, comma));
            bool ok = !item.empty() && item.size() <= 18 && std::all_of(item.begin(), item.end(), IsDigit);
            int64_t n = 0;
            if (ok)
                for (char c : item) n = n * 10 + (c - '0');
            if (!ok || (result >= 0 && n != result))
                throw EZoHttpError(u"Invalid Content-Length: " + WideOf(value.substr(0, 64)));
            result = n;
            if (comma == std::string_view::npos) break;
            rest.remove_prefix(comma + 1);
        }
    }
    return result;
}

}  // namespace

AnsiString TZoHttpResponse::Value(const char* name) const
{
    for (const TZoHttpHeader& h : Headers)
        if (SameText(h.Name, name)) return h.Value;
    return {};
}

bool TZoHttpResponse::Has(const char* name) const
{
    for (const TZoHttpHeader& h : Headers)
        if (SameText(h.Name, name)) return true;
    return false;
}

std::vector<AnsiString> TZoHttpResponse::Values(const char* name) const
{
    std::vector<AnsiString> out;
    for (const TZoHttpHeader& h : Headers)
        if (SameText(h.Name, name)) out.push_back(h.Value);
    return out;
}

TZoBodyFraming BodyFramingOf(const TZoHttpResponse& response, bool forConnect)
{
    TZoBodyFraming f;
    int code = response.StatusCode;
    if ((code >= 100 && code < 200) || code == 204 || code == 304) return f;
    if (forConnect && code >= 200 && code < 300) return f;
    if (ContainsText(response.Value("Transfer-Encoding"), "chunked")) {
        f.Kind = TZoBodyFraming::bfChunked;
        return f;
    }
    if (response.Has("Content-Length")) {
        f.Kind = TZoBodyFraming::bfLength;
        f.Length = ParseContentLength(response.Values("Content-Length"));
        return f;
    }
    f.Kind = TZoBodyFraming::bfUntilClose;
    return f;
}

TZoHttpReader::TZoHttpReader(TZoByteSource& source) : source_(source), buffer_(kBlockSize) {}

size_t TZoHttpReader::Fill(int timeoutMs)
{
    if (deadline_) {
        auto left = std::chrono::duration_cast<std::chrono::milliseconds>(*deadline_ - Clock::now()).count();
        if (left <= 0) throw EZoReadTimeout(u"Read timed out.");
        if (timeoutMs < 0 || left < timeoutMs) timeoutMs = static_cast<int>(left);
    }
    begin_ = end_ = 0;
    size_t n = watch_ ? ReceiveWatched(timeoutMs) : source_.Receive(buffer_.data(), buffer_.size(), timeoutMs);
    end_ = n;
    if (n > 0) headGotNothing_ = false;
    return n;
}

namespace {

WideString PeriodText(int64_t ms) { return ms % 1000 == 0 ? IntToStr(ms / 1000) + u" s" : IntToStr(ms) + u" ms"; }

}  // namespace

void TZoHttpReader::BeginTransfer(const TZoTransferLimits& limits)
{
    const auto now = Clock::now();
    watch_ = TSpeedWatch{limits, now, now + std::chrono::milliseconds(limits.SlowPeriodMs), 0,
                         limits.SlowPeriodMs > 0 && limits.MinBytesPerSecond > 0, std::nullopt};
    if (limits.MaxTransferMs > 0) watch_->transferEnd = now + std::chrono::milliseconds(limits.MaxTransferMs);
}

// The per-read time-out alone would let a server drip a byte every few
// seconds for ever: every period the bytes that came in it are counted.
void TZoHttpReader::CheckSpeed(Clock::time_point now)
{
    TSpeedWatch& w = *watch_;
    auto elapsed = std::chrono::duration_cast<std::chrono::milliseconds>(now - w.windowStart).count();
    if (w.windowBytes * 1000 < w.limits.MinBytesPerSecond * elapsed) {
        throw EZoTransferTooSlow(FormatText(u"Transfer too slow: under %s bytes/s for %s.",
                                            {IntToStr(w.limits.MinBytesPerSecond), PeriodText(w.limits.SlowPeriodMs)}));
    }
    w.windowStart = now;
    w.windowEnd = now + std::chrono::milliseconds(w.limits.SlowPeriodMs);
    w.windowBytes = 0;
}

size_t TZoHttpReader::ReceiveWatched(int timeoutMs)
{
    using std::chrono::milliseconds;
    std::optional<Clock::time_point> readEnd;
    if (timeoutMs >= 0) readEnd = Clock::now() + milliseconds(timeoutMs);
    for (;;) {
        auto now = Clock::now();
        TSpeedWatch& w = *watch_;
        // A rate just above the bound still must not hold the request for ever.
        if (w.transferEnd && now >= *w.transferEnd)
            throw EZoTransferTooSlow(
                FormatText(u"Transfer took too long: over %s.", {PeriodText(w.limits.MaxTransferMs)}));
        if (w.checksSpeed && now >= w.windowEnd) CheckSpeed(now);
        int64_t wait = -1;  // for ever
        if (w.checksSpeed) wait = std::chrono::duration_cast<milliseconds>(w.windowEnd - now).count() + 1;
        if (w.transferEnd) {
            const int64_t left = std::chrono::duration_cast<milliseconds>(*w.transferEnd - now).count() + 1;
            if (wait < 0 || left < wait) wait = left;
        }
        bool readTimesOutFirst = false;
        if (readEnd) {
            auto left = std::chrono::duration_cast<milliseconds>(*readEnd - now).count();
            if (wait < 0 || left <= wait) {
                wait = std::max<int64_t>(left, 0);
                readTimesOutFirst = true;
            }
        }
        try {
            const int ms = static_cast<int>(std::min<int64_t>(wait, std::numeric_limits<int>::max()));
            size_t n = source_.Receive(buffer_.data(), buffer_.size(), ms);
            w.windowBytes += static_cast<int64_t>(n);
            return n;
        } catch (const EZoReadTimeout&) {
            if (readTimesOutFirst) throw;
        }
    }
}

// One line without its CR LF (a bare LF ends a line too). False when the
// connection ended before the line began.
bool TZoHttpReader::ReadLine(AnsiString& line, size_t maxLength, int timeoutMs)
{
    line.clear();
    bool started = false;
    for (;;) {
        if (begin_ == end_ && Fill(timeoutMs) == 0) {
            if (!started) return false;
            RaiseClosed();
        }
        started = true;
        const uint8_t* from = buffer_.data() + begin_;
        size_t avail = end_ - begin_;
        auto nl = static_cast<const uint8_t*>(std::memchr(from, '\n', avail));
        size_t n = nl ? static_cast<size_t>(nl - from) : avail;
        if (line.size() + n > maxLength + 1) throw EZoHttpError(kHeadTooLarge);
        line.append(reinterpret_cast<const char*>(from), n);
        begin_ += n;
        if (nl) {
            ++begin_;
            if (!line.empty() && line.back() == '\r') line.pop_back();
            if (line.size() > maxLength) throw EZoHttpError(kHeadTooLarge);
            return true;
        }
    }
}

TZoHttpResponse TZoHttpReader::ReadHead(int timeoutMs)
{
    headGotNothing_ = Buffered() == 0;
    TZoHttpResponse r;
    AnsiString line;
    size_t used = 0;
    // Blank lines left over from a previous message are skipped.
    do {
        if (used >= kMaxHeadBytes) throw EZoHttpError(kHeadTooLarge);
        if (!ReadLine(line, kMaxHeadBytes - used, timeoutMs)) RaiseClosed();
        used += line.size() + 1;
    } while (line.empty());
    r.StatusLine = line;

    std::string_view rest(line);
    size_t sp = rest.find(' ');
    std::string_view version = rest.substr(0, sp);
    r.Http10 = version == "HTTP/1.0";
    if (sp != std::string_view::npos) {
        rest.remove_prefix(sp);
        while (!rest.empty() && rest.front() == ' ') rest.remove_prefix(1);
        std::string_view code = rest.substr(0, rest.find(' '));
        if (code.size() == 3 && std::all_of(code.begin(), code.end(), IsDigit))
            r.StatusCode = (code[0] - '0') * 100 + (code[1] - '0') * 10 + (code[2] - '0');
    }

    for (;;) {
        if (used >= kMaxHeadBytes) throw EZoHttpError(kHeadTooLarge);
        if (!ReadLine(line, kMaxHeadBytes - used, timeoutMs)) RaiseClosed();
        used += line.size() + 1;
        if (line.empty()) break;
        if (IsBlank(line[0])) {  // an obsolete folded continuation
            if (!r.Headers.empty()) {
                r.Headers.back().Value += ' ';
                r.Headers.back().Value += Trim(line);
            }
            continue;
        }
        size_t colon = line.find(':');
        if (colon == AnsiString::npos) continue;
        std::string_view name = Trim(std::string_view(line).substr(0, colon));
        if (name.empty()) continue;
        r.Headers.push_back({AnsiString(name), AnsiString(Trim(std::string_view(line).substr(colon + 1)))});
    }
    return r;
}

void TZoHttpReader::Consume(size_t n, TStream* dest)
{
    if (budget_ >= 0) {
        if (static_cast<int64_t>(n) > budget_) throw EZoHttpError(u"Discarded body too long.");
        budget_ -= static_cast<int64_t>(n);
    }
    if (bodyLeft_ >= 0 && dest) {
        if (static_cast<int64_t>(n) > bodyLeft_) throw EZoHttpError(u"Response body too large.");
        bodyLeft_ -= static_cast<int64_t>(n);
    }
    if (dest) dest->WriteBuffer(buffer_.data() + begin_, n);
    begin_ += n;
}

void TZoHttpReader::ReadCount(int64_t count, TStream* dest, TZoWorkSink* sink, int timeoutMs)
{
    int64_t done = 0;
    while (done < count) {
        if (begin_ == end_ && Fill(timeoutMs) == 0) RaiseClosed();
        size_t take = static_cast<size_t>(std::min<int64_t>(static_cast<int64_t>(Buffered()), count - done));
        Consume(take, dest);
        done += static_cast<int64_t>(take);
        if (sink) sink->Work(done);
    }
}

void TZoHttpReader::ReadUntilClose(TStream* dest, TZoWorkSink* sink, int timeoutMs)
{
    int64_t done = 0;
    for (;;) {
        if (begin_ == end_ && Fill(timeoutMs) == 0) return;
        size_t take = Buffered();
        Consume(take, dest);
        done += static_cast<int64_t>(take);
        if (sink) sink->Work(done);
    }
}

// Each chunk is a read of its own, announced with its size.
void TZoHttpReader::ReadChunked(TStream* dest, TZoWorkSink* sink, int timeoutMs)
{
    AnsiString line;
    for (;;) {
        if (!ReadLine(line, kMaxChunkLine, timeoutMs)) RaiseClosed();
        std::string_view size = Trim(std::string_view(line).substr(0, line.find(';')));
        int64_t n = 0;
        bool ok = !size.empty() && size.size() <= 15;  // at most 2^60 - 1
        for (size_t i = 0; ok && i < size.size(); ++i) {
            char c = Lower(size[i]);
            int digit = IsDigit(c) ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10 : -1;
            ok = digit >= 0;
            n = n * 16 + digit;
        }
        if (!ok) throw EZoHttpError(u"Invalid chunk size: " + WideOf(line.substr(0, 64)));
        if (n == 0) break;
        if (sink) sink->WorkBegin(n);
        try {
            ReadCount(n, dest, sink, timeoutMs);
        } catch (...) {
            if (sink) sink->WorkEnd();
            throw;
        }
        if (sink) sink->WorkEnd();
        if (!ReadLine(line, 1, timeoutMs)) RaiseClosed();
        if (!line.empty()) throw EZoHttpError(u"Invalid chunk: missing line end after the data.");
    }
    // Trailer fields are read and ignored; a server that closes right after
    // the last chunk has still delivered the whole body.
    size_t used = 0;
    for (;;) {
        if (used >= kMaxHeadBytes) throw EZoHttpError(kHeadTooLarge);
        if (!ReadLine(line, kMaxHeadBytes - used, timeoutMs)) return;
        used += line.size() + 1;
        if (line.empty()) return;
    }
}

void TZoHttpReader::ReadBody(const TZoBodyFraming& framing, TStream& dest, TZoWorkSink* sink, int timeoutMs)
{
    switch (framing.Kind) {
    case TZoBodyFraming::bfNone:
        return;
    case TZoBodyFraming::bfChunked:
        bodyLeft_ = watch_ ? watch_->limits.MaxBodyBytes : TZoTransferLimits{}.MaxBodyBytes;
        try {
            ReadChunked(&dest, sink, timeoutMs);
        } catch (...) {
            bodyLeft_ = -1;
            throw;
        }
        bodyLeft_ = -1;
        return;
    case TZoBodyFraming::bfLength:
    case TZoBodyFraming::bfUntilClose:
        break;
    }
    bool framed = framing.Kind == TZoBodyFraming::bfLength;
    int64_t limit = watch_ ? watch_->limits.MaxBodyBytes : TZoTransferLimits{}.MaxBodyBytes;
    if (framed && framing.Length > limit) throw EZoHttpError(u"Response body too large.");
    // A memory destination grows once instead of doubling its way up; the
    // size is a server's claim, so only plausible sizes are reserved.
    if (auto* mem = dest.AsMemoryStream(); mem && framed && framing.Length <= (int64_t{1} << 30)) {
        try {
            mem->Bytes().reserve(static_cast<size_t>(mem->Position() + framing.Length));
        } catch (const std::bad_alloc&) {
        }
    }
    if (sink) sink->WorkBegin(framed ? framing.Length : 0);
    bodyLeft_ = limit;
    try {
        if (framed) {
            ReadCount(framing.Length, &dest, sink, timeoutMs);
            CheckNothingBeyond(framing.Length);
        } else {
            ReadUntilClose(&dest, sink, timeoutMs);
        }
    } catch (...) {
        bodyLeft_ = -1;
        if (sink) sink->WorkEnd();
        throw;
    }
    bodyLeft_ = -1;
    if (sink) sink->WorkEnd();
}

// Nothing is asked after this body, so bytes that already follow it are the
// same answer running past its Content-Length: a server that lies about the
// length. A lone line break is tolerated, as before a next answer.
void TZoHttpReader::CheckNothingBeyond(int64_t length)
{
    auto lineBreaksOnly = [&] {
        for (size_t i = begin_; i < end_; ++i)
            if (buffer_[i] != '\r' && buffer_[i] != '\n') return false;
        return Buffered() <= 2;
    };
    if (Buffered() == 0) {
        // Whatever the server has sent already is waiting; anything else is
        // not looked for.
        try {
            size_t n = source_.Receive(buffer_.data(), buffer_.size(), 0);
            begin_ = 0;
            end_ = n;
        } catch (const EZoReadTimeout&) {
            return;
        }
    }
    if (Buffered() != 0 && !lineBreaksOnly())
        throw EZoHttpError(FormatText(u"Response body longer than its Content-Length (%s bytes).", {IntToStr(length)}));
}

bool TZoHttpReader::DiscardBody(const TZoBodyFraming& framing, int timeoutMs, int64_t maxBytes, int totalMs)
{
    budget_ = maxBytes;
    deadline_ = Clock::now() + std::chrono::milliseconds(totalMs);
    bool complete = true;
    try {
        switch (framing.Kind) {
        case TZoBodyFraming::bfNone:
            break;
        case TZoBodyFraming::bfLength:
            ReadCount(framing.Length, nullptr, nullptr, timeoutMs);
            break;
        case TZoBodyFraming::bfChunked:
            ReadChunked(nullptr, nullptr, timeoutMs);
            break;
        case TZoBodyFraming::bfUntilClose:
            ReadUntilClose(nullptr, nullptr, timeoutMs);
            complete = false;  // the server has closed
            break;
        }
    } catch (const Exception&) {
        complete = false;
    }
    budget_ = -1;
    deadline_.reset();
    return complete;
}
