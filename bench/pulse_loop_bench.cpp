// The program's sound loop on the PulseAudio backend alone, without the
// wave layer (so without its keeping capture and playback in step), for
// bench/pulse_loop.sh and bench/pulse_idle.sh:
//   pulse_loop_bench loop SECONDS   run the loop on the default devices
//   pulse_loop_bench idle           wake-ups with and without streams
#include "pulse_audio.h"

#include <dirent.h>
#include <stdio.h>
#include <sys/resource.h>
#include <unistd.h>
#include <stdlib.h>
#include <string.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
constexpr unsigned kRate = 11025;
constexpr size_t kBlock = 2048;

double Ms(Clock::duration d)
{
    return std::chrono::duration<double, std::milli>(d).count();
}

struct Stats {
    double min, median, max, mean, stddev;
};

Stats Summarize(std::vector<double> v)
{
    Stats s{};
    if (v.empty())
        return s;
    std::sort(v.begin(), v.end());
    s.min = v.front();
    s.max = v.back();
    s.median = v[v.size() / 2];
    double sum = 0, sq = 0;
    for (double x : v)
        sum += x, sq += x * x;
    s.mean = sum / v.size();
    s.stddev = std::sqrt(std::max(0.0, sq / v.size() - s.mean * s.mean));
    return s;
}

double CpuSeconds()
{
    rusage u;
    getrusage(RUSAGE_SELF, &u);
    return u.ru_utime.tv_sec + u.ru_stime.tv_sec + (u.ru_utime.tv_usec + u.ru_stime.tv_usec) / 1e6;
}

// Context switches of all of this process's threads but the calling one.
long OtherThreadsSwitches(int *threads)
{
    long total = 0;
    *threads = 0;
    char self[64];
    snprintf(self, sizeof self, "%ld", static_cast<long>(gettid()));
    DIR *dir = opendir("/proc/self/task");
    while (dirent *e = dir ? readdir(dir) : nullptr) {
        if (e->d_name[0] == '.' || !strcmp(e->d_name, self))
            continue;
        ++*threads;
        char path[300], line[256];
        snprintf(path, sizeof path, "/proc/self/task/%s/status", e->d_name);
        FILE *f = fopen(path, "r");
        while (f && fgets(line, sizeof line, f)) {
            long n;
            if (sscanf(line, "voluntary_ctxt_switches: %ld", &n) == 1 ||
                sscanf(line, "nonvoluntary_ctxt_switches: %ld", &n) == 1)
                total += n;
        }
        if (f)
            fclose(f);
    }
    if (dir)
        closedir(dir);
    return total;
}

// The wave layer and the dialog, reduced to what the loop needs: headers
// queued on each device, done notifications handled one at a time on a
// "dialog" thread.
class Loop : public port::CaptureSink, public port::PlaybackSource {
public:
    struct Block {
        uint8_t data[kBlock];
        int source = -1;  // which capture block it holds
    };

    void Captured(const uint8_t *data, size_t bytes) override
    {
        std::lock_guard<std::mutex> g(mutex_);
        while (bytes > 0) {
            if (capture_queue_.empty()) {
                overrun_bytes_ += bytes;
                return;
            }
            Block *b = capture_queue_.front();
            size_t n = std::min(bytes, kBlock - capture_fill_);
            memcpy(b->data + capture_fill_, data, n);
            capture_fill_ += n, data += n, bytes -= n;
            if (capture_fill_ == kBlock) {
                capture_queue_.pop_front();
                capture_fill_ = 0;
                events_.push_back({true, b, Clock::now()});
                cv_.notify_one();
            }
        }
    }
    size_t Take(uint8_t *out, size_t bytes) override
    {
        std::lock_guard<std::mutex> g(mutex_);
        size_t done = 0;
        while (done < bytes && taken_blocks_ < play_queue_.size()) {
            Block *b = play_queue_[taken_blocks_];
            size_t n = std::min(bytes - done, kBlock - take_offset_);
            memcpy(out + done, b->data + take_offset_, n);
            done += n, take_offset_ += n;
            if (take_offset_ == kBlock)
                taken_blocks_++, take_offset_ = 0;
        }
        if (done < bytes && started_)
            dry_takes_++;
        return done;
    }
    void Played(uint64_t bytes) override
    {
        std::lock_guard<std::mutex> g(mutex_);
        while (!play_queue_.empty() && bytes >= played_base_ + kBlock) {
            played_base_ += kBlock;
            events_.push_back({false, play_queue_.front(), Clock::now()});
            play_queue_.pop_front();
            taken_blocks_--;
            cv_.notify_one();
        }
    }

    int Run(double seconds);

private:
    struct Event {
        bool capture;
        Block *block;
        Clock::time_point at;
    };
    void Dialog(Clock::time_point end);

    std::mutex mutex_;
    std::condition_variable cv_;
    std::deque<Event> events_;
    std::deque<Block *> capture_queue_;
    size_t capture_fill_ = 0;
    std::deque<Block *> play_queue_;
    size_t taken_blocks_ = 0, take_offset_ = 0;
    uint64_t played_base_ = 0;
    size_t overrun_bytes_ = 0;
    int dry_takes_ = 0;
    bool started_ = false;

    Block capture_[2], play_[2], latest_;
    int captured_count_ = 0;
    Clock::time_point last_capture_;
    std::vector<double> capture_intervals_, phases_;
    std::vector<int> refills_;  // which capture block each refill carried
};

