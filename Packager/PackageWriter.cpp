#include "PackageWriter.h"

#include <zlib.h>

#include <condition_variable>
#include <cstring>
#include <deque>
#include <exception>
#include <memory>
#include <mutex>
#include <thread>

#include "FileDataClasses.h"
#include "SetupFn.h"
#include "ZoCodec.h"
#include "ZoSysUtils.h"

namespace {

constexpr size_t kWindow = size_t(1) << ZoCodec::kWindowBits;  // 32 KiB

struct TJob {
    TBytes input;
    TBytes dictionary;  // the previous chunk's last 32 KiB: matches may reach back into it
    bool first = false, last = false;
    size_t file = 0;
    // Filled by a worker.
    TBytes output;
    uLong adler = 1;
    uint64_t plainSize = 0;
    bool done = false;
    std::exception_ptr error;
};

// One piece of an image, ending on a byte boundary so that pieces join into one
// stream. A file that fits one chunk gets exactly the codec's one-call stream.
void Compress(TJob& job)
{
    job.output = ZoCodec::DeflatePiece(job.input, job.dictionary, job.last);
    job.adler = adler32(1, job.input.data(), static_cast<uInt>(job.input.size()));
    job.plainSize = job.input.size();
    TBytes().swap(job.input);
    TBytes().swap(job.dictionary);
}

class TWorkers {
public:
    explicit TWorkers(unsigned count)
    {
        for (unsigned i = 0; i < count; ++i) threads_.emplace_back([this] { Run(); });
    }
    ~TWorkers()
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            stop_ = true;
            todo_.clear();
        }
        workCv_.notify_all();
        for (auto& t : threads_) t.join();
    }
    TWorkers(const TWorkers&) = delete;
    TWorkers& operator=(const TWorkers&) = delete;

    void Submit(const std::shared_ptr<TJob>& job)
    {
        {
            std::lock_guard<std::mutex> lock(mutex_);
            todo_.push_back(job);
        }
        workCv_.notify_one();
    }
    void Wait(const TJob& job)
    {
        std::unique_lock<std::mutex> lock(mutex_);
        doneCv_.wait(lock, [&] { return job.done; });
    }

private:
    void Run()
    {
        for (;;) {
            std::shared_ptr<TJob> job;
            {
                std::unique_lock<std::mutex> lock(mutex_);
                workCv_.wait(lock, [&] { return stop_ || !todo_.empty(); });
                if (stop_) return;
                job = std::move(todo_.front());
                todo_.pop_front();
            }
            try {
                Compress(*job);
            } catch (...) {
                job->error = std::current_exception();
            }
            {
                std::lock_guard<std::mutex> lock(mutex_);
                job->done = true;
            }
            doneCv_.notify_all();
        }
    }

    std::mutex mutex_;
    std::condition_variable workCv_, doneCv_;
    std::deque<std::shared_ptr<TJob>> todo_;
    bool stop_ = false;
    std::vector<std::thread> threads_;
};

// Reads the files in order, one chunk at a time.
class TChunkReader {
public:
    TChunkReader(const std::vector<TPackInput>& files, size_t chunk) : files_(files), chunk_(chunk) { Skip(); }
    bool More() const { return file_ < files_.size(); }

    std::shared_ptr<TJob> Next()
    {
        const TPackInput& in = files_[file_];
        if (!stream_) {
            stream_ = std::make_unique<TFileStream>(in.FileName, TFileStream::fmOpenRead);
            done_ = 0;
            tail_.clear();
        }
        auto job = std::make_shared<TJob>();
        job->file = file_;
        job->first = done_ == 0;
        size_t n = static_cast<size_t>(std::min<uint64_t>(chunk_, in.Size - done_));
        job->input.resize(n);
        if (stream_->Read(job->input.data(), n) != n) Changed(in);
        done_ += n;
        job->last = done_ == in.Size;
        job->dictionary = std::move(tail_);
        if (job->last) {
            uint8_t extra;
            if (stream_->Read(&extra, 1) != 0) Changed(in);
            stream_.reset();
            ++file_;
            Skip();
        } else {
            size_t keep = std::min(kWindow, n);
            tail_.assign(job->input.end() - static_cast<ptrdiff_t>(keep), job->input.end());
        }
        return job;
    }

private:
    void Skip()
    {
        while (file_ < files_.size() && files_[file_].Size == 0) ++file_;
    }
    [[noreturn]] static void Changed(const TPackInput& in)
    {
        throw EInOutError(FormatText(u"File \"%s\" changed while the installer was being built.", {in.FileName}));
    }

