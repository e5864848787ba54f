// Wave input and output: the sound card through PortAudio, or the virtual
// sound card that plays a WAV file or the built-in demo record.
//
// Threads: device callbacks run on an audio thread and may only post to the
// dialog; every other routine belongs to the dialog's thread.
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

// --- devices (fixed names: the start-up checks call these) -------------------
struct wave_in_caps {
    uint16_t manufacturer_id;
    uint16_t product_id;
    uint32_t driver_version;
    char name[32];
    uint32_t formats;
    uint16_t channels;
    uint16_t reserved;
};
static_assert(sizeof(wave_in_caps) == 48, "the capability record is 48 bytes");
unsigned wave_in_get_num_devs();                  // 0 without a usable input
unsigned wave_in_get_dev_caps(unsigned device, wave_in_caps* caps, unsigned size);  // 0 or a code

// --- back end choice (fixed names: the programs' command lines call these) --
// The sound card through PortAudio (the default), or the virtual card that
// plays `source`: "demo" for the built-in record, else a 16-bit PCM WAV path.
// 0, or -1 with a message on stderr when the source cannot be read.
void sound_use_portaudio();
int sound_use_virtual(const char* source);
