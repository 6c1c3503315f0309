// Opening streams on the sound server: the format check, the shared
// connection, and opens that give up rather than hang.
#include "pulse_audio.h"

#include <pulse/rtclock.h>

#include "capture_stream.h"
#include "playback_stream.h"
#include "pulse_connection.h"
#include "winmm/winmm.h"

namespace port {

namespace {

// An open answers within this, whether the server answers or not: a stopped
// server would otherwise keep a client waiting for 30 s.
constexpr pa_usec_t kOpenTimeout = 3 * PA_USEC_PER_SEC;

}  // namespace

PulseAudioBackend::PulseAudioBackend() = default;
PulseAudioBackend::~PulseAudioBackend() = default;

MMRESULT PulseAudioBackend::OpenCapture(const WAVEFORMATEX &format, CaptureSink *sink,
                                        std::unique_ptr<AudioStream> *stream)
{
    return Open<pulse::CaptureStream>(format, sink, stream);
}

MMRESULT PulseAudioBackend::OpenPlayback(const WAVEFORMATEX &format, PlaybackSource *source,
                                         std::unique_ptr<AudioStream> *stream)
{
    return Open<pulse::PlaybackStream>(format, source, stream);
}

template <typename Stream, typename Client>
MMRESULT PulseAudioBackend::Open(const WAVEFORMATEX &format, Client *client,
                                 std::unique_ptr<AudioStream> *stream)
{
    if (!client || !stream)
        return MMSYSERR_INVALPARAM;
    if (!SupportedFormat(format))
        return WAVERR_BADFORMAT;
    const pa_usec_t deadline = pa_rtclock_now() + kOpenTimeout;
    std::shared_ptr<pulse::Connection> connection;
    MMRESULT result = Connection(deadline, &connection);
    if (result != MMSYSERR_NOERROR)
        return result;
    auto opened = std::make_unique<Stream>(std::move(connection), client);
    result = opened->Open(deadline);
    if (result == MMSYSERR_NOERROR)
        *stream = std::move(opened);
    return result;
}

MMRESULT PulseAudioBackend::Connection(uint64_t deadline, std::shared_ptr<pulse::Connection> *connection)
{
    std::shared_ptr<pulse::Connection> shared = connection_.lock();
    if (shared && !shared->Usable())
        shared.reset();
    if (!shared) {
        shared = std::make_shared<pulse::Connection>();
        MMRESULT result = shared->Connect(deadline);
        if (result != MMSYSERR_NOERROR)
            return result;
        connection_ = shared;
    }
    *connection = std::move(shared);
    return MMSYSERR_NOERROR;
}

}  // namespace port