void Loop::Dialog(Clock::time_point end)
{
    std::unique_lock<std::mutex> lock(mutex_);
    while (Clock::now() < end) {
        if (events_.empty()) {
            cv_.wait_until(lock, end);
            continue;
        }
        Event e = events_.front();
        events_.pop_front();
        if (e.capture) {
            memcpy(latest_.data, e.block->data, kBlock);
            latest_.source = captured_count_++;
            if (captured_count_ > 1)
                capture_intervals_.push_back(Ms(e.at - last_capture_));
            last_capture_ = e.at;
            capture_queue_.push_back(e.block);
        } else {
            if (latest_.source >= 0) {
                phases_.push_back(Ms(e.at - last_capture_));
                refills_.push_back(latest_.source);
            }
            memcpy(e.block->data, latest_.data, kBlock);
            play_queue_.push_back(e.block);
        }
    }
}

int Loop::Run(double seconds)
{
    WAVEFORMATEX f{};
    f.wFormatTag = WAVE_FORMAT_PCM;
    f.nChannels = 1;
    f.nSamplesPerSec = kRate;
    f.nAvgBytesPerSec = kRate;
    f.nBlockAlign = 1;
    f.wBitsPerSample = 8;
    port::PulseAudioBackend backend;
    std::unique_ptr<port::AudioStream> in, out;
    auto t = Clock::now();
    MMRESULT r1 = backend.OpenCapture(f, this, &in);
    MMRESULT r2 = backend.OpenPlayback(f, this, &out);
    if (r1 || r2) {
        fprintf(stderr, "open failed: %u %u\n", r1, r2);
        return 1;
    }
    printf("open both: %.1f ms\n", Ms(Clock::now() - t));
    memset(latest_.data, 0x80, kBlock);
    {
        std::lock_guard<std::mutex> g(mutex_);
        capture_queue_ = {&capture_[0], &capture_[1]};
        for (Block &b : play_)
            memset(b.data, 0x80, kBlock), play_queue_.push_back(&b);
        started_ = true;
    }
    in->Start();
    out->Start();
    double cpu = CpuSeconds();
    Dialog(Clock::now() + std::chrono::milliseconds(static_cast<long>(seconds * 1000)));
    cpu = CpuSeconds() - cpu;
    t = Clock::now();
    in->Stop();
    out->Stop();
    in.reset();
    out.reset();
    printf("stop and close both: %.2f ms\n", Ms(Clock::now() - t));

    int repeated = 0, dropped = 0;
    for (size_t i = 1; i < refills_.size(); ++i) {
        repeated += refills_[i] == refills_[i - 1];
        dropped += std::max(0, refills_[i] - refills_[i - 1] - 1);
    }
    Stats ci = Summarize(capture_intervals_), ph = Summarize(phases_);
    printf("capture blocks: %d, interval mean %.2f ms (nominal %.2f), sd %.2f, min %.2f, max %.2f\n",
           captured_count_, ci.mean, kBlock * 1000.0 / kRate, ci.stddev, ci.min, ci.max);
    printf("playback done after the latest capture: median %.1f ms, min %.1f, max %.1f (block %.1f)\n",
           ph.median, ph.min, ph.max, kBlock * 1000.0 / kRate);
    printf("refills: %zu, same block again: %d, blocks skipped: %d\n", refills_.size(), repeated, dropped);
    printf("capture bytes with no block queued: %zu, takes that ran dry: %d\n", overrun_bytes_, dry_takes_);
    printf("CPU while running: %.2f%% of one core\n", cpu / seconds * 100);
    return 0;
}

struct Quiet : port::CaptureSink, port::PlaybackSource {
    void Captured(const uint8_t *, size_t) override {}
    size_t Take(uint8_t *out, size_t bytes) override { return memset(out, 0x80, bytes), bytes; }
    void Played(uint64_t) override {}
};

int Idle()
{
    WAVEFORMATEX f{WAVE_FORMAT_PCM, 1, kRate, kRate, 1, 8, 0};
    port::PulseAudioBackend backend;
    Quiet quiet;
    auto measure = [](const char *what) {
        int threads;
        long before = OtherThreadsSwitches(&threads);
        std::this_thread::sleep_for(std::chrono::seconds(3));
        long after = OtherThreadsSwitches(&threads);
        printf("%s: %d other threads, %.1f wake-ups/s\n", what, threads, (after - before) / 3.0);
    };
    measure("backend made, nothing opened");
    {
        std::unique_ptr<port::AudioStream> in, out;
        if (backend.OpenCapture(f, &quiet, &in) || backend.OpenPlayback(f, &quiet, &out))
            return fprintf(stderr, "open failed\n"), 1;
        measure("both open, not started");
        in->Start();
        out->Start();
        measure("both running");
        in->Stop();
        out->Stop();
        measure("both stopped, still open");
    }
    measure("both closed");
    return 0;
}

}  // namespace

int main(int argc, char **argv)
{
    if (argc == 3 && !strcmp(argv[1], "loop"))
        return Loop().Run(atof(argv[2]));
    if (argc == 2 && !strcmp(argv[1], "idle"))
        return Idle();
    fprintf(stderr, "usage: %s loop SECONDS | idle\n", argv[0]);
    return 2;
}
