// The sound card through PortAudio: the default input and output devices,
// any PCM rate the host takes, 1 or 2 channels, 8 or 16 bits. The card's
// callbacks fill and drain the device's queue under its lock; the device
// thread makes the application's callbacks.
#include <alsa/asoundlib.h>
#include <dlfcn.h>
#include <portaudio.h>
#include <cstdio>
#include <cstring>
#include <vector>
#include "platform/sound/backends.h"

namespace {

bool started = false;
std::vector<PaDeviceIndex> input_devices;    // our device numbers -> PortAudio's
std::vector<PaDeviceIndex> output_devices;

// ALSA and JACK print pages of probing noise on stderr while PortAudio looks
// for devices; none of it concerns the user.
void alsa_quiet(const char*, int, const char*, int, const char*, ...) {}
void jack_quiet(const char*) {}

void silence_libraries()
{
    snd_lib_error_set_handler(alsa_quiet);
    // JACK comes in with PortAudio (or not at all); look its setters up
    // rather than link it ourselves.
    using jack_setter = void (*)(void (*)(const char*));
    for (const char* name : {"jack_set_error_function", "jack_set_info_function"})
        if (auto set = reinterpret_cast<jack_setter>(dlsym(RTLD_DEFAULT, name)))
            set(jack_quiet);
}

unsigned map_error(PaError e)
{
    switch (e) {
    case paNoError: return MMSYSERR_NOERROR;
    case paInvalidChannelCount:
    case paInvalidSampleRate:
    case paSampleFormatNotSupported:
    case paIncompatibleHostApiSpecificStreamInfo:
        return WAVERR_BADFORMAT;
    case paInsufficientMemory: return MMSYSERR_NOMEM;
    case paDeviceUnavailable: return MMSYSERR_ALLOCATED;
    case paInvalidDevice:
    case paNoDevice:
        return MMSYSERR_BADDEVICEID;
    case paNotInitialized: return MMSYSERR_NODRIVER;
    default: return MMSYSERR_ERROR;
    }
}

PaSampleFormat sample_format(const wave_format& f) { return f.bits_per_sample == 8 ? paUInt8 : paInt16; }

class pa_engine : public device_engine {
public:
    explicit pa_engine(sound_device* d) : d_(d) {}
    ~pa_engine() override { close(); }

    unsigned open(PaDeviceIndex index)
    {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(index);
        if (!info)
            return MMSYSERR_BADDEVICEID;
        PaStreamParameters p = {};
        p.device = index;
        p.channelCount = d_->format.channels;
        p.sampleFormat = sample_format(d_->format);
        // The generous latency keeps a busy machine from losing input.
        p.suggestedLatency = d_->input ? info->defaultHighInputLatency : info->defaultHighOutputLatency;
        const PaStreamParameters* in = d_->input ? &p : nullptr;
        const PaStreamParameters* out = d_->input ? nullptr : &p;
        PaError e = Pa_IsFormatSupported(in, out, d_->format.samples_per_sec);
        if (e != paFormatIsSupported)
            return map_error(e) == MMSYSERR_ERROR ? WAVERR_BADFORMAT : map_error(e);
        e = Pa_OpenStream(&stream_, in, out, d_->format.samples_per_sec, paFramesPerBufferUnspecified, paClipOff,
                          d_->input ? input_callback : output_callback, this);
        if (e != paNoError) {
            stream_ = nullptr;
            return map_error(e);
        }
        // Output plays from the open on: silence until it is given buffers.
        if (!d_->input) {
            e = Pa_StartStream(stream_);
            if (e != paNoError)
                return map_error(e);
            active_ = true;
        }
        return MMSYSERR_NOERROR;
    }

    unsigned start() override
    {
        if (active_)
            return MMSYSERR_NOERROR;
        PaError e = Pa_StartStream(stream_);
        if (e != paNoError)
            return map_error(e);
        active_ = true;
        return MMSYSERR_NOERROR;
    }

    void stop() override
    {
        if (active_)
            Pa_StopStream(stream_);
        active_ = false;
    }

    void close() override
    {
        stop();
        if (stream_)
            Pa_CloseStream(stream_);
        stream_ = nullptr;
    }

private:
    static int input_callback(const void* input, void*, unsigned long frames, const PaStreamCallbackTimeInfo*,
                              PaStreamCallbackFlags status, void* user)
    {
        auto* self = static_cast<pa_engine*>(user);
        if (status & paInputOverflow)
            sound_count_overflow();
        std::lock_guard<std::mutex> held(self->d_->lock);
        if (self->d_->running && input)
            input_deliver(self->d_, static_cast<const uint8_t*>(input), uint32_t(frames * self->d_->format.block_align));
        return paContinue;
    }

