#include "BuildProgress.h"

std::string SizeText(uint64_t bytes)
{
    char buf[32];
    if (bytes >= 10ull << 20)
        std::snprintf(buf, sizeof buf, "%.1f MB", bytes / 1048576.0);
    else if (bytes >= 10ull << 10)
        std::snprintf(buf, sizeof buf, "%.1f KB", bytes / 1024.0);
    else
        std::snprintf(buf, sizeof buf, "%llu bytes", static_cast<unsigned long long>(bytes));
    return buf;
}

std::string CountText(uint64_t count, const char* one, const char* many)
{
    return std::to_string(count) + " " + (count == 1 ? one : many);
}

std::string DurationText(double seconds)
{
    char buf[32];
    if (seconds >= 60)
        std::snprintf(buf, sizeof buf, "%d min %02d s", static_cast<int>(seconds) / 60, static_cast<int>(seconds) % 60);
    else
        std::snprintf(buf, sizeof buf, "%d s", static_cast<int>(seconds + 0.5));
    return buf;
}

TBuildProgress::TBuildProgress(FILE* out, bool terminal, std::chrono::milliseconds interval)
    : out_(out), terminal_(terminal), interval_(interval), start_(std::chrono::steady_clock::now())
{
    if (!terminal_) lines_ = std::thread([this] { Lines(); });
}

TBuildProgress::~TBuildProgress() { Stop(); }

void TBuildProgress::Update(uint64_t done, uint64_t total)
{
    done_ = done;
    total_ = total;
    if (!terminal_) return;
    std::lock_guard<std::mutex> lock(mutex_);
    const auto now = std::chrono::steady_clock::now();
    if (done < total && now - drawnAt_ < std::chrono::milliseconds(100)) return;  // ten times a second at most
    drawnAt_ = now;
    const int width = 30;
    int filled = total ? static_cast<int>(width * done / total) : width;
    std::string bar(static_cast<size_t>(filled), '#');
    bar.resize(width, '.');
    std::fprintf(out_, "\r[%s] %s ", bar.c_str(), State().c_str());
    std::fflush(out_);
    drawn_ = true;
}

void TBuildProgress::Stop()
{
    {
        std::lock_guard<std::mutex> lock(mutex_);
        stopped_ = true;
        if (drawn_) std::fprintf(out_, "\r%100s\r", "");
        drawn_ = false;
    }
    wake_.notify_all();
    if (lines_.joinable()) lines_.join();
}

std::string TBuildProgress::State() const
{
    const uint64_t done = done_, total = total_;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
    char buf[64];
    std::snprintf(buf, sizeof buf, "%3d%%  ", total ? static_cast<int>(100 * done / total) : 100);
    std::string text = buf + SizeText(done) + " of " + SizeText(total);
    if (seconds > 0 && done > 0) {
        const double rate = done / seconds;
        std::snprintf(buf, sizeof buf, "  %.1f MB/s", rate / 1048576.0);
        text += buf;
        if (done < total) text += "  " + DurationText((total - done) / rate) + " left";
    }
    return text;
}

void TBuildProgress::Lines()
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (!wake_.wait_for(lock, interval_, [this] { return stopped_; })) {
        const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start_).count();
        if (total_ == 0)
            std::fprintf(out_, "zosetup-pack: reading the project and its files, %s\n", DurationText(seconds).c_str());
        else
            std::fprintf(out_, "zosetup-pack: compressing, %s, %s\n", State().c_str(), DurationText(seconds).c_str());
        std::fflush(out_);
    }
}
