// Wave input and output: the sound card through PortAudio, or the virtual
// sound card that plays a WAV file or the built-in demo record.
//
// Threads: device callbacks run on the device's own thread and may only post
// to the dialog (they must not call back into this service); every other
// routine belongs to the dialog's thread. Stop, reset and close return only
// after every buffer they completed has been through the callback.
#pragma once
#include <cstdint>
#include "platform/audio_format.h"

struct wave_in_object;
using wave_in = wave_in_object*;
struct wave_out_object;
using wave_out = wave_out_object*;

constexpr unsigned WAVE_MAPPER = 0xFFFFFFFFu;   // "the default device"

// Callback messages.
enum : unsigned {
    WOM_OPEN = 0x3BB, WOM_CLOSE = 0x3BC, WOM_DONE = 0x3BD,   // 955, 956, 957
    WIM_OPEN = 0x3BE, WIM_CLOSE = 0x3BF, WIM_DATA = 0x3C0,   // 958, 959, 960
};

// Header flags.
enum : uint32_t {
    WHDR_DONE = 0x01,
    WHDR_PREPARED = 0x02,
    WHDR_BEGINLOOP = 0x04,
    WHDR_ENDLOOP = 0x08,
    WHDR_INQUEUE = 0x10,
};

// One buffer handed to a device. The device fills (input) or plays (output)
// `data`, sets WHDR_DONE and returns the header through the callback.
struct wave_header {
    uint8_t* data;            // sample memory, owned by the caller
    uint32_t buffer_length;   // bytes in data
    uint32_t bytes_recorded;  // input: bytes filled
    uintptr_t user;
    uint32_t flags;           // WHDR_*
    uint32_t loops;
    wave_header* next;        // the device's own use
    uintptr_t reserved;
};

// Time positions (output).
enum : uint32_t { TIME_MS = 0x01, TIME_SAMPLES = 0x02, TIME_BYTES = 0x04 };
struct mm_time {
    uint32_t type;            // TIME_*
    uint32_t value;
};

// callback(device handle, message, instance data, header or 0, 0)
using wave_callback = void (*)(void* device, unsigned message, uintptr_t instance, uintptr_t param1, uintptr_t param2);

// Open flags.
enum : uint32_t {
    WAVE_FORMAT_QUERY = 0x0001,     // only ask whether the format would open
    CALLBACK_NULL = 0x00000,
    CALLBACK_FUNCTION = 0x30000,    // `callback` is a wave_callback
};

// The capabilities of an input device: 48 bytes, as callers size them.
#pragma pack(push, 1)
struct wave_in_caps {
    uint16_t manufacturer_id;
    uint16_t product_id;
    uint32_t driver_version;
    char name[32];              // UTF-8, cut to fit, always terminated
    uint32_t formats;           // WAVE_FORMAT_1M08 ... bits; every PCM rate opens
    uint16_t channels;          // 1 or 2
    uint16_t reserved;
};
#pragma pack(pop)
static_assert(sizeof(wave_in_caps) == 48, "wave_in_caps is 48 bytes");

// --- back end choice (no device may be open) -------------------------------
// The sound card through PortAudio; the default. Starts PortAudio afresh, so
// a sound server that came up since the last call is seen. 0, or -1 when
// PortAudio cannot start.
int sound_use_portaudio();
// The virtual sound card playing `source` into its input: "demo" for the
// built-in demo record, otherwise the path of a 16-bit PCM WAV file. The
// record starts with the first start of an input device. A WAV file is
// followed by silence for ever; the demo record plays its side again and
// again (a few seconds of quiet groove between the passes), unless
// `repeat_demo` is false. 0, or -1 with the reason in sound_source_error();
// the previous choice then stays.
int sound_use_virtual(const char* source, bool repeat_demo = true);
// The demo record in place of an input device that is missing: the input
// comes from the virtual card playing the demo record (repeating, in real
// time), the output stays with the back end in use, whatever it has. The
// next choice of back end ends it. 0, or -1 (a device is open, no memory).
int sound_use_demo_input();
// Whether the demo record stands in for the input now.
bool sound_demo_input();
const char* sound_source_error();
bool sound_is_virtual();
// Pace of the virtual card: the wall clock, `speed` times faster (speed > 0),
// or as fast as the consumer takes buffers. Fast mode turns the virtual clock
// on and moves it by the duration of every buffer delivered or played.
void sound_pace_real_time(double speed);
void sound_pace_fast();
bool sound_pace_is_fast();
// Reads one command-line option of the sound service: "--source=demo",
// "--source=FILE.wav", "--speed=N", "--fast". 1 when `arg` was one and
// applied, 0 when it is not one of them, -1 when it is but is wrong (the
// reason is in sound_source_error()).
int sound_parse_option(const char* arg);
// Closes PortAudio at the end of the program. No device may be open.
void sound_shutdown();
// Stretches of input lost since the back end was chosen: the card reported
// an overflow, or input arrived while no buffer was queued.
uint32_t sound_input_overflows();

