// The public routines of the sound service: back-end choice, handle and
// argument checks, the device operations both back ends share, result texts
// and the test hooks.
#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include "platform/sound/backends.h"
#include "platform/sound/device_core.h"
#include "platform/sound/sound.h"
#include "platform/system/system.h"

namespace {

constexpr uint32_t INPUT_MAGIC = 0x57496E21;    // "WIn!"
constexpr uint32_t OUTPUT_MAGIC = 0x574F7574;   // "WOut"
constexpr uint32_t CALLBACK_TYPE_MASK = 0x70000;

enum backend_kind { BACKEND_UNCHOSEN, BACKEND_PORTAUDIO, BACKEND_VIRTUAL };

struct injected_fault {
    bool armed = false;
    unsigned code = 0;
    int after = 0;
};

// Guards everything in this block; never held while a device lock is.
std::mutex state_lock;
backend_kind backend = BACKEND_UNCHOSEN;
std::vector<sound_device*> open_devices;
injected_fault faults[SOUND_CALL_COUNT];
unsigned virtual_input_count = 1;
unsigned virtual_output_count = 1;
bool demo_input = false;        // the demo record stands in for the input device
std::string source_error;

std::atomic<uint32_t> overflow_count{0};
std::atomic<sound_tap> tap_function{nullptr};
std::atomic<void*> tap_user{nullptr};

unsigned injected(sound_call call)
{
    std::lock_guard<std::mutex> held(state_lock);
    injected_fault& f = faults[call];
    if (!f.armed)
        return MMSYSERR_NOERROR;
    if (f.after > 0) {
        --f.after;
        return MMSYSERR_NOERROR;
    }
    f.armed = false;
    return f.code;
}

// The back end in use; PortAudio starts on first use unless one was chosen.
backend_kind current_backend()
{
    std::lock_guard<std::mutex> held(state_lock);
    if (backend == BACKEND_UNCHOSEN) {
        pa_begin();
        backend = BACKEND_PORTAUDIO;
    }
    return backend;
}

bool any_device_open()
{
    std::lock_guard<std::mutex> held(state_lock);
    return !open_devices.empty();
}

sound_device* find_device(const void* handle, uint32_t magic)
{
    if (!handle)
        return nullptr;
    std::lock_guard<std::mutex> held(state_lock);
    for (sound_device* d : open_devices)
        if (d == handle && d->magic == magic)
            return d;
    return nullptr;
}

void forget_device(sound_device* d)
{
    std::lock_guard<std::mutex> held(state_lock);
    open_devices.erase(std::remove(open_devices.begin(), open_devices.end(), d), open_devices.end());
}

unsigned check_pcm(const wave_format* f)
{
    if (f->format_tag != WAVE_FORMAT_PCM)
        return WAVERR_BADFORMAT;
    if (f->channels < 1 || f->channels > 2)
        return WAVERR_BADFORMAT;
    if (f->bits_per_sample != 8 && f->bits_per_sample != 16)
        return WAVERR_BADFORMAT;
    if (f->samples_per_sec < 1000 || f->samples_per_sec > 384000)
        return WAVERR_BADFORMAT;
    uint32_t frame = uint32_t(f->channels) * (f->bits_per_sample / 8);
    if (f->block_align != frame || f->avg_bytes_per_sec != frame * f->samples_per_sec)
        return WAVERR_BADFORMAT;
    return MMSYSERR_NOERROR;
}

// Whether a device of this direction is one of the virtual card's.
bool virtual_direction(bool input)
{
    if (input) {
        std::lock_guard<std::mutex> held(state_lock);
        if (demo_input)
            return true;
    }
    return current_backend() == BACKEND_VIRTUAL;
}

unsigned device_count(bool input)
{
    if (input) {
        std::lock_guard<std::mutex> held(state_lock);
        if (demo_input)
            return 1;
    }
    if (current_backend() == BACKEND_VIRTUAL) {
        std::lock_guard<std::mutex> held(state_lock);
        return input ? virtual_input_count : virtual_output_count;
    }
    return input ? pa_input_count() : pa_output_count();
}

// At exit the devices still open (a ring left running, as the program
// may leave it) stop quietly before the program's static objects go: no more
// callbacks, no thread left running over freed memory.
void quiet_devices_at_exit()
{
    std::vector<sound_device*> devices;
    {
        std::lock_guard<std::mutex> held(state_lock);
        devices = open_devices;
    }
    for (sound_device* d : devices) {
        {
            std::lock_guard<std::mutex> held(d->lock);
            d->running = false;
            d->quitting = true;
            d->done = header_queue();
        }
        d->wake.notify_all();
        d->engine->stop();
        if (d->thread.joinable())
            d->thread.join();
        d->engine->close();
    }
    std::lock_guard<std::mutex> held(state_lock);
    pa_finish();
}

template <class T>
unsigned open_device(T** out, bool input, unsigned id, const wave_format* format,
                     wave_callback callback, uintptr_t instance, uint32_t flags)
{
    if (unsigned e = injected(input ? SOUND_IN_OPEN : SOUND_OUT_OPEN))
        return e;
    bool query = flags & WAVE_FORMAT_QUERY;
    uint32_t callback_type = flags & CALLBACK_TYPE_MASK;
    if (!format || (!query && !out))
        return MMSYSERR_INVALPARAM;
    if (callback_type != CALLBACK_NULL && callback_type != CALLBACK_FUNCTION)
        return MMSYSERR_INVALFLAG;
    if (callback_type == CALLBACK_FUNCTION && !callback)
        return MMSYSERR_INVALPARAM;
    unsigned count = device_count(input);
    if (count == 0)
        return MMSYSERR_NODRIVER;
    if (id != WAVE_MAPPER && id >= count)
        return MMSYSERR_BADDEVICEID;
    if (unsigned e = check_pcm(format))
        return e;

    auto d = std::make_unique<T>();
    d->input = input;
    d->format = *format;
    d->callback = callback_type == CALLBACK_FUNCTION ? callback : nullptr;
    d->instance = instance;
    d->running = !input;   // output plays as soon as it is given buffers
    unsigned e = virtual_direction(input) ? virtual_open(d.get(), query) : pa_open(d.get(), id, query);
    if (e != MMSYSERR_NOERROR || query)
        return e;
    d->magic = input ? INPUT_MAGIC : OUTPUT_MAGIC;
    static const bool quiet_at_exit = std::atexit(quiet_devices_at_exit) == 0;
    (void)quiet_at_exit;
    {
        std::lock_guard<std::mutex> held(state_lock);
        open_devices.push_back(d.get());
    }
    T* device = d.release();
    *out = device;
    device_begin(device);
    return MMSYSERR_NOERROR;
}

unsigned prepare(sound_device* d, wave_header* h, unsigned size)
{
    if (!d)
        return MMSYSERR_INVALHANDLE;
    if (!h || size < sizeof(wave_header) || (!h->data && h->buffer_length))
        return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> held(d->lock);
    h->flags |= WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

unsigned unprepare(sound_device* d, wave_header* h, unsigned size)
{
    if (!d)
        return MMSYSERR_INVALHANDLE;
    if (!h || size < sizeof(wave_header))
        return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> held(d->lock);
    // A header the device still holds, or whose callback is still to come,
    // stays prepared: its memory must not go away yet.
    if ((h->flags & WHDR_INQUEUE) || h->reserved == HEADER_AWAITS_CALLBACK)
        return WAVERR_STILLPLAYING;
    h->flags &= ~WHDR_PREPARED;
    return MMSYSERR_NOERROR;
}

unsigned enqueue(sound_device* d, wave_header* h, unsigned size)
{
    if (!d)
        return MMSYSERR_INVALHANDLE;
    if (!h || size < sizeof(wave_header) || !h->data || h->buffer_length == 0)
        return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> held(d->lock);
    if (!(h->flags & WHDR_PREPARED))
        return WAVERR_UNPREPARED;
    if ((h->flags & WHDR_INQUEUE) || h->reserved == HEADER_AWAITS_CALLBACK)
        return WAVERR_STILLPLAYING;
    h->flags = (h->flags & ~WHDR_DONE) | WHDR_INQUEUE;
    if (d->input)
        h->bytes_recorded = 0;
    d->queue.push(h);
    if (!d->input)
        d->engine->output_changed();
    d->wake.notify_all();
    return MMSYSERR_NOERROR;
}

unsigned close_device(sound_device* d)
{
    if (!d)
        return MMSYSERR_INVALHANDLE;
    {
        std::lock_guard<std::mutex> held(d->lock);
        if (!d->queue.empty())
            return WAVERR_STILLPLAYING;
        d->running = false;
    }
    d->engine->stop();
    d->engine->close();
    forget_device(d);
    device_end(d);
    delete d;
    return MMSYSERR_NOERROR;
}

const char* error_text(unsigned code)
{
    switch (code) {
    case MMSYSERR_NOERROR: return "The sound device did what was asked.";
    case MMSYSERR_ERROR: return "The sound device reported an error it did not explain.";
    case MMSYSERR_BADDEVICEID: return "There is no sound device with that number.";
    case MMSYSERR_NOTENABLED: return "The sound driver is loaded but could not start.";
    case MMSYSERR_ALLOCATED: return "The sound device is busy: another program or another part of this one is using it.";
    case MMSYSERR_INVALHANDLE: return "The sound device is not open (the handle is not valid).";
    case MMSYSERR_NODRIVER: return "No sound driver is installed: there is no sound device to use.";
    case MMSYSERR_NOMEM: return "There is not enough memory for the sound device.";
    case MMSYSERR_NOTSUPPORTED: return "The sound device cannot do this.";
    case MMSYSERR_INVALFLAG: return "The sound device was given a flag it does not know.";
    case MMSYSERR_INVALPARAM: return "The sound device was given a parameter that is not valid.";
    case WAVERR_BADFORMAT: return "The sound device cannot work in this format. It takes PCM with 1 or 2 channels of 8 or 16 bits.";
    case WAVERR_STILLPLAYING: return "The sound device still holds buffers: stop or reset it first.";
    case WAVERR_UNPREPARED: return "The buffer was not prepared for the sound device.";
    default: return nullptr;
    }
}

unsigned copy_error_text(unsigned code, char* text, unsigned size)
{
    if (!text || size == 0)
        return MMSYSERR_INVALPARAM;
    const char* known = error_text(code);
    if (known)
        std::snprintf(text, size, "%s", known);
    else
        std::snprintf(text, size, "The sound device reported error %u, which has no description.", code);
    return MMSYSERR_NOERROR;
}

}  // namespace

// --- hooks for the back ends -------------------------------------------------

void sound_count_overflow() { overflow_count.fetch_add(1, std::memory_order_relaxed); }

void output_tap(const uint8_t* bytes, uint32_t count)
{
    if (sound_tap tap = tap_function.load())
        tap(bytes, count, tap_user.load());
}

namespace {
double paced_speed = 1.0;   // the virtual card's real-time speed factor
}

// --- back end choice -----------------------------------------------------------

int sound_use_portaudio()
{
    if (any_device_open())
        return -1;
    std::lock_guard<std::mutex> held(state_lock);
    backend = BACKEND_PORTAUDIO;
    demo_input = false;
    overflow_count = 0;
    clock_set_rate(1.0);
    return pa_begin();
}

int sound_use_virtual(const char* source, bool repeat_demo)
{
    std::string error;
    if (any_device_open()) {
        std::lock_guard<std::mutex> held(state_lock);
        source_error = "the sound source cannot change while a sound device is open";
        return -1;
    }
    if (!source || !*source) {
        std::lock_guard<std::mutex> held(state_lock);
        source_error = "no sound source given (use demo or the path of a WAV file)";
        return -1;
    }
    if (virtual_select(source, &error, repeat_demo) != 0) {
        std::lock_guard<std::mutex> held(state_lock);
        source_error = error;
        return -1;
    }
    std::lock_guard<std::mutex> held(state_lock);
    if (backend == BACKEND_PORTAUDIO)
        pa_finish();
    backend = BACKEND_VIRTUAL;
    demo_input = false;
    overflow_count = 0;
    source_error.clear();
    clock_set_rate(paced_speed);
    return 0;
}

int sound_use_demo_input()
{
    std::string error;
    if (any_device_open() || virtual_select("demo", &error, true) != 0)
        return -1;
    current_backend();   // the output's back end is the one chosen, or PortAudio
    std::lock_guard<std::mutex> held(state_lock);
    demo_input = true;
    return 0;
}

bool sound_demo_input()
{
    std::lock_guard<std::mutex> held(state_lock);
    return demo_input;
}

const char* sound_source_error()
{
    // The text stays valid until the next choice of source.
    std::lock_guard<std::mutex> held(state_lock);
    return source_error.c_str();
}

bool sound_is_virtual()
{
    std::lock_guard<std::mutex> held(state_lock);
    return backend == BACKEND_VIRTUAL;
}

void sound_pace_real_time(double speed)
{
    paced_speed = speed > 0 ? speed : 1.0;
    virtual_pace(false, paced_speed);
    // A record played N times as fast keeps the status line's seconds and
    // the intro allowance in step with the sound.
    if (sound_is_virtual())
        clock_set_rate(paced_speed);
}

void sound_pace_fast() { virtual_pace(true, 1.0); }
bool sound_pace_is_fast() { return virtual_pace_fast(); }

int sound_parse_option(const char* arg)
{
    if (!arg)
        return 0;
    if (std::strncmp(arg, "--source=", 9) == 0)
        return sound_use_virtual(arg + 9) == 0 ? 1 : -1;
    if (std::strcmp(arg, "--fast") == 0) {
        sound_pace_fast();
        return 1;
    }
    if (std::strncmp(arg, "--speed=", 8) == 0) {
        char* end = nullptr;
        double speed = std::strtod(arg + 8, &end);
        if (end == arg + 8 || *end != '\0' || !(speed >= 0.01 && speed <= 1000.0)) {
            std::lock_guard<std::mutex> held(state_lock);
            source_error = std::string("--speed wants a number from 0.01 to 1000, not \"") + (arg + 8) + "\"";
            return -1;
        }
        sound_pace_real_time(speed);
        return 1;
    }
    return 0;
}

void sound_shutdown()
{
    if (any_device_open())
        return;
    std::lock_guard<std::mutex> held(state_lock);
    pa_finish();
    if (backend == BACKEND_PORTAUDIO)
        backend = BACKEND_UNCHOSEN;
}

uint32_t sound_input_overflows() { return overflow_count.load(); }

// --- devices ---------------------------------------------------------------------

unsigned wave_in_get_num_devs() { return device_count(true); }
unsigned wave_out_get_num_devs() { return device_count(false); }

unsigned wave_in_get_dev_caps(unsigned device, wave_in_caps* caps, unsigned caps_size)
{
    if (unsigned e = injected(SOUND_IN_CAPS))
        return e;
    if (!caps || caps_size < sizeof(wave_in_caps))
        return MMSYSERR_INVALPARAM;
    unsigned count = device_count(true);
    if (count == 0)
        return MMSYSERR_NODRIVER;
    if (device == WAVE_MAPPER)
        device = 0;
    if (device >= count)
        return MMSYSERR_BADDEVICEID;
    std::memset(caps, 0, sizeof *caps);
    if (virtual_direction(true)) {
        caps->manufacturer_id = 0xFFFF;
        caps->driver_version = 0x0100;
        std::snprintf(caps->name, sizeof caps->name, "Virtual line input");
        caps->formats = 0x00000FFF;
        caps->channels = 2;
        return MMSYSERR_NOERROR;
    }
    return pa_input_caps(device, caps);
}

// --- input -----------------------------------------------------------------------

unsigned wave_in_open(wave_in* device, unsigned device_id, const wave_format* format,
                      wave_callback callback, uintptr_t instance, uint32_t flags)
{
    return open_device<wave_in_object>(device, true, device_id, format, callback, instance, flags);
}

unsigned wave_in_prepare_header(wave_in device, wave_header* header, unsigned header_size)
{
    if (unsigned e = injected(SOUND_IN_PREPARE))
        return e;
    return prepare(find_device(device, INPUT_MAGIC), header, header_size);
}

unsigned wave_in_unprepare_header(wave_in device, wave_header* header, unsigned header_size)
{
    if (unsigned e = injected(SOUND_IN_UNPREPARE))
        return e;
    return unprepare(find_device(device, INPUT_MAGIC), header, header_size);
}

unsigned wave_in_add_buffer(wave_in device, wave_header* header, unsigned header_size)
{
    if (unsigned e = injected(SOUND_IN_ADD_BUFFER))
        return e;
    return enqueue(find_device(device, INPUT_MAGIC), header, header_size);
}

unsigned wave_in_start(wave_in device)
{
    if (unsigned e = injected(SOUND_IN_START))
        return e;
    sound_device* d = find_device(device, INPUT_MAGIC);
    if (!d)
        return MMSYSERR_INVALHANDLE;
    {
        std::lock_guard<std::mutex> held(d->lock);
        if (d->running)
            return MMSYSERR_NOERROR;
        d->running = true;
    }
    unsigned e = d->engine->start();
    std::lock_guard<std::mutex> held(d->lock);
    if (e != MMSYSERR_NOERROR)
        d->running = false;
    d->wake.notify_all();
    return e;
}

namespace {
// Stop and reset share this: no more input, the partly filled buffer back,
// and with `all` every other queued buffer too.
unsigned stop_input(wave_in device, bool all)
{
    sound_device* d = find_device(device, INPUT_MAGIC);
    if (!d)
        return MMSYSERR_INVALHANDLE;
    bool was_running;
    {
        std::lock_guard<std::mutex> held(d->lock);
        was_running = d->running;
        d->running = false;
    }
    if (was_running)
        d->engine->stop();
    std::unique_lock<std::mutex> held(d->lock);
    if (!d->queue.empty() && d->queue.first->bytes_recorded > 0)
        device_finish_head(d);
    if (all)
        device_finish_all(d);
    device_wait_drained(d, held);
    return MMSYSERR_NOERROR;
}
}  // namespace

unsigned wave_in_stop(wave_in device)
{
    if (unsigned e = injected(SOUND_IN_STOP))
        return e;
    return stop_input(device, false);
}

unsigned wave_in_reset(wave_in device)
{
    if (unsigned e = injected(SOUND_IN_RESET))
        return e;
    return stop_input(device, true);
}

unsigned wave_in_close(wave_in device)
{
    if (unsigned e = injected(SOUND_IN_CLOSE))
        return e;
    return close_device(find_device(device, INPUT_MAGIC));
}

unsigned wave_in_get_error_text(unsigned code, char* text, unsigned size) { return copy_error_text(code, text, size); }

// --- output ----------------------------------------------------------------------

unsigned wave_out_open(wave_out* device, unsigned device_id, const wave_format* format,
                       wave_callback callback, uintptr_t instance, uint32_t flags)
{
    return open_device<wave_out_object>(device, false, device_id, format, callback, instance, flags);
}

unsigned wave_out_prepare_header(wave_out device, wave_header* header, unsigned header_size)
{
    if (unsigned e = injected(SOUND_OUT_PREPARE))
        return e;
    return prepare(find_device(device, OUTPUT_MAGIC), header, header_size);
}

unsigned wave_out_unprepare_header(wave_out device, wave_header* header, unsigned header_size)
{
    if (unsigned e = injected(SOUND_OUT_UNPREPARE))
        return e;
    return unprepare(find_device(device, OUTPUT_MAGIC), header, header_size);
}

unsigned wave_out_write(wave_out device, wave_header* header, unsigned header_size)
{
    if (unsigned e = injected(SOUND_OUT_WRITE))
        return e;
    return enqueue(find_device(device, OUTPUT_MAGIC), header, header_size);
}

namespace {
unsigned set_output_running(wave_out device, bool running)
{
    sound_device* d = find_device(device, OUTPUT_MAGIC);
    if (!d)
        return MMSYSERR_INVALHANDLE;
    std::lock_guard<std::mutex> held(d->lock);
    d->engine->output_changed();   // account for the time played so far
    d->running = running;
    d->engine->output_changed();
    d->wake.notify_all();
    return MMSYSERR_NOERROR;
}
}  // namespace

unsigned wave_out_pause(wave_out device)
{
    if (unsigned e = injected(SOUND_OUT_PAUSE))
        return e;
    return set_output_running(device, false);
}

unsigned wave_out_restart(wave_out device)
{
    if (unsigned e = injected(SOUND_OUT_RESTART))
        return e;
    return set_output_running(device, true);
}

unsigned wave_out_reset(wave_out device)
{
    if (unsigned e = injected(SOUND_OUT_RESET))
        return e;
    sound_device* d = find_device(device, OUTPUT_MAGIC);
    if (!d)
        return MMSYSERR_INVALHANDLE;
    std::unique_lock<std::mutex> held(d->lock);
    d->engine->output_changed();
    device_finish_all(d);
    d->head_offset = 0;
    d->bytes_played = 0;
    d->engine->output_changed();
    device_wait_drained(d, held);
    return MMSYSERR_NOERROR;
}

unsigned wave_out_get_position(wave_out device, mm_time* time, unsigned time_size)
{
    if (unsigned e = injected(SOUND_OUT_POSITION))
        return e;
    sound_device* d = find_device(device, OUTPUT_MAGIC);
    if (!d)
        return MMSYSERR_INVALHANDLE;
    if (!time || time_size < sizeof(mm_time))
        return MMSYSERR_INVALPARAM;
    std::lock_guard<std::mutex> held(d->lock);
    d->engine->output_changed();
    uint64_t bytes = d->bytes_played;
    uint64_t frames = bytes / d->format.block_align;
    switch (time->type) {
    case TIME_SAMPLES: time->value = uint32_t(frames); break;
    case TIME_MS: time->value = uint32_t(frames * 1000 / d->format.samples_per_sec); break;
    default:
        // A unit the device does not keep is answered in bytes, and says so.
        time->type = TIME_BYTES;
        time->value = uint32_t(bytes);
        break;
    }
    return MMSYSERR_NOERROR;
}

unsigned wave_out_close(wave_out device)
{
    if (unsigned e = injected(SOUND_OUT_CLOSE))
        return e;
    return close_device(find_device(device, OUTPUT_MAGIC));
}

unsigned wave_out_get_error_text(unsigned code, char* text, unsigned size) { return copy_error_text(code, text, size); }

// --- test hooks ------------------------------------------------------------------

void sound_fail_call(sound_call call, unsigned code, int after)
{
    if (call < 0 || call >= SOUND_CALL_COUNT)
        return;
    std::lock_guard<std::mutex> held(state_lock);
    faults[call] = {code != MMSYSERR_NOERROR, code, after > 0 ? after : 0};
}

void sound_fail_clear()
{
    std::lock_guard<std::mutex> held(state_lock);
    for (injected_fault& f : faults)
        f = {};
}

void sound_virtual_devices(unsigned inputs, unsigned outputs)
{
    std::lock_guard<std::mutex> held(state_lock);
    virtual_input_count = inputs;
    virtual_output_count = outputs;
}

void sound_virtual_stall_input(bool stalled) { virtual_stall_input(stalled); }

void sound_set_output_tap(sound_tap tap, void* user)
{
    tap_user = user;
    tap_function = tap;
}
