// trackmill-batch encode: the recording path without a sound card. A 16-bit
// PCM WAV file is converted buffer by buffer through the recording's stream
// and written by the capture file writer, as a recording in that format
// would be.
//
// Every buffer is a whole number of codec blocks, so nothing is dropped
// between buffers; the last, short buffer is padded with silence to a whole
// block, and a final conversion flagged END gives out what the encoder
// still holds (MPEG's look-ahead), so the file covers all of the input.
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include "core/app_state.h"
#include "capture/compression.h"
#include "capture/wav_writer.h"
#include "platform/window/headless.h"
#include "tools/batch/batch.h"
#include "tools/batch/pcm_input.h"

namespace {
constexpr uint32_t BUFFER_TARGET = 8192;   // bytes of PCM a buffer, as a recording's default
int boxes_shown = 0;                       // failure reports during this run

int usage(const char* why)
{
    std::fprintf(stderr,
                 "trackmill-batch encode: %s\n"
                 "usage: trackmill-batch encode IN.wav OUT.wav --format=TAG,RATE,CHANNELS[,EXTRA] [--overwrite]\n"
                 "  (trackmill-batch formats lists the spellings)\n",
                 why);
    return BATCH_USAGE;
}

int fail(const std::string& why)
{
    std::fprintf(stderr, "trackmill-batch encode: %s\n", why.c_str());
    return BATCH_FAILED;
}

std::string pcm_words(const wave_format& f)
{
    char text[96];
    std::snprintf(text, sizeof text, "%u Hz, %u channel%s, %u-bit PCM", unsigned(f.samples_per_sec),
                  unsigned(f.channels), f.channels == 1 ? "" : "s", unsigned(f.bits_per_sample));
    return text;
}

bool same_file(const char* a, const char* b)
{
    struct stat sa, sb;
    return stat(a, &sa) == 0 && stat(b, &sb) == 0 && sa.st_dev == sb.st_dev && sa.st_ino == sb.st_ino;
}

// Converts what the source area holds and appends it; false when the file
// took less than it was given.
bool convert_and_append(acm_stream stream)
{
    uint32_t made = convert_buffer(stream, app.conversion_block, app.conversion_header.src_length);
    append_capture_data(app.conversion_output, made);
    return app.last_write_count == made;
}

int encode(int argc, char** argv)
{
    const char* in_name = nullptr;
    const char* out_name = nullptr;
    const char* spelling = nullptr;
    bool overwrite = false;
    for (int i = 1; i < argc; ++i) {
        if (!std::strncmp(argv[i], "--format=", 9))
            spelling = argv[i] + 9;
        else if (!std::strcmp(argv[i], "--overwrite"))
            overwrite = true;
        else if (argv[i][0] == '-' && argv[i][1])
            return usage((std::string("unknown option ") + argv[i]).c_str());
        else if (!in_name)
            in_name = argv[i];
        else if (!out_name)
            out_name = argv[i];
        else
            return usage("too many file names");
    }
    if (!in_name || !out_name)
        return usage("needs an input and an output file");
    if (!spelling)
        return usage("needs --format=SPELLING");

    // Every check comes before the output is touched.
    format_area chosen;
    char why[200];
    if (acm_parse_spelling(spelling, &chosen, why, sizeof why) != 0)
        return usage(why);
    if (chosen.fmt.format_tag == WAVE_FORMAT_PCM && chosen.fmt.bits_per_sample == 8)
        return fail("8 bits PCM format not supported - choose 16 bits");
    pcm_input in;
    std::string problem = open_pcm_input(in_name, &in);
    if (!problem.empty())
        return fail(problem);
    // A recording cut off: what is there is encoded.
    if (in.data_left > in.data_held) {
        std::fprintf(stderr, "trackmill-batch encode: warning: %s ends %llu bytes before its data chunk does\n", in_name,
                     static_cast<unsigned long long>(in.data_left - in.data_held));
        in.data_left = uint32_t(in.data_held);
    }
    format_area capture = {};
    if (acm_format_suggest(&chosen.fmt, &capture.fmt, FORMAT_AREA_BYTES, 0) != 0)
        return fail(std::string("no PCM makes ") + spelling);
    if (capture.fmt.samples_per_sec != in.format.fmt.samples_per_sec ||
        capture.fmt.channels != in.format.fmt.channels || capture.fmt.bits_per_sample != 16)
        return fail(std::string(in_name) + " is " + pcm_words(in.format.fmt) + "; " + spelling + " is made from " +
                    pcm_words(capture.fmt));
    if (same_file(in_name, out_name))
        return fail(std::string(out_name) + " is the input file");
    struct stat old_out;
    if (stat(out_name, &old_out) == 0 && !S_ISREG(old_out.st_mode))
        return fail(std::string(out_name) + " exists and is not a plain file");
    if (!batch_may_write("encode", out_name, overwrite))
        return BATCH_FAILED;

    // Failing stream calls are told in message boxes; here they go to stderr.
    headless_on_message_box([](const message_box_record& box) {
        ++boxes_shown;
        std::fprintf(stderr, "trackmill-batch encode: %s: %s\n", box.caption.c_str(), box.text.c_str());
    });
    app.capture_ring.chosen_format = chosen;
    app.capture_ring.capture_format = capture;
    uint32_t block = acm_source_block_bytes(&chosen.fmt);
    app.record_buffer_bytes = block >= BUFFER_TARGET ? block : BUFFER_TARGET / block * block;
    acm_stream stream = open_conversion(&capture.fmt, &chosen.fmt);
    if (!stream)
        return fail("the conversion stream could not be opened");
    app.conversion_stream = stream;

    // Only a plain file is ever replaced (checked above), and only by a whole
    // new file: the conversion goes into a file beside it that takes its name
    // at the end, so a failed run leaves the old file as it was.
    // A name of its own, never a file that is there already.
    std::string part_name = std::string(out_name) + ".XXXXXX";
    const int part_fd = mkostemp(part_name.data(), O_CLOEXEC);
    if (part_fd < 0) {
        release_conversion();
        return fail(std::string("cannot create a file beside ") + out_name + ": " + std::strerror(errno));
    }
    // The new file gets the permissions a newly created output would have.
    const mode_t mask = umask(0);
    umask(mask);
    fchmod(part_fd, 0666 & ~mask);
    close(part_fd);
    app.capture_file_handle = plain_open_or_create(part_name.c_str(), nullptr);
    if (!app.capture_file_handle) {
        std::remove(part_name.c_str());
        release_conversion();
        return fail(std::string("cannot create ") + part_name);
    }
    app.data_bytes_written = 0;
    bool ok = write_wav_header(app.capture_file_handle, &chosen) == 0;
    uint64_t frames = 0;
    const uint32_t buffer = app.record_buffer_bytes;
    while (ok) {
        uint32_t want = in.data_left < buffer ? uint32_t(in.data_left) : buffer;
        int32_t got = int32_t(read_pcm_input(&in, app.conversion_block, want));
        if (uint32_t(got) != want) {
            // A read error ends the input like its end.
            std::fprintf(stderr, "trackmill-batch encode: warning: %s could not be read past %u more bytes\n",
                         in_name, unsigned(got));
            in.data_left = 0;
        } else {
            in.data_left -= want;
        }
        frames += uint32_t(got) / in.format.fmt.block_align;
        if (uint32_t(got) == buffer) {
            ok = convert_and_append(stream);
            continue;
        }
        if (got > 0) {
            // The short last buffer: its whole blocks now, its tail below.
            app.conversion_header.src_length = uint32_t(got);
            ok = convert_and_append(stream);
            app.conversion_header.src_length = buffer;
        }
        break;
    }
    if (ok) {
        // The tail, which the stream makes up to a whole block with silence
        // (telling the codec which frames are sound), and what the encoder
        // still holds.
        uint32_t made = finish_conversion(stream);
        append_capture_data(app.conversion_output, made);
        ok = app.last_write_count == made;
    }
    bool write_failed = !ok;
    app.conversion_header.src_length = buffer;
    unsigned code = acm_stream_unprepare_header(stream, &app.conversion_header, 0);
    if (code) {
        acm_error("acmStreamUnprepareHeader", code);
        ok = false;
    }
    code = acm_stream_close(stream, 0);
    if (code) {
        acm_error("acmStreamClose", code);
        ok = false;
    }
    app.conversion_stream = nullptr;
    free_conversion_block();
    if (patch_wav_sizes(app.capture_file_handle, &chosen, app.data_bytes_written) != 0) {
        write_failed = true;
        ok = false;
    }
    if (plain_sync(app.capture_file_handle) != 0) {
        write_failed = true;   // the bytes did not reach the disk
        ok = false;
    }
    if (plain_close(app.capture_file_handle) != 0)
        ok = false;
    app.capture_file_handle = nullptr;
    if (boxes_shown)
        ok = false;   // a buffer that failed to convert is missing from the file
    if (ok && plain_rename(part_name.c_str(), out_name) != 0) {
        std::remove(part_name.c_str());
        return fail(std::string("cannot name the new file ") + out_name + ": " + std::strerror(errno));
    }
    if (!ok) {
        std::remove(part_name.c_str());   // no half-written file is left behind
        return fail(write_failed ? std::string("writing ") + out_name + " failed: the disk may be full; nothing was kept"
                                 : std::string("the conversion failed; nothing was kept"));
    }
    std::printf("%s: %s, %llu frames in, %u bytes of audio\n", out_name, spelling, (unsigned long long)frames,
                unsigned(app.data_bytes_written));
    return BATCH_DONE;
}
} // namespace

BATCH_COMMAND("encode", "encode IN.wav OUT.wav --format=SPELLING [--overwrite]",
              "convert a 16-bit PCM WAV file as a recording in that format would be", encode);