// --- devices ----------------------------------------------------------------
unsigned wave_in_get_num_devs();
// MMSYSERR_BADDEVICEID for an unknown device; caps_size must be 48.
unsigned wave_in_get_dev_caps(unsigned device, wave_in_caps* caps, unsigned caps_size);
unsigned wave_out_get_num_devs();

// --- input ------------------------------------------------------------------
// Every call returns MMSYSERR_NOERROR or a result code (audio_format.h).
// Opens `device_id` (WAVE_MAPPER for the default) for PCM `format`: 1 or 2
// channels, 8 or 16 bits, block alignment and byte rate consistent. The
// callback gets WIM_OPEN and WIM_CLOSE on the caller's thread and WIM_DATA
// with each filled header, in queue order, on the device's thread.
unsigned wave_in_open(wave_in* device, unsigned device_id, const wave_format* format,
                      wave_callback callback, uintptr_t instance, uint32_t flags);
unsigned wave_in_prepare_header(wave_in device, wave_header* header, unsigned header_size);
// WAVERR_STILLPLAYING while the header is queued.
unsigned wave_in_unprepare_header(wave_in device, wave_header* header, unsigned header_size);
// Queues a prepared header (WAVERR_UNPREPARED otherwise) to be filled.
unsigned wave_in_add_buffer(wave_in device, wave_header* header, unsigned header_size);
unsigned wave_in_start(wave_in device);
// Stops input; the buffer being filled comes back if it holds any bytes,
// the empty ones stay queued.
unsigned wave_in_stop(wave_in device);
// Stops input and returns every queued buffer, the one being filled with the
// bytes recorded so far.
unsigned wave_in_reset(wave_in device);
// WAVERR_STILLPLAYING while buffers are queued.
unsigned wave_in_close(wave_in device);
// The text for a result code, cut to `size` bytes with the terminator.
unsigned wave_in_get_error_text(unsigned code, char* text, unsigned size);

// --- output -----------------------------------------------------------------
// Opens the output for PCM `format` (same rules as input). WOM_DONE comes
// with each played header, in the order written, on the device's thread.
unsigned wave_out_open(wave_out* device, unsigned device_id, const wave_format* format,
                       wave_callback callback, uintptr_t instance, uint32_t flags);
unsigned wave_out_prepare_header(wave_out device, wave_header* header, unsigned header_size);
unsigned wave_out_unprepare_header(wave_out device, wave_header* header, unsigned header_size);
// Queues a prepared header; it plays after those written before it.
unsigned wave_out_write(wave_out device, wave_header* header, unsigned header_size);
unsigned wave_out_pause(wave_out device);
unsigned wave_out_restart(wave_out device);
// Stops playing, returns every queued header and sets the position to 0.
// A paused device stays paused.
unsigned wave_out_reset(wave_out device);
// The position since the open or the last reset, in the unit that
// time->type asks for (TIME_SAMPLES: frames; TIME_BYTES; TIME_MS).
unsigned wave_out_get_position(wave_out device, mm_time* time, unsigned time_size);
unsigned wave_out_close(wave_out device);
unsigned wave_out_get_error_text(unsigned code, char* text, unsigned size);

// --- test hooks ---------------------------------------------------------------
enum sound_call {
    SOUND_IN_CAPS, SOUND_IN_OPEN, SOUND_IN_PREPARE, SOUND_IN_UNPREPARE, SOUND_IN_ADD_BUFFER,
    SOUND_IN_START, SOUND_IN_STOP, SOUND_IN_RESET, SOUND_IN_CLOSE,
    SOUND_OUT_OPEN, SOUND_OUT_PREPARE, SOUND_OUT_UNPREPARE, SOUND_OUT_WRITE, SOUND_OUT_PAUSE,
    SOUND_OUT_RESTART, SOUND_OUT_RESET, SOUND_OUT_POSITION, SOUND_OUT_CLOSE,
    SOUND_CALL_COUNT
};
// The call after `after` more successful ones fails once with `code`, doing
// nothing else. Works on either back end.
void sound_fail_call(sound_call call, unsigned code, int after = 0);
void sound_fail_clear();
// Devices the virtual card reports (1 input and 1 output unless told).
void sound_virtual_devices(unsigned inputs, unsigned outputs);
// The virtual card's input stops filling buffers while `stalled` is set, as
// when a sound server dies or a USB card is pulled out: the device stays
// open and every call on it still succeeds.
void sound_virtual_stall_input(bool stalled);
// Virtual output: every played stretch of bytes also goes to `tap`, on the
// device's thread (null turns it off).
using sound_tap = void (*)(const uint8_t* bytes, uint32_t count, void* user);
void sound_set_output_tap(sound_tap tap, void* user);
