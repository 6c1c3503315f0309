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

private:
    // Delivers the samples heard over [from, from + chunk) when they are all in.
    void Schedule(Ticks from, std::weak_ptr<int> run)
    {
        audio_.clock_.At(from + audio_.chunk + audio_.captureLatency, [this, from, run] {
            if (run.expired()) return;
            std::vector<uint8_t> samples(audio_.chunk);
            for (Ticks i = 0; i < audio_.chunk; i++) samples[i] = audio_.signal(from + i);
            Schedule(from + audio_.chunk, run);
            sink_->Captured(samples.data(), samples.size());
        });
    }

    SimAudio &audio_;
    CaptureSink *sink_;
    RunToken run_;
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
        Schedule(audio_.clock_.Now(), run_);
    }
    void Stop() override { run_.reset(); }

private:
    // At each chunk boundary, what was taken before has been played; the
    // next chunk is taken and goes on the tape.
    void Schedule(Ticks at, std::weak_ptr<int> run)
    {
        audio_.clock_.At(at, [this, at, run] {
            if (run.expired()) return;
            source_->Played(taken_);
            if (run.expired()) return;
            std::vector<uint8_t> samples(audio_.chunk, 0x80);
            size_t n = source_->Take(samples.data(), samples.size());
            if (n < samples.size()) audio_.underruns++;
            taken_ += n;
            if ((Ticks)audio_.tape.size() < at + audio_.chunk) audio_.tape.resize(at + audio_.chunk, -1);
            for (Ticks i = 0; i < audio_.chunk; i++) audio_.tape[at + i] = samples[i];
            Schedule(at + audio_.chunk, run);
        });
    }

    SimAudio &audio_;
    PlaybackSource *source_;
    RunToken run_;
    uint64_t taken_ = 0;
};

MMRESULT SimAudio::OpenCapture(const WAVEFORMATEX &, CaptureSink *sink, std::unique_ptr<AudioStream> *stream)
{
    captureOpens++;
    if (captureOpenResult != MMSYSERR_NOERROR) return captureOpenResult;
    *stream = std::make_unique<SimCapture>(*this, sink);
    return MMSYSERR_NOERROR;
}

MMRESULT SimAudio::OpenPlayback(const WAVEFORMATEX &, PlaybackSource *source,
                                std::unique_ptr<AudioStream> *stream)
{
    playbackOpens++;
    if (playbackOpenResult != MMSYSERR_NOERROR) return playbackOpenResult;
    *stream = std::make_unique<SimPlayback>(*this, source);
    return MMSYSERR_NOERROR;
}

}  // namespace port::sim

