// Event sounds on libcanberra's PulseAudio driver, after a bounded check
// that the server answers.
#include "canberra/canberra_sounds.h"

#include "identity.h"

#include <windows.h>

#include <canberra.h>
#include <pulse/pulseaudio.h>

namespace port {

namespace {

// How long MessageBeep waits for the server to answer: one that answers at
// all answers well within it, and the message box waits no longer.
constexpr pa_usec_t kAnswerWaitUs = 300 * PA_USEC_PER_MSEC;
// How often the dialog's thread looks whether the sound still plays.
constexpr guint kLookMs = 250;
// The one sound played at a time, by libcanberra's id for it.
constexpr uint32_t kSoundId = 1;

// Whether the sound server answers a connection within `waitUs`.
bool ServerAnswers(pa_usec_t waitUs)
{
    pa_mainloop *loop = pa_mainloop_new();
    pa_context *context = pa_context_new(pa_mainloop_get_api(loop), kProgramName);
    bool ready = false;
    if (context && pa_context_connect(context, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) >= 0) {
        const pa_usec_t end = pa_rtclock_now() + waitUs;
        for (;;) {
            const pa_context_state_t state = pa_context_get_state(context);
            ready = state == PA_CONTEXT_READY;
            const pa_usec_t now = pa_rtclock_now();
            if (ready || !PA_CONTEXT_IS_GOOD(state) || now >= end)
                break;
            if (pa_mainloop_prepare(loop, (int)(end - now)) < 0 || pa_mainloop_poll(loop) < 0 ||
                pa_mainloop_dispatch(loop) < 0)
                break;
        }
    }
    if (context) {
        pa_context_disconnect(context);
        pa_context_unref(context);
    }
    pa_mainloop_free(loop);
    return ready;
}

ca_context *OpenContext()
{
    ca_context *context = nullptr;
    if (ca_context_create(&context) != CA_SUCCESS)
        return nullptr;
    // Only the sound server: where there is none, the caller rings the bell.
    if (ca_context_set_driver(context, "pulse") != CA_SUCCESS ||
        ca_context_change_props(context, CA_PROP_APPLICATION_NAME, kProgramName, CA_PROP_APPLICATION_ID,
                                kProgramId, CA_PROP_APPLICATION_ICON_NAME, kProgramId,
                                nullptr) != CA_SUCCESS ||
        ca_context_open(context) != CA_SUCCESS) {
        ca_context_destroy(context);
        return nullptr;
    }
    return context;
}

}  // namespace

CanberraEventSounds::~CanberraEventSounds()
{
    Drop();
}

const char *CanberraEventSounds::EventId(unsigned type)
{
    // The program warns and asks nothing else.
    return (type & MB_ICONMASK) == MB_ICONEXCLAMATION ? "dialog-warning" : "bell";
}

bool CanberraEventSounds::Play(unsigned type)
{
    // A sound still playing goes on; its context takes the next one too.
    if (!context_ && ServerAnswers(kAnswerWaitUs))
        context_ = OpenContext();
    if (!context_)
        return false;
    ca_proplist *properties = nullptr;
    ca_proplist_create(&properties);
    ca_proplist_sets(properties, CA_PROP_EVENT_ID, EventId(type));
    ca_proplist_sets(properties, CA_PROP_EVENT_DESCRIPTION, "Warning");
    const bool plays = ca_context_play_full(context_, kSoundId, properties, nullptr, nullptr) == CA_SUCCESS;
    ca_proplist_destroy(properties);
    if (!plays) {
        // A context whose server went away stays useless.
        Drop();
        return false;
    }
    if (!look_) {
        look_ = g_timeout_source_new(kLookMs);
        g_source_set_callback(look_, LookAgain, this, nullptr);
        GMainContext *dialog = g_main_context_ref_thread_default();
        g_source_attach(look_, dialog);
        g_main_context_unref(dialog);
    }
    return true;
}

gboolean CanberraEventSounds::LookAgain(gpointer self)
{
    auto *sounds = static_cast<CanberraEventSounds *>(self);
    int playing = 0;
    if (ca_context_playing(sounds->context_, kSoundId, &playing) == CA_SUCCESS && playing)
        return G_SOURCE_CONTINUE;
    sounds->Drop();
    return G_SOURCE_REMOVE;
}

void CanberraEventSounds::Drop()
{
    if (look_) {
        g_source_destroy(look_);
        g_source_unref(look_);
        look_ = nullptr;
    }
    if (context_)
        ca_context_destroy(context_);
    context_ = nullptr;
}

}  // namespace port
