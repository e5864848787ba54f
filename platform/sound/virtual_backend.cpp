// The virtual sound card. Its line input is a turntable playing the chosen
// source (a WAV file or the demo record) and then silence for ever; every
// open converts the record to the format asked for. Its output consumes
// buffers at the format's pace. Real time follows the wall clock (times a
// speed factor); fast mode goes as fast as buffers are taken and moves the
// virtual clock instead.
#include <samplerate.h>
#include <atomic>
#include <cmath>
#include <cstring>
#include <vector>
#include "platform/sound/backends.h"
#include "platform/sound/pcm_source.h"
#include "platform/system/system.h"

namespace {

constexpr uint32_t SOURCE_CHUNK = 1024;     // source frames read at a time
constexpr uint32_t OUTPUT_CHUNK = 1024;     // resampled frames made at a time

// The one turntable. The record spins from the first start of an input and
// keeps spinning while nobody listens (in real time), as a record does.
// Lock order: a device's lock, then this one.
struct turntable {
    std::mutex lock;
    std::unique_ptr<pcm_source> source;
    bool source_ended = false;
    uint64_t position = 0;                  // source frames played so far
    bool spinning = false;
    steady_clock::time_point anchor_time;   // real time: position anchor_position was
    uint64_t anchor_position = 0;           //   played at anchor_time
    bool fast = false;
    double speed = 1.0;
    bool input_open = false;                // one input at a time
};
// Never destroyed: a device thread may still be turning it while the
// program's static objects go away at exit.
turntable& table = *new turntable;

// A test's dead sound server: the input stays open and answers every call
// but fills no buffer while this is set.
std::atomic<bool> input_stalled{false};

// Lock held: the next `frames` source frames, silence after the end.
void table_read(int16_t* out, uint32_t frames)
{
    int channels = table.source->channels();
    uint32_t got = 0;
    if (!table.source_ended) {
        while (got < frames) {
            uint32_t n = table.source->read(out + size_t(got) * channels, frames - got);
            if (n == 0) {
                table.source_ended = true;
                break;
            }
            got += n;
        }
    }
    std::memset(out + size_t(got) * channels, 0, size_t(frames - got) * channels * sizeof(int16_t));
    table.position += frames;
}

// Lock held: in real time, move the record on to where the wall clock says
// it is now. Returns true when frames were skipped.
bool table_catch_up()
{
    steady_clock::time_point now = steady_clock::now();
    if (!table.spinning) {
        table.spinning = true;
        table.anchor_time = now;
        table.anchor_position = table.position;
        return false;
    }
    if (table.fast)
        return false;
    double seconds = std::chrono::duration<double>(now - table.anchor_time).count();
    uint64_t due = table.anchor_position + uint64_t(seconds * table.source->rate() * table.speed);
    if (due <= table.position)
        return false;
    uint64_t skip = due - table.position;
    if (!table.source_ended && table.source->skip(skip) < skip)
        table.source_ended = true;
    table.position = due;
    return true;
}

void table_reanchor()
{
    table.anchor_time = steady_clock::now();
    table.anchor_position = table.position;
}

// Turns the record's samples into the device's format: channels and sample
// size exactly, the rate through the resampler when it differs.
class converter {
public:
    converter(const wave_format& f, uint32_t source_rate, int source_channels)
        : channels_(f.channels), bits_(f.bits_per_sample), frame_(f.block_align),
          source_channels_(source_channels), ratio_(double(f.samples_per_sec) / source_rate),
          resample_(f.samples_per_sec != source_rate) {}
    ~converter()
    {
        if (state_)
            src_delete(state_);
    }

    // Takes all memory it will use; MMSYSERR_NOMEM when it cannot.
    unsigned init()
    {
        try {
            source_.resize(size_t(SOURCE_CHUNK) * source_channels_);
            if (resample_) {
                in_.resize(size_t(SOURCE_CHUNK) * source_channels_);
                out_.resize(size_t(OUTPUT_CHUNK) * source_channels_);
                made_.resize(size_t(OUTPUT_CHUNK) * source_channels_);
            }
        } catch (const std::bad_alloc&) {
            return MMSYSERR_NOMEM;
        }
        if (resample_) {
            int error = 0;
            state_ = src_new(SRC_SINC_MEDIUM_QUALITY, source_channels_, &error);
            if (!state_)
                return MMSYSERR_NOMEM;
        }
        return MMSYSERR_NOERROR;
    }

    // After the record jumped: forget the resampler's history.
    void restart()
    {
        if (state_)
            src_reset(state_);
        in_used_ = in_have_ = 0;
    }

