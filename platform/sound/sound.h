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
