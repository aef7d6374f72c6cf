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
#include "ZoSysUtils.h"

namespace {

constexpr size_t kWindow = 32768;

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

// One piece of an image: raw deflate at level 9 ending on a byte boundary, so
// pieces join into one stream. A file that fits one chunk gets exactly the
// codec's one-call stream.
void Compress(TJob& job)
{
    z_stream z{};
    if (deflateInit2(&z, 9, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY) != Z_OK) throw ECompressionError(u"Error");
    struct End { z_stream* z; ~End() { deflateEnd(z); } } end{&z};
    if (!job.dictionary.empty() &&
        deflateSetDictionary(&z, job.dictionary.data(), static_cast<uInt>(job.dictionary.size())) != Z_OK)
        throw ECompressionError(u"Error");
    job.output.resize(deflateBound(&z, static_cast<uLong>(job.input.size())) + 64);
    z.next_in = job.input.data();
    z.avail_in = static_cast<uInt>(job.input.size());
    const int flush = job.last ? Z_FINISH : Z_SYNC_FLUSH;
    for (;;) {
        z.next_out = job.output.data() + z.total_out;
        z.avail_out = static_cast<uInt>(job.output.size() - z.total_out);
        int r = deflate(&z, flush);
        if (r == Z_STREAM_ERROR) throw ECompressionError(u"Error");
        if (job.last ? r == Z_STREAM_END : (z.avail_in == 0 && z.avail_out != 0)) break;
        job.output.resize(job.output.size() + 4096);
    }
    job.output.resize(z.total_out);
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
    void BeginImage() { key_ = 0; }
    void Image(TBytes& bytes)
    {
        for (auto& b : bytes) {
            b ^= key_;
            if (++key_ == 255) key_ = 0;
        }
        Raw(bytes.data(), bytes.size());
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
    uint8_t key_ = 0;
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
                TBytes header{0x78, 0xDA};  // deflate, 32 KiB window, maximum compression
                block.Image(header);
            }
            adler = adler32_combine(adler, job->adler, static_cast<z_off_t>(job->plainSize));
            block.Image(job->output);
            plainDone += job->plainSize;
            if (job->last) {
                TBytes trailer{uint8_t(adler >> 24), uint8_t(adler >> 16), uint8_t(adler >> 8), uint8_t(adler)};
                block.Image(trailer);
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