    // Turntable lock held: `frames` device frames into out.
    void produce(uint8_t* out, uint32_t frames)
    {
        while (frames > 0) {
            uint32_t n;
            if (!resample_) {
                n = frames < SOURCE_CHUNK ? frames : SOURCE_CHUNK;
                table_read(source_.data(), n);
                emit(source_.data(), n, out);
            } else {
                if (in_used_ == in_have_) {
                    table_read(source_.data(), SOURCE_CHUNK);
                    src_short_to_float_array(source_.data(), in_.data(), int(SOURCE_CHUNK * source_channels_));
                    in_used_ = 0;
                    in_have_ = SOURCE_CHUNK;
                }
                SRC_DATA data = {};
                data.data_in = in_.data() + size_t(in_used_) * source_channels_;
                data.input_frames = long(in_have_ - in_used_);
                data.data_out = out_.data();
                data.output_frames = long(frames < OUTPUT_CHUNK ? frames : OUTPUT_CHUNK);
                data.src_ratio = ratio_;
                data.end_of_input = 0;   // the record never ends: silence follows it
                if (src_process(state_, &data) != 0) {
                    // Cannot happen with a valid ratio; deliver silence rather than stop.
                    std::memset(out_.data(), 0, size_t(data.output_frames) * source_channels_ * sizeof(float));
                    data.output_frames_gen = data.output_frames;
                    data.input_frames_used = data.input_frames;
                }
                in_used_ += uint32_t(data.input_frames_used);
                n = uint32_t(data.output_frames_gen);
                src_float_to_short_array(out_.data(), made_.data(), int(n * source_channels_));
                emit(made_.data(), n, out);
            }
            out += size_t(n) * frame_;
            frames -= n;
        }
    }

private:
    void emit(const int16_t* in, uint32_t n, uint8_t* out) const
    {
        for (uint32_t k = 0; k < n; ++k) {
            int left = in[k * source_channels_];
            int right = source_channels_ == 2 ? in[k * source_channels_ + 1] : left;
            int samples[2] = {left, right};
            if (channels_ == 1)
                samples[0] = source_channels_ == 2 ? (left + right) >> 1 : left;
            for (int c = 0; c < channels_; ++c) {
                int s = samples[c];
                if (bits_ == 16) {
                    *out++ = uint8_t(s & 0xFF);
                    *out++ = uint8_t((s >> 8) & 0xFF);
                } else {
                    *out++ = uint8_t((s >> 8) + 128);   // 8-bit PCM is unsigned
                }
            }
        }
    }

    int channels_, bits_, frame_, source_channels_;
    double ratio_;
    bool resample_;
    SRC_STATE* state_ = nullptr;
    std::vector<int16_t> source_, made_;
    std::vector<float> in_, out_;
    uint32_t in_used_ = 0, in_have_ = 0;
};

// Whole milliseconds of `frames` at `rate`, for moving the virtual clock
// without drift: the clock moves by the difference of running totals.
struct clock_mover {
    uint64_t frames = 0;
    uint64_t moved_ms = 0;
    void add(uint64_t n, uint32_t rate)
    {
        frames += n;
        uint64_t due = frames * 1000 / rate;
        if (due > moved_ms) {
            clock_advance(uint32_t(due - moved_ms));
            moved_ms = due;
        }
    }
};

class virtual_input : public device_engine {
public:
    explicit virtual_input(sound_device* d)
        : d_(d), convert_(d->format, table.source->rate(), table.source->channels()) {}

    unsigned init()
    {
        chunk_frames_ = d_->format.samples_per_sec / 100;   // 10 ms of input at a time in real time
        try {
            chunk_.resize(size_t(chunk_frames_) * d_->format.block_align);
        } catch (const std::bad_alloc&) {
            return MMSYSERR_NOMEM;
        }
        return convert_.init();
    }

    unsigned start() override
    {
        std::lock_guard<std::mutex> held(d_->lock);
        std::lock_guard<std::mutex> record(table.lock);
        if (table_catch_up())
            convert_.restart();
        fast_ = table.fast;
        speed_ = table.speed;
        started_ = steady_clock::now();
        chunks_ = 0;
        armed_ = true;
        return MMSYSERR_NOERROR;
    }

    void stop() override
    {
        std::lock_guard<std::mutex> held(d_->lock);
        armed_ = false;
    }

    void close() override
    {
        std::lock_guard<std::mutex> record(table.lock);
        table.input_open = false;
    }

    steady_clock::time_point pump(std::unique_lock<std::mutex>&) override
    {
        if (!d_->running || !armed_)
            return steady_clock::time_point::max();
        if (input_stalled.load())
            return steady_clock::now() + std::chrono::milliseconds(5);
        std::lock_guard<std::mutex> record(table.lock);
        if (fast_) {
            wave_header* h = d_->queue.first;
            if (!h)
                return steady_clock::time_point::max();
            uint32_t frames = (h->buffer_length - h->bytes_recorded) / d_->format.block_align;
            convert_.produce(h->data + h->bytes_recorded, frames);
            h->bytes_recorded += frames * d_->format.block_align;
            device_finish_head(d_);
            clock_.add(frames, d_->format.samples_per_sec);
            return steady_clock::time_point::min();
        }
        // Real time: each 10 ms of input is made when the wall clock has
        // reached its end; a late thread catches up, a few chunks at a time.
        steady_clock::time_point now = steady_clock::now();
        for (int burst = 0; burst < 20; ++burst) {
            steady_clock::time_point due = chunk_end(chunks_);
            if (due > now)
                return due;
            convert_.produce(chunk_.data(), chunk_frames_);
            input_deliver(d_, chunk_.data(), uint32_t(chunk_.size()));
            ++chunks_;
        }
        return steady_clock::time_point::min();
    }

private:
    steady_clock::time_point chunk_end(uint64_t k) const
    {
        double seconds = double(k + 1) * chunk_frames_ / (d_->format.samples_per_sec * speed_);
        return started_ + std::chrono::duration_cast<steady_clock::duration>(std::chrono::duration<double>(seconds));
    }