    static int output_callback(const void*, void* output, unsigned long frames, const PaStreamCallbackTimeInfo*,
                               PaStreamCallbackFlags, void* user)
    {
        auto* self = static_cast<pa_engine*>(user);
        uint8_t* out = static_cast<uint8_t*>(output);
        uint32_t bytes = uint32_t(frames * self->d_->format.block_align);
        uint32_t n = 0;
        {
            std::lock_guard<std::mutex> held(self->d_->lock);
            if (self->d_->running)
                n = output_take(self->d_, out, bytes);
        }
        // Paused or starved: silence (8-bit PCM is silent at its middle value).
        std::memset(out + n, self->d_->format.bits_per_sample == 8 ? 0x80 : 0, bytes - n);
        return paContinue;
    }

    sound_device* d_;
    PaStream* stream_ = nullptr;
    bool active_ = false;
};

}  // namespace

int pa_begin()
{
    pa_finish();
    silence_libraries();
    if (Pa_Initialize() != paNoError)
        return -1;
    started = true;
    int count = Pa_GetDeviceCount();
    for (PaDeviceIndex i = 0; i < count; ++i) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(i);
        if (!info)
            continue;
        if (info->maxInputChannels > 0)
            input_devices.push_back(i);
        if (info->maxOutputChannels > 0)
            output_devices.push_back(i);
    }
    return 0;
}

void pa_finish()
{
    if (started)
        Pa_Terminate();
    started = false;
    input_devices.clear();
    output_devices.clear();
}

unsigned pa_input_count() { return unsigned(input_devices.size()); }
unsigned pa_output_count() { return unsigned(output_devices.size()); }

unsigned pa_input_caps(unsigned id, wave_in_caps* caps)
{
    if (id >= input_devices.size())
        return MMSYSERR_BADDEVICEID;
    const PaDeviceInfo* info = Pa_GetDeviceInfo(input_devices[id]);
    if (!info)
        return MMSYSERR_BADDEVICEID;
    caps->manufacturer_id = 0xFFFF;
    caps->driver_version = uint32_t(Pa_GetVersion());
    // Cut the name to fit without splitting a UTF-8 character.
    size_t n = std::strlen(info->name);
    if (n > sizeof caps->name - 1) {
        n = sizeof caps->name - 1;
        while (n > 0 && (uint8_t(info->name[n]) & 0xC0) == 0x80)
            --n;
    }
    std::memcpy(caps->name, info->name, n);
    caps->name[n] = '\0';
    caps->formats = 0x00000FFF;
    caps->channels = info->maxInputChannels >= 2 ? 2 : 1;
    return MMSYSERR_NOERROR;
}

unsigned pa_open(sound_device* d, unsigned id, bool query)
{
    const std::vector<PaDeviceIndex>& list = d->input ? input_devices : output_devices;
    if (list.empty())
        return MMSYSERR_NODRIVER;
    PaDeviceIndex index;
    if (id == WAVE_MAPPER) {
        index = d->input ? Pa_GetDefaultInputDevice() : Pa_GetDefaultOutputDevice();
        if (index == paNoDevice)
            index = list.front();
    } else if (id < list.size()) {
        index = list[id];
    } else {
        return MMSYSERR_BADDEVICEID;
    }
    if (query) {
        const PaDeviceInfo* info = Pa_GetDeviceInfo(index);
        if (!info)
            return MMSYSERR_BADDEVICEID;
        PaStreamParameters p = {index, d->format.channels, sample_format(d->format), info->defaultHighInputLatency, nullptr};
        PaError e = d->input ? Pa_IsFormatSupported(&p, nullptr, d->format.samples_per_sec)
                             : Pa_IsFormatSupported(nullptr, &p, d->format.samples_per_sec);
        return e == paFormatIsSupported ? MMSYSERR_NOERROR : WAVERR_BADFORMAT;
    }
    auto engine = std::make_unique<pa_engine>(d);
    if (unsigned e = engine->open(index))
        return e;
    d->engine = std::move(engine);
    return MMSYSERR_NOERROR;
}