    const std::vector<TPackInput>& files_;
    size_t chunk_;
    size_t file_ = 0;
    uint64_t done_ = 0;
    std::unique_ptr<TFileStream> stream_;
    TBytes tail_;
};

// Writes scrambled bytes of the block and keeps its length within bounds.
class TBlockOutput {
public:
    TBlockOutput(TStream& out, uint64_t limit) : out_(out), limit_(limit) {}
    uint64_t Length() const { return length_; }
    void BeginImage() { imageBytes_ = 0; }
    // Scrambled with the key counting from the image's first byte.
    void Image(uint8_t* bytes, size_t size)
    {
        ZoCodec::Scramble(bytes, size, imageBytes_);
        imageBytes_ += size;
        Raw(bytes, size);
    }
    void Raw(const uint8_t* data, size_t size)
    {
        if (length_ + size + 4 > limit_)
            throw EPackageError(u"The package block would reach 2 GiB: its offsets are 32-bit. Make the package smaller.");
        out_.WriteBuffer(data, size);
        length_ += size;
    }

private:
    TStream& out_;
    uint64_t limit_;
    uint64_t length_ = 0;
    uint64_t imageBytes_ = 0;
};

}  // namespace

TPackageBlockWriter::TPackageBlockWriter(unsigned threads, size_t chunk, uint64_t limit)
    : threads_(threads ? threads : 1), chunk_(chunk < kWindow ? kWindow : chunk), limit_(limit)
{
}

TPackTotals TPackageBlockWriter::Write(const std::vector<TPackInput>& files, TStream& out,
                                       const std::function<void(uint64_t)>& progress) const
{
    TPackTotals totals;
    TFileDataList index;
    TBlockOutput block(out, limit_);
    TChunkReader reader(files, chunk_);
    std::deque<std::shared_ptr<TJob>> inFlight;
    const size_t maxInFlight = size_t(threads_) * 3 + 1;
    uLong adler = 1;
    uint64_t imageStart = 0, plainDone = 0;
    {
        TWorkers workers(threads_);
        for (;;) {
            while (inFlight.size() < maxInFlight && reader.More()) {
                inFlight.push_back(reader.Next());
                workers.Submit(inFlight.back());
            }
            if (inFlight.empty()) break;
            std::shared_ptr<TJob> job = std::move(inFlight.front());
            inFlight.pop_front();
            workers.Wait(*job);
            if (job->error) std::rethrow_exception(job->error);

            if (job->first) {
                imageStart = block.Length();
                adler = 1;
                block.BeginImage();
                uint8_t header[2] = {ZoCodec::kZlibHeader[0], ZoCodec::kZlibHeader[1]};
                block.Image(header, sizeof header);
            }
            adler = adler32_combine(adler, job->adler, static_cast<z_off_t>(job->plainSize));
            block.Image(job->output.data(), job->output.size());
            plainDone += job->plainSize;
            if (job->last) {
                auto trailer = ZoCodec::Adler32Trailer(static_cast<uint32_t>(adler));
                block.Image(trailer.data(), trailer.size());
                TFileData* record = index.Add();
                record->GUID = files[job->file].GUID;
                record->Offset = static_cast<int32_t>(imageStart);
                record->Bytes = static_cast<int32_t>(block.Length() - imageStart);
                ++totals.Files;
            }
            if (progress) progress(plainDone);
        }
    }
    TMemoryStream encoded;
    index.SaveToStream(encoded);
    TSetupfn::EncodeStream(&encoded);
    block.Raw(encoded.Memory(), encoded.Bytes().size());
    const uint32_t n = static_cast<uint32_t>(encoded.Bytes().size());
    const uint8_t trailer[4] = {uint8_t(n), uint8_t(n >> 8), uint8_t(n >> 16), uint8_t(n >> 24)};
    out.WriteBuffer(trailer, 4);
    totals.BytesIn = plainDone;
    totals.BlockSize = block.Length() + 4;
    return totals;
}
