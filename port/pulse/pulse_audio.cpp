// Opening streams on the sound server: the shared connection, and opens
// that give up rather than hang. The wave calls have checked the format.
#include "pulse_audio.h"

#include <pulse/rtclock.h>

#include "capture_stream.h"
#include "playback_stream.h"
#include "pulse_connection.h"

namespace port {

namespace {

// An open answers within this, whether the server answers or not: a stopped
// server would otherwise keep a client waiting for 30 s.
constexpr pa_usec_t kOpenTimeout = 3 * PA_USEC_PER_SEC;

// Either direction: the shared connection, made if there is none, and the
// stream's open.
template <typename Stream, typename Client>
MMRESULT Open(std::weak_ptr<pulse::Connection> *shared, Client *client, std::unique_ptr<AudioStream> *stream)
{
    const pa_usec_t deadline = pa_rtclock_now() + kOpenTimeout;
    std::shared_ptr<pulse::Connection> connection = shared->lock();
    if (!connection)
        connection = std::make_shared<pulse::Connection>();
    MMRESULT result = connection->Connect(deadline);
    if (result != MMSYSERR_NOERROR)
        return result;
    *shared = connection;
    auto opened = std::make_unique<Stream>(std::move(connection), client);
    result = opened->Open(deadline);
    if (result == MMSYSERR_NOERROR)
        *stream = std::move(opened);
    return result;
}

}  // namespace

MMRESULT PulseAudioBackend::OpenCapture(const WAVEFORMATEX &, CaptureSink *sink,
                                        std::unique_ptr<AudioStream> *stream)
{
    return Open<pulse::CaptureStream>(&connection_, sink, stream);
}

MMRESULT PulseAudioBackend::OpenPlayback(const WAVEFORMATEX &, PlaybackSource *source,
                                         std::unique_ptr<AudioStream> *stream)
{
    return Open<pulse::PlaybackStream>(&connection_, source, stream);
}

}  // namespace port
