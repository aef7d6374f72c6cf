// What a build prints while it runs, on standard error: on a terminal a bar
// redrawn in place with throughput and time left; elsewhere (a log, a CI job)
// one line at least every few seconds, from a thread of its own, so that a
// long step before or after the compression is not mistaken for a hang.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <cstdio>
#include <mutex>
#include <string>
#include <thread>

// "512 bytes", "12.5 KB", "150.0 MB".
std::string SizeText(uint64_t bytes);
// "7 s", "2 min 05 s".
std::string DurationText(double seconds);
// "1 file", "3 files": a count with its noun in the right number.
std::string CountText(uint64_t count, const char* one, const char* many);

class TBuildProgress {
public:
    TBuildProgress(FILE* out, bool terminal, std::chrono::milliseconds interval = std::chrono::seconds(5));
    ~TBuildProgress();
    TBuildProgress(const TBuildProgress&) = delete;
    TBuildProgress& operator=(const TBuildProgress&) = delete;

    // Plain bytes compressed so far, of all; from any thread.
    void Update(uint64_t done, uint64_t total);
    // Ends the line thread and clears the bar; called again, does nothing.
    void Stop();

private:
    std::string State() const;  // "45%  67.5 MB of 150.0 MB  12.3 MB/s  6 s left"
    void Lines();

    FILE* const out_;
    const bool terminal_;
    const std::chrono::milliseconds interval_;
    const std::chrono::steady_clock::time_point start_;
    std::atomic<uint64_t> done_{0}, total_{0};
    std::mutex mutex_;  // the bar, and the line thread's wake-up
    std::chrono::steady_clock::time_point drawnAt_{};
    bool drawn_ = false;
    std::condition_variable wake_;
    bool stopped_ = false;
    std::thread lines_;
};