    sound_device* d_;
    converter convert_;
    std::vector<uint8_t> chunk_;
    uint32_t chunk_frames_ = 0;
    bool armed_ = false;
    bool fast_ = false;
    double speed_ = 1.0;
    steady_clock::time_point started_;
    uint64_t chunks_ = 0;
    clock_mover clock_;
};

class virtual_output : public device_engine {
public:
    explicit virtual_output(sound_device* d) : d_(d)
    {
        std::lock_guard<std::mutex> record(table.lock);
        fast_ = table.fast;
        speed_ = table.speed;
    }

    // Lock held: play what the wall clock says has been heard since the last
    // look, then look again from now.
    void output_changed() override
    {
        if (fast_)
            return;
        steady_clock::time_point now = steady_clock::now();
        bool playing = d_->running && !d_->queue.empty();
        if (anchored_ && playing) {
            double frames = std::chrono::duration<double>(now - last_).count() * d_->format.samples_per_sec * speed_ + carry_;
            uint64_t whole = uint64_t(frames);
            carry_ = frames - double(whole);
            uint64_t bytes = whole * d_->format.block_align;
            while (bytes > 0 && !d_->queue.empty()) {
                uint32_t n = bytes > 0x40000000 ? 0x40000000 : uint32_t(bytes);
                bytes -= output_take(d_, nullptr, n);
            }
        }
        last_ = now;
        anchored_ = d_->running && !d_->queue.empty();   // an empty queue stops the clock
        if (!anchored_)
            carry_ = 0;
    }

    steady_clock::time_point pump(std::unique_lock<std::mutex>&) override
    {
        if (fast_) {
            if (!d_->running || d_->queue.empty())
                return steady_clock::time_point::max();
            uint32_t bytes = d_->queue.first->buffer_length - d_->head_offset;
            output_take(d_, nullptr, bytes);
            bytes_ += bytes;
            clock_.add(bytes_ / d_->format.block_align - clock_.frames, d_->format.samples_per_sec);
            return steady_clock::time_point::min();
        }
        output_changed();
        if (!anchored_)
            return steady_clock::time_point::max();
        return steady_clock::now() + std::chrono::milliseconds(5);
    }

private:
    sound_device* d_;
    bool fast_ = false;
    double speed_ = 1.0;
    bool anchored_ = false;
    steady_clock::time_point last_;
    double carry_ = 0;
    uint64_t bytes_ = 0;
    clock_mover clock_;
};

}  // namespace

int virtual_select(const char* source, std::string* error, bool repeat_demo)
{
    std::unique_ptr<pcm_source> s =
        std::strcmp(source, "demo") == 0 ? open_demo_source(error, repeat_demo) : open_wav_source(source, error);
    if (!s)
        return -1;
    std::lock_guard<std::mutex> record(table.lock);
    table.source = std::move(s);
    table.source_ended = false;
    table.position = 0;
    table.spinning = false;
    return 0;
}

void virtual_pace(bool fast, double speed)
{
    std::lock_guard<std::mutex> record(table.lock);
    // Fast mode moves the virtual clock by the audio it delivers; in real
    // time nothing would move it, so leaving fast mode gives the real clock
    // back (the last of --fast and --speed=N wins).
    if (fast)
        clock_use_virtual(true);
    else if (table.fast)
        clock_use_virtual(false);
    table.fast = fast;
    table.speed = speed;
    table_reanchor();
}

void virtual_stall_input(bool stalled) { input_stalled.store(stalled); }

bool virtual_pace_fast()
{
    std::lock_guard<std::mutex> record(table.lock);
    return table.fast;
}

unsigned virtual_open(sound_device* d, bool query)
{
    if (query)
        return MMSYSERR_NOERROR;
    if (d->input) {
        {
            std::lock_guard<std::mutex> record(table.lock);
            if (!table.source)
                return MMSYSERR_NODRIVER;
            if (table.input_open)
                return MMSYSERR_ALLOCATED;
        }
        auto engine = std::make_unique<virtual_input>(d);
        if (unsigned e = engine->init())
            return e;
        std::lock_guard<std::mutex> record(table.lock);
        table.input_open = true;
        d->engine = std::move(engine);
        return MMSYSERR_NOERROR;
    }
    d->engine = std::make_unique<virtual_output>(d);
    return MMSYSERR_NOERROR;
}
