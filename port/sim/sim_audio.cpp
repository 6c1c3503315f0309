// Simulated sound devices.
#include "sim_audio.h"

namespace port::sim {

namespace {

// Each run of a stream (Start to Stop) has its own token; events of an
// earlier run, or of a closed stream, find theirs expired and do nothing.
using RunToken = std::shared_ptr<int>;

}  // namespace

class SimCapture : public AudioStream {
public:
    SimCapture(SimAudio &audio, CaptureSink *sink) : audio_(audio), sink_(sink) { audio_.streamsOpen++; }
    ~SimCapture() override { audio_.streamsOpen--; }

    void Start() override
    {
        run_ = std::make_shared<int>(0);
        Schedule(audio_.clock_.Now(), run_);
    }
    void Stop() override { run_.reset(); }
    void Queued() override {}

private:
    // Delivers the samples heard over [from, from + n) when they are all in,
    // or later by the jitter; the next chunk is scheduled first, so
    // deliveries stay in order.
    void Schedule(Ticks from, std::weak_ptr<int> run)
    {
        Ticks n = audio_.NextChunk();
        Ticks late = audio_.captureLatency + audio_.Random(audio_.captureJitter + 1);
        audio_.clock_.At(from + n + late, [this, from, n, run] {
            if (run.expired())
                return;
            std::vector<uint8_t> samples(n);
            for (Ticks i = 0; i < n; i++)
                samples[i] = audio_.signal(from + i);
            Schedule(from + n, run);
            // As the server's stream does, a gap is told as silence once sound comes again.
            if (from >= audio_.captureSilentFrom && from < audio_.captureSilentTo) {
                gap_ += n;
                return;
            }
            samples.insert(samples.begin(), gap_, 0x80);
            gap_ = 0;
            audio_.Callback([&] { sink_->Captured(samples.data(), samples.size()); });
        });
    }

    SimAudio &audio_;
    CaptureSink *sink_;
    RunToken run_;
    Ticks gap_ = 0;  // samples the source did not send
};

class SimPlayback : public AudioStream {
public:
    SimPlayback(SimAudio &audio, PlaybackSource *source) : audio_(audio), source_(source)
    {
        audio_.streamsOpen++;
    }
    ~SimPlayback() override { audio_.streamsOpen--; }

    void Start() override
    {
        run_ = std::make_shared<int>(0);
        taken_ = 0;
        reportAt_ = 0;
        Schedule(audio_.clock_.Now(), run_);
    }
    void Stop() override { run_.reset(); }
    void Queued() override {}

private:
    // At each chunk boundary, what was taken before has been played; the
    // next chunk is taken and goes on the tape. With jitter the report of
    // what was played comes later, though never out of order.
    void Schedule(Ticks at, std::weak_ptr<int> run)
    {
        audio_.clock_.At(at, [this, at, run] {
            if (run.expired())
                return;
            ReportPlayed(run);
            if (run.expired())
                return;
            Ticks n = audio_.NextChunk();
            std::vector<uint8_t> samples(n, 0x80);
            size_t got = 0;
            audio_.Callback([&] { got = source_->Take(samples.data(), samples.size()); });
            if (got < samples.size())
                audio_.underruns++;
            taken_ += got;
            if ((Ticks)audio_.tape.size() < at + n)
                audio_.tape.resize(at + n, -1);
            for (Ticks i = 0; i < n; i++)
                audio_.tape[at + i] = samples[i];
            Schedule(at + n, run);
        });
    }

    void ReportPlayed(std::weak_ptr<int> run)
    {
        uint64_t played = taken_;
        if (audio_.playedJitter == 0) {
            audio_.Callback([&] { source_->Played(played); });
            return;
        }
        Ticks when = audio_.clock_.Now() + audio_.Random(audio_.playedJitter + 1);
        if (when < reportAt_)
            when = reportAt_;
        reportAt_ = when;
        audio_.clock_.At(when, [this, played, run] {
            if (!run.expired())
                audio_.Callback([&] { source_->Played(played); });
        });
    }

    SimAudio &audio_;
    PlaybackSource *source_;
    RunToken run_;
    uint64_t taken_ = 0;
    Ticks reportAt_ = 0;
};

// splitmix64 over the draws so far: the same seed gives the same run.
Ticks SimAudio::Random(Ticks below)
{
    if (below <= 1)
        return 0;
    uint64_t z = seed + ++draws_ * 0x9E3779B97F4A7C15ull;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    z ^= z >> 31;
    return (Ticks)(z % (uint64_t)below);
}

Ticks SimAudio::NextChunk()
{
    if (chunkMin <= 0 || chunkMin >= chunk)
        return chunk;
    return chunkMin + Random(chunk - chunkMin + 1);
}

MMRESULT SimAudio::OpenCapture(const WAVEFORMATEX &, CaptureSink *sink, std::unique_ptr<AudioStream> *stream)
{
    captureOpens++;
    if (captureOpenResult != MMSYSERR_NOERROR)
        return captureOpenResult;
    *stream = std::make_unique<SimCapture>(*this, sink);
    return MMSYSERR_NOERROR;
}

MMRESULT SimAudio::OpenPlayback(const WAVEFORMATEX &, PlaybackSource *source,
                                std::unique_ptr<AudioStream> *stream)
{
    playbackOpens++;
    if (playbackOpenResult != MMSYSERR_NOERROR)
        return playbackOpenResult;
    *stream = std::make_unique<SimPlayback>(*this, source);
    return MMSYSERR_NOERROR;
}

}  // namespace port::sim
